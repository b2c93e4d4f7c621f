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
#include "osc/core/OSCWireWriter.h"
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
bool decodeCommonMessage(DataView data, std::string_view& addressOut, OSCValueList& values) {
    if (data.size() % 4 != 0 || data.empty() || data[0] != '/') return false;
    const BuiltInTags& builtIn = builtInTags();
    FastReader in{data};
    DataView address, tags;
    if (!in.asciiChunk(address) || !in.asciiChunk(tags)) return false;
    // The tags but their leading ',': a list of a few values stays inline.
    values.reserve(tags.size() - (!tags.empty() && tags[0] == ','));
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

// The value in wire form, when it is of a plain built-in kind the direct writer handles; false
// only means the general encoder is used.
bool wireArgument(const AnyOSCValue& v, const DirectTypes& t, OSCWireArgument& out) {
    const OSCValueDescriptor* type = &v.descriptor();
    const void* raw = v.rawValue();
    if (type == t.int32) {
        out = wireArgumentOf(*static_cast<const std::int32_t*>(raw));
    } else if (type == t.float32) {
        out = wireArgumentOf(*static_cast<const float*>(raw));
    } else if (type == t.string || type == t.stringAlt) {
        bool plain = type == t.string;
        const std::string& text = plain ? *static_cast<const std::string*>(raw)
                                        : static_cast<const OSCStringAltValue*>(raw)->string;
        if (!isWireReadyText(text)) return false;
        out = OSCWireArgument::text(plain ? 's' : 'S', text);
    } else if (type == t.blob) {
        const Data& blob = *static_cast<const Data*>(raw);
        if (blob.size() > kWirePayloadLimit) return false;
        out = OSCWireArgument::blob(blob);
    } else if (type == t.float64) {
        out = wireArgumentOf(*static_cast<const double*>(raw));
    } else if (type == t.int64) {
        out = wireArgumentOf(*static_cast<const std::int64_t*>(raw));
    } else if (type == t.timeTag) {
        out = wireArgumentOf(*static_cast<const OSCTimeTag*>(raw));
    } else if (type == t.midi) {
        out = wireArgumentOf(*static_cast<const OSCMIDIValue*>(raw));
    } else if (type == t.impulse) {
        out = OSCWireArgument::bare('I');
    } else if (type == t.null) {
        out = OSCWireArgument::bare('N');
    } else if (type == t.boolean) {
        out = wireArgumentOf(*static_cast<const bool*>(raw));
    } else {
        return false;
    }
    return true;
}

// Writes a message whose values are all of the plain built-in kinds straight into `out`, with
// the bytes the general encoder makes (ASCII text without NUL needs no conversion). False, with
// `out` untouched, when some value needs the general encoder.
bool appendCommonMessage(Data& out, std::string_view address, std::span<const AnyOSCValue> values) {
    if (values.size() > kWireArgumentLimit) return false;
    const DirectTypes& types = directTypes();
    std::array<OSCWireArgument, kWireArgumentLimit> arguments;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (!wireArgument(values[i], types, arguments[i])) return false;
    appendWireMessage(out, address, std::span(arguments).first(values.size()));
    return true;
}

// The address pattern of the message bytes; the values go to `values`.
OSCAddressPattern decodeParts(DataView bytes, OSCValueList& values,
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

void OSCMessage::setValues(OSCValueList values) {
    values_ = std::move(values);
    buffer_.reset();
}

OSCValueList& OSCMessage::mutableValues() {
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
