#include "osc/core/OSCMessage.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

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
// Made once; one look-up per message.
struct BuiltInTags {
    std::array<const OSCValueDescriptor*, 128> table{};
    const OSCValueDescriptor* int32 = &oscValueDescriptor<std::int32_t>();
    const OSCValueDescriptor* float32 = &oscValueDescriptor<float>();
    const OSCValueDescriptor* string = &oscValueDescriptor<std::string>();
    const OSCValueDescriptor* blob = &oscValueDescriptor<Data>();

    BuiltInTags() {
        for (const OSCValueDescriptor* type : OSCSerialization::builtInTypes()) {
            for (const Character& c : type->tagIdentity.tagCharacters()) {
                if (c.text().size() != 1) continue;
                auto byte = static_cast<unsigned char>(c.text()[0]);
                if (byte < 0x80 && !table[byte]) table[byte] = type;
            }
        }
    }
    const OSCValueDescriptor* type(std::uint8_t tag) const {
        return tag < 0x80 ? table[tag] : nullptr;
    }
};

const BuiltInTags& builtInTags() {
    static const BuiltInTags tags;
    return tags;
}

// The cursor of decodeCommonMessage: the same reads as OSCValueDecoder, but a failure is only
// "no" (the general decoder then reports it), so nothing on this path builds an error text.
struct FastReader {
    DataView data;
    std::size_t pos = 0;

    std::size_t remaining() const { return data.size() - pos; }
    std::uint32_t word() const {
        const std::uint8_t* p = data.data() + pos;
        return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
               (std::uint32_t{p[2]} << 8) | p[3];
    }
    // The ASCII bytes before the chunk's NUL, its padding (which must be NUL) consumed. One pass
    // over 4-byte words: the chunk ends with the word that holds its first NUL.
    bool asciiChunk(DataView& out) {
        const std::uint8_t* begin = data.data() + pos;
        for (std::size_t at = 0; remaining() - at >= 4; at += 4) {
            std::uint32_t w;
            std::memcpy(&w, begin + at, 4);
            if (w & 0x80808080U) return false;
            // With no high bit set, this is non-zero exactly when some byte of w is zero.
            std::uint32_t zeros = (w - 0x01010101U) & 0x80808080U;
            if (zeros == 0) continue;
            std::size_t k = at;
            if constexpr (std::endian::native == std::endian::little) {
                // The lowest flagged byte is the first NUL; the bytes after it must be NUL too.
                unsigned nul = static_cast<unsigned>(std::countr_zero(zeros)) / 8;
                if ((std::uint64_t{w} >> (8 * (nul + 1))) != 0) return false;
                k += nul;
            } else {
                while (begin[k] != 0) ++k;
                for (std::size_t i = k + 1; i < at + 4; ++i)
                    if (begin[i] != 0) return false;
            }
            out = DataView(begin, k);
            pos += at + 4;
            return true;
        }
        return false;
    }
};

// Decodes a message whose tags are all one-byte built-in tags, reading exactly as the general
// decoder does, into `values` and a view of the address. Anything else (arrays, other tags,
// CR LF, any failure) gives false, and the general decoder then decides, with its exact error
// texts.
bool decodeCommonMessage(DataView data, std::string_view& addressOut,
                         std::vector<AnyOSCValue>& values) {
    if (data.size() % 4 != 0 || data.empty() || data[0] != '/') return false;
    const BuiltInTags& builtIn = builtInTags();
    FastReader in{data};
    DataView address, tags;
    if (!in.asciiChunk(address) || !in.asciiChunk(tags)) return false;
    values.reserve(tags.size());
    try {
        for (std::uint8_t tag : tags) {
            if (tag == ',') continue;
            const OSCValueDescriptor* type = builtIn.type(tag);
            if (!type) return false;
            if (type == builtIn.int32) {
                if (in.remaining() < 4) return false;
                values.emplace_back(static_cast<std::int32_t>(in.word()));
                in.pos += 4;
            } else if (type == builtIn.float32) {
                if (in.remaining() < 4) return false;
                values.emplace_back(std::bit_cast<float>(in.word()));
                in.pos += 4;
            } else if (type == builtIn.string) {
                DataView text;
                if (!in.asciiChunk(text)) return false;
                values.emplace_back(
                    std::string(reinterpret_cast<const char*>(text.data()), text.size()));
            } else if (type == builtIn.blob) {
                if (in.remaining() < 4) return false;
                auto length = static_cast<std::int32_t>(in.word());
                if (length < 0 || length > 65506) return false;
                auto n = static_cast<std::size_t>(length);
                std::size_t pad = blobPadCount(n);
                if (in.remaining() - 4 < n + pad) return false;
                const std::uint8_t* bytes = data.data() + in.pos + 4;
                for (std::size_t i = 0; i < pad; ++i)
                    if (bytes[n + i] != 0) return false;
                values.emplace_back(Data(bytes, bytes + n));
                in.pos += 4 + n + pad;
            } else {
                OSCValueDecoder decoder(data);
                decoder.pos = in.pos;
                if (type->decodeStatic)
                    values.push_back(type->decodeStatic(decoder));
                else if (type->decodeVariable)
                    values.push_back(
                        type->decodeVariable(Character(static_cast<char>(tag)), decoder));
                else
                    return false;
                in.pos = decoder.pos;
            }
        }
    } catch (const OSCDecodeError&) {
        return false;
    }
    addressOut = std::string_view(reinterpret_cast<const char*>(address.data()), address.size());
    return true;
}

