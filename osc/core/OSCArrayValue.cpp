#include "osc/core/OSCArrayValue.h"

#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCMessageDecoding.h"
#include "osc/core/OSCMessageEncoder.h"
#include "osc/core/OSCValueDecoder.h"

namespace rozuri {

namespace {

OSCEncodedTags encodeArray(const OSCArrayValue& array) {
    std::vector<ASCIICharacter> tags;
    tags.reserve(array.elements.size() + 2);
    tags.emplace_back('[');
    Data payload;
    for (const AnyOSCValue& element : array.elements) encodeValue(element, tags, payload);
    tags.emplace_back(']');
    OSCEncodedTags encoded;
    encoded.tags.reserve(tags.size());
    for (const ASCIICharacter& t : tags) encoded.tags.push_back(t.characterValue());
    encoded.data = std::move(payload);
    return encoded;
}

// Keeps the decoder's nesting count right whatever way the element loop ends.
struct NestingGuard {
    explicit NestingGuard(OSCValueDecoder& d) : decoder(d) {
        if (++decoder.nestingDepth > kMaxValueNestingDepth) {
            --decoder.nestingDepth;
            throw OSCDecodeError::malformed("Array nesting is too deep.");
        }
    }
    ~NestingGuard() { --decoder.nestingDepth; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
    OSCValueDecoder& decoder;
};

std::optional<OSCDecodedRun<OSCArrayValue>> decodeArray(std::span<const Character> tags,
                                                        OSCValueDecoder& decoder) {
    if (tags.empty() || !tags[0].isASCIIByte('[')) return std::nullopt;
    NestingGuard guard(decoder);
    std::span<const Character> run = tags.subspan(1);
    std::vector<AnyOSCValue> elements;
    std::size_t index = 0;
    while (index < run.size()) {
        if (run[index].isASCIIByte(']'))
            return OSCDecodedRun<OSCArrayValue>{index + 2, OSCArrayValue(std::move(elements))};
        index += decodeValue(run[index], index, run, elements, decoder);
    }
    throw OSCDecodeError::malformed("Array termination tag ']' was not found.");
}

}  // namespace

OSCValueVariadicTagEncoder<OSCArrayValue> OSCValueTraits<OSCArrayValue>::oscEncoding() {
    return {&encodeArray};
}

OSCValueVariadicTagDecoder<OSCArrayValue> OSCValueTraits<OSCArrayValue>::oscDecoding() {
    return {&decodeArray};
}

std::size_t OSCValueTraits<OSCArrayValue>::hash(const OSCArrayValue& v) {
    return hashValues(v.elements);
}

std::string OSCArrayValue::description() const {
    std::string text = "[";
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (i) text += ", ";
        text += elements[i].debugDescription();
    }
    return text + "]";
}

}  // namespace rozuri
