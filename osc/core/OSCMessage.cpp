#include "osc/core/OSCMessage.h"

#include <algorithm>
#include <array>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCEncodeError.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCMessageDecoding.h"
#include "osc/core/OSCMessageEncoder.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCSerialization.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCTimeTag.h"
#include "osc/core/TextUtilities.h"

namespace rozuri {

namespace {

// The types behind the one-byte tags of the built-in registry entries. They come first in the
// registry and a later type never displaces an earlier one, so for these tags the registry's
// answer is always this one; asking it per tag is the decoder's main cost.
const OSCValueDescriptor* builtInType(std::uint8_t tag) {
    static const std::array<const OSCValueDescriptor*, 128> table = [] {
        std::array<const OSCValueDescriptor*, 128> t{};
        for (const OSCValueDescriptor* type : OSCSerialization::builtInTypes()) {
            const OSCValueTagIdentity& identity = type->tagIdentity;
            std::vector<Character> tags = identity.tagCharacters();
            for (const Character& c : tags)
                if (c.text().size() == 1 && static_cast<unsigned char>(c.text()[0]) < 0x80 &&
                    !t[static_cast<unsigned char>(c.text()[0])])
                    t[static_cast<unsigned char>(c.text()[0])] = type;
        }
        return t;
    }();
    return tag < 0x80 ? table[tag] : nullptr;
}

bool allASCII(DataView bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
}

// Decodes a message whose tags are all one-byte built-in tags, reading exactly as the general
// decoder does. Anything else (arrays, other tags, CR LF, any failure) gives none, and the
// general decoder then decides, with its exact error texts.
std::optional<OSCDecodedMessage> decodeCommonMessage(DataView data) {
    if (data.size() % 4 != 0 || data.empty() || data[0] != '/') return std::nullopt;
    try {
        OSCValueDecoder decoder(data);
        DataView address = decoder.readNullTerminatedChunk();
        DataView tags = decoder.readNullTerminatedChunk();
        if (!allASCII(address) || !allASCII(tags)) return std::nullopt;
        OSCDecodedMessage message;
        message.addressPattern.assign(address.begin(), address.end());
        message.values.reserve(tags.size());
        for (std::uint8_t tag : tags) {
            if (tag == ',') continue;
            const OSCValueDescriptor* type = builtInType(tag);
            if (!type) return std::nullopt;
            if (type->decodeStatic)
                message.values.push_back(type->decodeStatic(decoder));
            else if (type->decodeVariable)
                message.values.push_back(
                    type->decodeVariable(Character(static_cast<char>(tag)), decoder));
            else
                return std::nullopt;
        }
        return message;
    } catch (const OSCDecodeError&) {
        return std::nullopt;
    }
}

// Strings and blobs up to this size take the direct path; larger ones go through the general
// encoder, which owns the length limits.
constexpr std::size_t kDirectPayloadLimit = 65536;

bool isPrintableASCII(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// Exact type test by descriptor identity; a miss only means the general encoder is used.
template <class T>
const T* exactly(const AnyOSCValue& v) {
    static const OSCValueDescriptor* const type = &oscValueDescriptor<T>();
    return &v.descriptor() == type ? static_cast<const T*>(v.rawValue()) : nullptr;
}

// The tag of a value the direct writer handles (adding its payload size), or 0.
char directTag(const AnyOSCValue& v, std::size_t& payload) {
    const OSCValueDescriptor* type = &v.descriptor();
    static const struct {
        const OSCValueDescriptor* type;
        char tag;
        std::size_t size;
    } fixed[] = {
        {&oscValueDescriptor<std::int32_t>(), 'i', 4},
        {&oscValueDescriptor<float>(), 'f', 4},
        {&oscValueDescriptor<double>(), 'd', 8},
        {&oscValueDescriptor<std::int64_t>(), 'h', 8},
        {&oscValueDescriptor<OSCTimeTag>(), 't', 8},
        {&oscValueDescriptor<OSCMIDIValue>(), 'm', 4},
        {&oscValueDescriptor<OSCImpulseValue>(), 'I', 0},
        {&oscValueDescriptor<OSCNullValue>(), 'N', 0},
    };
    for (const auto& f : fixed) {
        if (f.type != type) continue;
        payload += f.size;
        return f.tag;
    }
    if (const bool* b = exactly<bool>(v)) return *b ? 'T' : 'F';
    const std::string* text = exactly<std::string>(v);
    char tag = 's';
    if (const OSCStringAltValue* alt = exactly<OSCStringAltValue>(v)) {
        text = &alt->string;
        tag = 'S';
    }
    if (text) {
        if (text->size() > kDirectPayloadLimit || !isPrintableASCII(*text)) return 0;
        payload += text->size() + 4 - text->size() % 4;
        return tag;
    }
    if (const Data* blob = exactly<Data>(v)) {
        if (blob->size() > kDirectPayloadLimit) return 0;
        payload += 4 + blob->size() + blobPadCount(blob->size());
        return 'b';
    }
    return 0;
}

// Writes a message whose values are all of the plain built-in kinds straight into `out`, with
// the bytes the general encoder makes (printable text needs no conversion). False, with `out`
// untouched, when some value needs the general encoder.
bool appendCommonMessage(Data& out, std::string_view address, std::span<const AnyOSCValue> values) {
    constexpr std::size_t kLocalTags = 32;
    if (values.size() >= kLocalTags) return false;
    std::array<char, kLocalTags> tags{};
    std::size_t payload = 0;
    tags[0] = ',';
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!(tags[i + 1] = directTag(values[i], payload))) return false;
    std::size_t tagCount = values.size() + 1;
    out.reserve(out.size() + address.size() + 8 + tagCount + payload);
    out.insert(out.end(), address.begin(), address.end());
    out.insert(out.end(), 4 - address.size() % 4, std::uint8_t{0});
    out.insert(out.end(), tags.begin(), tags.begin() + static_cast<std::ptrdiff_t>(tagCount));
    out.insert(out.end(), 4 - tagCount % 4, std::uint8_t{0});
    constexpr auto big = NumberEndianness::bigEndian;
    for (const AnyOSCValue& v : values) {
        if (const auto* i = exactly<std::int32_t>(v)) {
            appendDataRepresentation(out, *i, big);
        } else if (const auto* f = exactly<float>(v)) {
            appendDataRepresentation(out, *f, big);
        } else if (const auto* d = exactly<double>(v)) {
            appendDataRepresentation(out, *d, big);
        } else if (const auto* h = exactly<std::int64_t>(v)) {
            appendDataRepresentation(out, *h, big);
        } else if (const auto* t = exactly<OSCTimeTag>(v)) {
            appendDataRepresentation(out, t->rawValue(), big);
        } else if (const auto* m = exactly<OSCMIDIValue>(v)) {
            out.insert(out.end(), {m->portID, m->status, m->data1, m->data2});
        } else if (const auto* b = exactly<Data>(v)) {
            appendDataRepresentation(out, static_cast<std::int32_t>(b->size()), big);
            out.insert(out.end(), b->begin(), b->end());
            out.insert(out.end(), blobPadCount(b->size()), std::uint8_t{0});
        } else {
            const std::string* text = exactly<std::string>(v);
            if (!text) {
                if (const auto* alt = exactly<OSCStringAltValue>(v)) text = &alt->string;
            }
            if (text) {
                out.insert(out.end(), text->begin(), text->end());
                out.insert(out.end(), 4 - text->size() % 4, std::uint8_t{0});
            }
        }
    }
    return true;
}

}  // namespace

OSCMessage OSCMessage::decode(DataView data) {
    return decode(std::make_shared<const Data>(data.begin(), data.end()));
}

OSCMessage OSCMessage::decode(std::shared_ptr<const Data> buffer) {
    std::size_t size = buffer ? buffer->size() : 0;
    return decode(std::move(buffer), 0, size);
}

OSCMessage OSCMessage::decode(std::shared_ptr<const Data> buffer, std::size_t offset,
                              std::size_t size) {
    if (!buffer) buffer = std::make_shared<const Data>();
    if (offset > buffer->size() || size > buffer->size() - offset) offset = size = 0;
    DataView bytes(buffer->data() + offset, size);
    std::optional<OSCDecodedMessage> common = decodeCommonMessage(bytes);
    OSCDecodedMessage decoded = common ? std::move(*common) : decodeMessageData(bytes);
    OSCMessage message(OSCAddressPattern(std::move(decoded.addressPattern)),
                       std::move(decoded.values));
    message.buffer_ = std::move(buffer);
    message.offset_ = offset;
    message.size_ = size;
    return message;
}

const Data& OSCMessage::header() {
    static const Data bytes{'/'};
    return bytes;
}

void OSCMessage::setAddressPattern(OSCAddressPattern pattern) {
    addressPattern_ = std::move(pattern);
    buffer_.reset();
}

void OSCMessage::setValues(std::vector<AnyOSCValue> values) {
    values_ = std::move(values);
    buffer_.reset();
}

std::vector<AnyOSCValue>& OSCMessage::mutableValues() {
    buffer_.reset();
    return values_;
}

std::optional<DataView> OSCMessage::rawData() const {
    if (!buffer_) return std::nullopt;
    return DataView(buffer_->data() + offset_, size_);
}

void OSCMessage::appendEncodedData(Data& out) const {
    if (buffer_) {
        out.insert(out.end(), buffer_->begin() + static_cast<std::ptrdiff_t>(offset_),
                   buffer_->begin() + static_cast<std::ptrdiff_t>(offset_ + size_));
        return;
    }
    // A NUL would end the address field early: a receiver would read another message.
    if (addressPattern_.rawAddress().find('\0') != std::string::npos)
        throw OSCEncodeError::general("Address pattern contains a NUL character.");
    if (appendCommonMessage(out, addressPattern_.rawAddress(), values_)) return;
    Data bytes = encodeMessageData(addressPattern_.rawData(), values_);
    if (out.empty())
        out = std::move(bytes);
    else
        out.insert(out.end(), bytes.begin(), bytes.end());
}

Data OSCMessage::encodedData() const {
    Data out;
    appendEncodedData(out);
    return out;
}

bool operator==(const OSCMessage& a, const OSCMessage& b) {
    return a.addressPattern_.rawAddress() == b.addressPattern_.rawAddress() &&
           valueArraysEqual(a.values_, b.values_);
}

std::size_t OSCMessage::hash() const {
    std::size_t h = std::hash<std::string>{}(addressPattern_.rawAddress());
    return h ^ (hashValues(values_) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
}

std::string OSCMessage::description() const {
    std::string text = "OSCMessage(" + quoted(addressPattern_.rawAddress());
    if (!values_.empty()) {
        text += ", values: [";
        for (std::size_t i = 0; i < values_.size(); ++i) {
            if (i) text += ", ";
            text += values_[i].debugDescription();
        }
        text += "]";
    }
    return text + ")";
}

std::string OSCMessage::multilineDescription() const {
    if (values_.empty()) return description();
    std::string lines;
    for (std::size_t i = 0; i < values_.size(); ++i) {
        if (i) lines += "\n  ";
        lines += std::string(values_[i].typeName()) + ": " + values_[i].description();
    }
    return "OSCMessage(" + quoted(addressPattern_.rawAddress()) + ") with values:\n  " +
           trimmingWhitespaceAndNewlines(lines);
}

bool isOSCMessage(DataView data) {
    return dataHasPrefix(data, OSCMessage::header());
}

}  // namespace rozuri
