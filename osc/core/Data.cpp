#include "osc/core/Data.h"

#include "platform/foundation/TextTransforms.h"

namespace rozuri {

NumberEndianness systemEndianness() {
    static const NumberEndianness order = std::endian::native == std::endian::big
                                              ? NumberEndianness::bigEndian
                                              : NumberEndianness::littleEndian;
    return order;
}

namespace {
template <class F, class U>
U floatBits(F value, NumberEndianness endianness) {
    U bits;
    std::memcpy(&bits, &value, sizeof bits);
    return detail::toOrder(bits, endianness);
}
template <class F, class U>
std::optional<F> floatFromBytes(DataView bytes, NumberEndianness endianness) {
    auto bits = integerValue<U>(bytes, endianness);
    if (!bits) return std::nullopt;
    F value;
    std::memcpy(&value, &*bits, sizeof value);
    return value;
}
}  // namespace

Data dataRepresentation(float value, NumberEndianness endianness) {
    Data out;
    appendDataRepresentation(out, value, endianness);
    return out;
}
Data dataRepresentation(double value, NumberEndianness endianness) {
    Data out;
    appendDataRepresentation(out, value, endianness);
    return out;
}
void appendDataRepresentation(Data& out, float value, NumberEndianness endianness) {
    detail::appendBytes(out, floatBits<float, std::uint32_t>(value, endianness));
}
void appendDataRepresentation(Data& out, double value, NumberEndianness endianness) {
    detail::appendBytes(out, floatBits<double, std::uint64_t>(value, endianness));
}

std::optional<float> float32Value(DataView bytes, NumberEndianness endianness) {
    return floatFromBytes<float, std::uint32_t>(bytes, endianness);
}
std::optional<double> doubleValue(DataView bytes, NumberEndianness endianness) {
    return floatFromBytes<double, std::uint64_t>(bytes, endianness);
}

std::optional<Data> dataUsingEncoding(std::string_view text, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::ascii:
            return foundation::encodeASCII(text);
        case TextEncoding::nonLossyASCII:
            return foundation::encodeNonLossyASCII(text);
        case TextEncoding::utf8: {
            DataView bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
            if (!foundation::isValidUTF8(bytes)) return std::nullopt;
            return Data(bytes.begin(), bytes.end());
        }
    }
    return std::nullopt;
}

std::optional<std::string> stringFromData(DataView bytes, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::ascii:
            return foundation::decodeASCII(bytes);
        case TextEncoding::nonLossyASCII:
            return foundation::decodeNonLossyASCII(bytes);
        case TextEncoding::utf8:
            if (!foundation::isValidUTF8(bytes)) return std::nullopt;
            return std::string(bytes.begin(), bytes.end());
    }
    return std::nullopt;
}

std::vector<std::uint8_t> byteArray(DataView bytes) {
    return {bytes.begin(), bytes.end()};
}

}  // namespace rozuri
