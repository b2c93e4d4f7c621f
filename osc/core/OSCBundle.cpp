#include "osc/core/OSCBundle.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCEncodeError.h"
#include "osc/core/TextUtilities.h"

namespace rozuri {

OSCBundle::OSCBundle() = default;
OSCBundle::OSCBundle(std::optional<OSCTimeTag> timeTag)
    : timeTag_(timeTag.value_or(OSCTimeTag::immediate())) {}
OSCBundle::OSCBundle(std::optional<OSCTimeTag> timeTag, std::vector<OSCPacket> elements)
    : timeTag_(timeTag.value_or(OSCTimeTag::immediate())), elements_(std::move(elements)) {}
OSCBundle::OSCBundle(const OSCBundle&) = default;
OSCBundle::OSCBundle(OSCBundle&&) noexcept = default;
OSCBundle& OSCBundle::operator=(const OSCBundle&) = default;
OSCBundle& OSCBundle::operator=(OSCBundle&&) noexcept = default;
OSCBundle::~OSCBundle() = default;

const Data& OSCBundle::header() {
    static const Data bytes{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0};
    return bytes;
}

bool isOSCBundle(DataView data) {
    // "#bundle" and its NUL; asked of every packet and bundle element.
    return data.size() >= 8 && std::memcmp(data.data(), "#bundle", 8) == 0;
}

// Decodes one bundle and its nested bundles, all as views into one shared buffer.
class BundleDecoder {
    // How many elements the size fields describe, to size the list once; a guess only, the
    // checks come in the decoding loop.
    static std::size_t countElements(DataView data) {
        std::size_t count = 0;
        for (std::size_t pos = 16; data.size() - pos >= 4 && count < 4096; ++count) {
            std::size_t n = (std::size_t{data[pos]} << 24) | (std::size_t{data[pos + 1]} << 16) |
                            (std::size_t{data[pos + 2]} << 8) | data[pos + 3];
            if (n > data.size() - pos - 4) break;
            pos += 4 + n;
        }
        return count;
    }