// Strings and blobs up to this size take the direct path; larger ones go through the general
// encoder, which owns the length limits.
constexpr std::size_t kDirectPayloadLimit = 65536;

// Text that goes on the wire as it is: ASCII without NUL.
bool isWireReadyText(const std::string& text) {
    return isASCIIText(text) && !std::memchr(text.data(), 0, text.size());
}

// The value kinds the direct writer handles, by descriptor identity; a miss only means the
// general encoder is used.
enum class DirectKind : std::uint8_t {
    none,
    int32,
    float32,
    float64,
    int64,
    timeTag,
    midi,
    text,
    blob,
    bare
};

struct DirectTypes {
    const OSCValueDescriptor* int32 = &oscValueDescriptor<std::int32_t>();
    const OSCValueDescriptor* float32 = &oscValueDescriptor<float>();
    const OSCValueDescriptor* float64 = &oscValueDescriptor<double>();
    const OSCValueDescriptor* int64 = &oscValueDescriptor<std::int64_t>();
    const OSCValueDescriptor* timeTag = &oscValueDescriptor<OSCTimeTag>();
    const OSCValueDescriptor* midi = &oscValueDescriptor<OSCMIDIValue>();
    const OSCValueDescriptor* impulse = &oscValueDescriptor<OSCImpulseValue>();
    const OSCValueDescriptor* null = &oscValueDescriptor<OSCNullValue>();
    const OSCValueDescriptor* boolean = &oscValueDescriptor<bool>();
    const OSCValueDescriptor* string = &oscValueDescriptor<std::string>();
    const OSCValueDescriptor* stringAlt = &oscValueDescriptor<OSCStringAltValue>();
    const OSCValueDescriptor* blob = &oscValueDescriptor<Data>();
};

const DirectTypes& directTypes() {
    static const DirectTypes types;
    return types;
}

// The kind and tag of a value the direct writer handles (adding its payload size), or none.
DirectKind directKind(const AnyOSCValue& v, const DirectTypes& t, char& tag, std::size_t& payload) {
    const OSCValueDescriptor* type = &v.descriptor();
    const void* raw = v.rawValue();
    if (type == t.int32) {
        tag = 'i';
        payload += 4;
        return DirectKind::int32;
    }
    if (type == t.float32) {
        tag = 'f';
        payload += 4;
        return DirectKind::float32;
    }
    if (type == t.string || type == t.stringAlt) {
        const std::string& text = type == t.string
                                      ? *static_cast<const std::string*>(raw)
                                      : static_cast<const OSCStringAltValue*>(raw)->string;
        if (text.size() > kDirectPayloadLimit || !isWireReadyText(text)) return DirectKind::none;
        tag = type == t.string ? 's' : 'S';
        payload += text.size() + 4 - text.size() % 4;
        return DirectKind::text;
    }
    if (type == t.blob) {
        const Data& blob = *static_cast<const Data*>(raw);
        if (blob.size() > kDirectPayloadLimit) return DirectKind::none;
        tag = 'b';
        payload += 4 + blob.size() + blobPadCount(blob.size());
        return DirectKind::blob;
    }
    if (type == t.float64) {
        tag = 'd';
        payload += 8;
        return DirectKind::float64;
    }
    if (type == t.int64) {
        tag = 'h';
        payload += 8;
        return DirectKind::int64;
    }
    if (type == t.timeTag) {
        tag = 't';
        payload += 8;
        return DirectKind::timeTag;
    }
    if (type == t.midi) {
        tag = 'm';
        payload += 4;
        return DirectKind::midi;
    }
    if (type == t.impulse) {
        tag = 'I';
        return DirectKind::bare;
    }
    if (type == t.null) {
        tag = 'N';
        return DirectKind::bare;
    }
    if (type == t.boolean) {
        tag = *static_cast<const bool*>(raw) ? 'T' : 'F';
        return DirectKind::bare;
    }
    return DirectKind::none;
}

std::uint8_t* putBig32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
    return p + 4;
}

