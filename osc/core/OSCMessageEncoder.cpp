#include "osc/core/OSCMessageEncoder.h"

#include "osc/core/OSCValueDecoder.h"

namespace rozuri {

OSCMessageEncoder::OSCMessageEncoder(DataView addressRawData)
    : builderAddress(addressRawData.begin(), addressRawData.end()),
      builderTags{ASCIICharacter::lossyASCIICharacter(Character(','))} {
    padToFourBytes(builderAddress);
    builderValuesChunk.reserve(1000);
}

OSCMessageEncoder::OSCMessageEncoder(DataView addressRawData, std::span<const AnyOSCValue> values)
    : OSCMessageEncoder(addressRawData) {
    builderTags.reserve(values.size() + 1);
    for (const auto& v : values) encodeValue(v, builderTags, builderValuesChunk);
}

namespace {

thread_local std::size_t encodeNestingDepth = 0;

struct EncodeNestingScope {
    EncodeNestingScope() {
        if (encodeNestingDepth >= kMaxValueNestingDepth)
            throw OSCEncodeError::general("Array nesting is too deep.");
        ++encodeNestingDepth;
    }
    ~EncodeNestingScope() { --encodeNestingDepth; }
    EncodeNestingScope(const EncodeNestingScope&) = delete;
    EncodeNestingScope& operator=(const EncodeNestingScope&) = delete;
};

void appendTag(std::vector<ASCIICharacter>& tags, const Character& tag) {
    tags.push_back(ASCIICharacter::lossyASCIICharacter(tag));
}

void appendData(Data& chunk, const std::optional<Data>& data) {
    if (data) chunk.insert(chunk.end(), data->begin(), data->end());
}

}  // namespace

void encodeValue(const AnyOSCValue& value, std::vector<ASCIICharacter>& tags, Data& chunk) {
    const OSCValueDescriptor& type = value.descriptor();
    try {
        switch (type.encoderKind) {
            case OSCCoderBlockKind::staticTag:
            case OSCCoderBlockKind::variableTag: {
                OSCEncodedTag encoded = type.encodeTag(value.rawValue());
                appendTag(tags, encoded.tag);
                appendData(chunk, encoded.data);
                return;
            }
            case OSCCoderBlockKind::variadicTag: {
                EncodeNestingScope scope;
                OSCEncodedTags encoded = type.encodeTags(value.rawValue());
                for (const auto& t : encoded.tags) appendTag(tags, t);
                appendData(chunk, encoded.data);
                return;
            }
            case OSCCoderBlockKind::foreign:
                break;
        }
    } catch (const OSCEncodeError&) {
        throw;
    } catch (const std::exception& e) {
        // A user type's encoder: only OSCEncodeError leaves an encode.
        throw OSCEncodeError::valueEncodingError(e.what());
    }
    throw OSCEncodeError::internalInconsistency(
        "Unexpected encoder: " + std::string(type.name) +
        ".Type. Only encoder types supplied by ROZUri can be used.");
}

Data assembleMessageData(const OSCMessageEncoder& encoder) {
    Data out;
    out.reserve(std::max<std::size_t>(1000, encoder.builderAddress.size() +
                                                encoder.builderTags.size() + 4 +
                                                encoder.builderValuesChunk.size()));
    out.insert(out.end(), encoder.builderAddress.begin(), encoder.builderAddress.end());
    std::size_t tagStart = out.size();
    for (const auto& t : encoder.builderTags) out.push_back(t.asciiValue());
    out.insert(out.end(), 4 - (out.size() - tagStart) % 4, std::uint8_t{0});
    out.insert(out.end(), encoder.builderValuesChunk.begin(), encoder.builderValuesChunk.end());
    return out;
}

Data encodeMessageData(DataView addressRawData, std::span<const AnyOSCValue> values) {
    return assembleMessageData(OSCMessageEncoder(addressRawData, values));
}

}  // namespace rozuri
