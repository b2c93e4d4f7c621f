#include "osc/core/OSCMessageDecoding.h"

#include <array>

#include "osc/core/OSCSerialization.h"
#include "osc/core/TextUtilities.h"
#include "platform/foundation/TextTransforms.h"

namespace rozuri {

std::vector<Character> tagCharacters(std::string_view tagString) {
    std::vector<Character> tags;
    tags.reserve(tagString.size());
    if (isASCIIText(tagString)) {
        for (std::size_t i = 0; i < tagString.size(); ++i) {
            if (tagString[i] == '\r' && i + 1 < tagString.size() && tagString[i + 1] == '\n') {
                tags.push_back(*Character::fromText("\r\n"));
                ++i;
            } else {
                tags.push_back(Character(tagString[i]));
            }
        }
        return tags;
    }
    for (std::string_view c : foundation::graphemeClusters(tagString))
        tags.push_back(*Character::fromText(c));
    return tags;
}

OSCDecodedMessage decodeMessageData(DataView data) {
    if (data.size() % 4 != 0) throw OSCDecodeError::malformed("Length not a multiple of 4 bytes.");
    if (data.empty() || data[0] != '/')
        throw OSCDecodeError::malformed("Does not start with an address pattern.");
    OSCValueDecoder decoder(data, OSCSerialization::shared());
    OSCDecodedMessage message;
    try {
        message.addressPattern = decoder.readASCIIString();
    } catch (const OSCDecodeError&) {
        throw OSCDecodeError::malformed("Address pattern string could not be parsed.");
    }
    std::string tagString;
    try {
        tagString = decoder.readASCIIString();
    } catch (const OSCDecodeError&) {
        throw OSCDecodeError::malformed("Couldn't extract OSC-type chunk.");
    }
    std::vector<Character> tags = tagCharacters(tagString);
    message.values.reserve(tags.size());
    std::size_t index = 0;
    while (index < tags.size()) {
        const Character& tag = tags[index];
        if (tag.isASCIIByte(',') || tag.isASCIIByte('\0')) {
            ++index;
            continue;
        }
        index += decodeValue(tag, index, tags, message.values, decoder);
    }
    return message;
}

std::size_t decodeValue(const Character& tag, std::size_t index, std::span<const Character> tags,
                        std::vector<AnyOSCValue>& values, OSCValueDecoder& decoder) {
    std::array<const OSCValueDescriptor*, 8> local{};
    std::vector<const OSCValueDescriptor*> spill;
    const auto& registry = *OSCSerialization::shared();
    std::span<const OSCValueDescriptor*> candidates(local);
    std::size_t count = registry.concreteTypes(tag, candidates);
    if (count > local.size()) {
        registry.concreteTypes(tag, spill);
        candidates = spill;
    } else {
        candidates = candidates.first(count);
    }
    if (candidates.empty())
        throw OSCDecodeError::malformed("No concrete type found to decode OSC type tag: " +
                                        tag.text());
    std::span<const Character> rest =
        index < tags.size() ? tags.subspan(index) : std::span<const Character>();
    for (const OSCValueDescriptor* type : candidates) {
        auto result = decodeWithBlock(*type, tag, rest, decoder);
        if (result) {
            values.push_back(std::move(result->value));
            return result->tagCount;
        }
    }
    throw OSCDecodeError::internalInconsistency(
        "No decoder found to decode OSC type tag: " + tag.text() +
        ". Only decoder types supplied by ROZUri can be used.");
}

std::optional<OSCDecodedRun<AnyOSCValue>> decodeWithBlock(const OSCValueDescriptor& type,
                                                          const Character& tag,
                                                          std::span<const Character> tags,
                                                          OSCValueDecoder& decoder) {
    try {
        switch (type.decoderKind) {
            case OSCCoderBlockKind::staticTag:
                return OSCDecodedRun<AnyOSCValue>{1, type.decodeStatic(decoder)};
            case OSCCoderBlockKind::variableTag:
                return OSCDecodedRun<AnyOSCValue>{1, type.decodeVariable(tag, decoder)};
            case OSCCoderBlockKind::variadicTag: {
                auto run = type.decodeVariadic(tags, decoder);
                // A run must consume its own tag at least, or the caller would never end.
                if (run && (run->tagCount == 0 || run->tagCount > tags.size()))
                    throw OSCDecodeError::internalInconsistency(
                        "Decoder for " + std::string(type.name) +
                        " consumed an invalid number of tags.");
                return run;
            }
            case OSCCoderBlockKind::foreign:
                break;
        }
    } catch (const OSCDecodeError&) {
        throw;
    } catch (const std::exception& e) {
        // A user type's decoder: only OSCDecodeError leaves a decode.
        throw OSCDecodeError::valueDecodingError(e.what());
    }
    throw OSCDecodeError::malformed("No decoder is implemented for OSC type tag: " + tag.text());
}

}  // namespace rozuri