  public:
    static OSCBundle decode(const std::shared_ptr<const Data>& buffer, std::size_t offset,
                            std::size_t size, std::size_t depth) {
        DataView data(buffer->data() + offset, size);
        if (size < 16)
            throw OSCDecodeError::malformed("Data length too short. (Length is " +
                                            std::to_string(size) + ")");
        if (!isOSCBundle(data))
            throw OSCDecodeError::malformed("Bundle header is not present or is malformed.");
        std::optional<std::uint64_t> raw =
            uint64Value(data.subspan(8, 8), NumberEndianness::bigEndian);
        if (!raw) throw OSCDecodeError::malformed("Could not convert timetag to UInt64.");

        OSCBundle bundle;
        bundle.timeTag_ = OSCTimeTag(*raw, 0);
        bundle.elements_.reserve(countElements(data));
        std::size_t pos = 16;
        while (pos < size) {
            if (size - pos < 4)
                throw OSCDecodeError::malformed("Data bytes ended earlier than expected.");
            std::optional<std::int32_t> elementSize =
                int32Value(data.subspan(pos, 4), NumberEndianness::bigEndian);
            if (!elementSize)
                throw OSCDecodeError::malformed("Could not convert element size to Int32.");
            if (*elementSize < 0)
                throw OSCDecodeError::malformed("Bundle element size is negative.");
            pos += 4;
            auto length = static_cast<std::size_t>(*elementSize);
            if (length > size - pos)
                throw OSCDecodeError::malformed("Data bytes ended earlier than expected.");
            DataView element = data.subspan(pos, length);
            if (isOSCBundle(element)) {
                if (depth + 1 > OSCBundle::maxNestingDepth)
                    throw OSCDecodeError::malformed("Bundle nesting is too deep.");
                bundle.elements_.emplace_back(decode(buffer, offset + pos, length, depth + 1));
            } else if (isOSCMessage(element)) {
                bundle.elements_.emplace_back(std::in_place_type<OSCMessage>,
                                              OSCMessage::DecodeKey(), buffer, offset + pos,
                                              length);
            } else {
                throw OSCDecodeError::malformed("Unrecognized bundle element encountered.");
            }
            pos += length;
        }
        // The outermost bundle takes its caller's reference instead (OSCBundle::decode).
        if (depth > 1) bundle.buffer_ = buffer;
        bundle.offset_ = offset;
        bundle.size_ = size;
        return bundle;
    }
};

OSCBundle OSCBundle::decode(DataView data) {
    return decode(std::make_shared<const Data>(data.begin(), data.end()));
}

OSCBundle OSCBundle::decode(std::shared_ptr<const Data> buffer) {
    std::size_t size = buffer ? buffer->size() : 0;
    return decode(std::move(buffer), 0, size);
}

OSCBundle OSCBundle::decode(std::shared_ptr<const Data> buffer, std::size_t offset,
                            std::size_t size) {
    if (!buffer) buffer = std::make_shared<const Data>();
    if (offset > buffer->size() || size > buffer->size() - offset) offset = size = 0;
    OSCBundle bundle = BundleDecoder::decode(buffer, offset, size, 1);
    bundle.buffer_ = std::move(buffer);
    return bundle;
}

void OSCBundle::setTimeTag(OSCTimeTag timeTag) {
    timeTag_ = timeTag;
    buffer_.reset();
}

void OSCBundle::setElements(std::vector<OSCPacket> elements) {
    elements_ = std::move(elements);
    buffer_.reset();
}

std::vector<OSCPacket>& OSCBundle::mutableElements() {
    buffer_.reset();
    return elements_;
}

std::optional<DataView> OSCBundle::rawData() const {
    if (!buffer_) return std::nullopt;
    return DataView(buffer_->data() + offset_, size_);
}

void OSCBundle::appendEncodedData(Data& out) const {
    if (buffer_) {
        DataView raw(buffer_->data() + offset_, size_);
        out.insert(out.end(), raw.begin(), raw.end());
        return;
    }
    const Data& head = header();
    out.insert(out.end(), head.begin(), head.end());
    appendDataRepresentation(out, timeTag_.rawValue(), NumberEndianness::bigEndian);
    for (const OSCPacket& element : elements_) {
        std::size_t sizeAt = out.size();
        out.resize(sizeAt + 4);
        element.appendEncodedData(out);
        std::size_t length = out.size() - sizeAt - 4;
        if (length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
            throw OSCEncodeError::general("Bundle element is too large for its size field.");
        std::uint8_t* field = out.data() + sizeAt;
        field[0] = static_cast<std::uint8_t>(length >> 24);
        field[1] = static_cast<std::uint8_t>(length >> 16);
        field[2] = static_cast<std::uint8_t>(length >> 8);
        field[3] = static_cast<std::uint8_t>(length);
    }
}

Data OSCBundle::encodedData() const {
    Data out;
    // Room for a typical bundle of small messages; larger ones grow as usual.
    if (!buffer_) out.reserve(512);
    appendEncodedData(out);
    return out;
}

std::vector<OSCMessage> OSCBundle::flattened() const {
    std::vector<OSCMessage> messages;
    // Depth first without recursion: a stack of (bundle, next element index).
    std::vector<std::pair<const OSCBundle*, std::size_t>> stack{{this, 0}};
    while (!stack.empty()) {
        auto& [bundle, index] = stack.back();
        if (index == bundle->elements_.size()) {
            stack.pop_back();
            continue;
        }
        const OSCPacket& element = bundle->elements_[index++];
        if (const OSCMessage* m = element.asMessage())
            messages.push_back(*m);
        else
            stack.emplace_back(element.asBundle(), 0);
    }
    return messages;
}

namespace {

std::size_t combine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

std::string timeTagText(const OSCTimeTag& tag) {
    return tag.isImmediate() ? std::string() : "timeTag: " + tag.description();
}

}  // namespace

std::size_t OSCBundle::hash() const {
    std::size_t h = std::hash<std::int64_t>{}(timeTag_.era());
    h = combine(h, std::hash<std::uint64_t>{}(timeTag_.rawValue()));
    h = combine(h, elements_.size());
    for (const OSCPacket& element : elements_) h = combine(h, element.hash());
    if (std::optional<DataView> raw = rawData()) {
        h = combine(h, 1);
        h = combine(h, std::hash<std::string_view>{}(std::string_view(
                           reinterpret_cast<const char*>(raw->data()), raw->size())));
    } else {
        h = combine(h, 0);
    }
    return h;
}

bool operator==(const OSCBundle& a, const OSCBundle& b) {
    if (!(a.timeTag_ == b.timeTag_) || a.elements_ != b.elements_) return false;
    std::optional<DataView> ra = a.rawData(), rb = b.rawData();
    if (ra.has_value() != rb.has_value()) return false;
    return !ra || std::equal(ra->begin(), ra->end(), rb->begin(), rb->end());
}

std::string OSCBundle::description() const {
    std::string tag = timeTagText(timeTag_);
    if (elements_.empty()) return "OSCBundle(" + tag + ")";
    std::string text = "OSCBundle(" + tag + (tag.empty() ? "" : ", ") + "elements: [";
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (i) text += ", ";
        text += elements_[i].description();
    }
    return text + "])";
}

std::string OSCBundle::multilineDescription() const {
    if (elements_.empty()) return description();
    std::string text = "OSCBundle(" + timeTagText(timeTag_) + ") with elements:\n  ";
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (i) text += "\n  ";
        text += elements_[i].description();
    }
    return trimmingWhitespaceAndNewlines(text);
}

}  // namespace rozuri