std::uint8_t* putBig64(std::uint8_t* p, std::uint64_t v) {
    p = putBig32(p, static_cast<std::uint32_t>(v >> 32));
    return putBig32(p, static_cast<std::uint32_t>(v));
}

std::uint8_t* putBytes(std::uint8_t* p, const void* bytes, std::size_t n) {
    if (n) std::memcpy(p, bytes, n);
    return p + n;
}

// Writes a message whose values are all of the plain built-in kinds straight into `out`, with
// the bytes the general encoder makes (ASCII text without NUL needs no conversion). False, with
// `out` untouched, when some value needs the general encoder.
bool appendCommonMessage(Data& out, std::string_view address, std::span<const AnyOSCValue> values) {
    constexpr std::size_t kLocalTags = 32;
    if (values.size() >= kLocalTags) return false;
    const DirectTypes& types = directTypes();
    std::array<char, kLocalTags> tags{};
    std::array<DirectKind, kLocalTags> kinds{};
    std::size_t payload = 0;
    tags[0] = ',';
    for (std::size_t i = 0; i < values.size(); ++i)
        if ((kinds[i] = directKind(values[i], types, tags[i + 1], payload)) == DirectKind::none)
            return false;
    std::size_t tagCount = values.size() + 1;
    std::size_t addressField = address.size() + 4 - address.size() % 4;
    std::size_t tagField = tagCount + 4 - tagCount % 4;
    std::size_t start = out.size();
    // Zero-filled, so every padding byte is already in place.
    out.resize(start + addressField + tagField + payload);
    std::uint8_t* p = out.data() + start;
    putBytes(p, address.data(), address.size());
    p += addressField;
    putBytes(p, tags.data(), tagCount);
    p += tagField;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const void* raw = values[i].rawValue();
        switch (kinds[i]) {
            case DirectKind::int32:
                p = putBig32(p, static_cast<std::uint32_t>(*static_cast<const std::int32_t*>(raw)));
                break;
            case DirectKind::float32:
                p = putBig32(p, std::bit_cast<std::uint32_t>(*static_cast<const float*>(raw)));
                break;
            case DirectKind::float64:
                p = putBig64(p, std::bit_cast<std::uint64_t>(*static_cast<const double*>(raw)));
                break;
            case DirectKind::int64:
                p = putBig64(p, static_cast<std::uint64_t>(*static_cast<const std::int64_t*>(raw)));
                break;
            case DirectKind::timeTag:
                p = putBig64(p, static_cast<const OSCTimeTag*>(raw)->rawValue());
                break;
            case DirectKind::midi: {
                const auto* m = static_cast<const OSCMIDIValue*>(raw);
                *p++ = m->portID;
                *p++ = m->status;
                *p++ = m->data1;
                *p++ = m->data2;
                break;
            }
            case DirectKind::blob: {
                const Data& b = *static_cast<const Data*>(raw);
                p = putBig32(p, static_cast<std::uint32_t>(b.size()));
                p = putBytes(p, b.data(), b.size()) + blobPadCount(b.size());
                break;
            }
            case DirectKind::text: {
                const std::string& text = tags[i + 1] == 's'
                                              ? *static_cast<const std::string*>(raw)
                                              : static_cast<const OSCStringAltValue*>(raw)->string;
                p = putBytes(p, text.data(), text.size()) + (4 - text.size() % 4);
                break;
            }
            case DirectKind::bare:
            case DirectKind::none:
                break;
        }
    }
    return true;
}

// The address pattern of the message bytes; the values go to `values`.
OSCAddressPattern decodeParts(DataView bytes, std::vector<AnyOSCValue>& values,
                              OSCAddressPattern::ASCIIKey ascii) {
    std::string_view address;
    if (decodeCommonMessage(bytes, address, values)) return OSCAddressPattern(ascii, address);
    values.clear();
    OSCDecodedMessage decoded = decodeMessageData(bytes);
    values = std::move(decoded.values);
    return OSCAddressPattern(std::move(decoded.addressPattern));
}

DataView partOf(const std::shared_ptr<const Data>& buffer, std::size_t offset, std::size_t size) {
    return DataView(buffer->data() + offset, size);
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
    return OSCMessage(DecodeKey(), std::move(buffer), offset, size);
}

// The caller has checked the part against the buffer.
OSCMessage::OSCMessage(DecodeKey, std::shared_ptr<const Data> buffer, std::size_t offset,
                       std::size_t size)
    : values_(),
      addressPattern_(
          decodeParts(partOf(buffer, offset, size), values_, OSCAddressPattern::ASCIIKey())),
      buffer_(std::move(buffer)),
      offset_(offset),
      size_(size) {}

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
    const std::string& address = addressPattern_.rawAddress();
    if (std::memchr(address.data(), 0, address.size()))
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
    return !data.empty() && data[0] == '/';
}

}  // namespace rozuri
