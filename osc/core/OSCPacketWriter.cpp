#include "osc/core/OSCPacketWriter.h"

#include <limits>

#include "osc/core/OSCEncodeError.h"
#include "osc/core/OSCMessage.h"

namespace rozuri {

void OSCPacketWriter::putSizeField(std::uint8_t* field, std::size_t length) {
    if (length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw OSCEncodeError::general("Bundle element is too large for its size field.");
    field[0] = static_cast<std::uint8_t>(length >> 24);
    field[1] = static_cast<std::uint8_t>(length >> 16);
    field[2] = static_cast<std::uint8_t>(length >> 8);
    field[3] = static_cast<std::uint8_t>(length);
}

void OSCPacketWriter::appendGeneral(std::string_view address,
                                    std::initializer_list<AnyOSCValue> values) {
    OSCMessage(address, values).appendEncodedData(out_);
}

OSCPacketWriter& OSCPacketWriter::beginBundle(std::optional<OSCTimeTag> timeTag) {
    if (depth_ == sizeFields_.size()) throw OSCEncodeError::general("Bundle nesting is too deep.");
    std::size_t start = beginElement();
    const Data& head = OSCBundle::header();
    out_.insert(out_.end(), head.begin(), head.end());
    appendDataRepresentation(out_, timeTag.value_or(OSCTimeTag::immediate()).rawValue(),
                             NumberEndianness::bigEndian);
    sizeFields_[depth_] = depth_ > 0 ? start : noSizeField;
    ++depth_;
    return *this;
}

OSCPacketWriter& OSCPacketWriter::endBundle() {
    if (depth_ == 0) throw OSCEncodeError::general("No bundle is open.");
    std::size_t field = sizeFields_[--depth_];
    if (field != noSizeField) putSizeField(out_.data() + field, out_.size() - field - 4);
    return *this;
}

}  // namespace rozuri
