#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "osc/core/Data.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCTimeTag.h"

namespace rozuri {

class OSCPacket;

// An OSC bundle: a time tag and an ordered list of packets (messages or bundles).
//
// Layout: "#bundle" NUL, the 8-byte time tag, then per element a signed 32-bit big-endian size
// and that many bytes. A decoded bundle keeps its bytes (a view into the one datagram buffer
// shared by every nesting level) and re-encodes to exactly them while it is unchanged; setting
// the time tag or the elements drops them.
class OSCBundle {
  public:
    // Deepest nesting of bundles that decoding accepts.
    static constexpr std::size_t maxNestingDepth = 64;

    // No time tag means immediate.
    OSCBundle();
    explicit OSCBundle(std::optional<OSCTimeTag> timeTag);
    OSCBundle(std::optional<OSCTimeTag> timeTag, std::vector<OSCPacket> elements);
    OSCBundle(const OSCBundle&);
    OSCBundle(OSCBundle&&) noexcept;
    OSCBundle& operator=(const OSCBundle&);
    OSCBundle& operator=(OSCBundle&&) noexcept;
    ~OSCBundle();

    // Throws OSCDecodeError. The first form copies the bytes once; the others keep the buffer.
    static OSCBundle decode(DataView data);
    static OSCBundle decode(std::shared_ptr<const Data> buffer);
    static OSCBundle decode(std::shared_ptr<const Data> buffer, std::size_t offset,
                            std::size_t size);

    // "#bundle" and one NUL.
    static const Data& header();

    const OSCTimeTag& timeTag() const { return timeTag_; }
    void setTimeTag(OSCTimeTag timeTag);
    const std::vector<OSCPacket>& elements() const { return elements_; }
    void setElements(std::vector<OSCPacket> elements);
    // Write access to the elements; drops the cached bytes.
    std::vector<OSCPacket>& mutableElements();

    std::optional<DataView> rawData() const;

    // Throws OSCEncodeError (from a message element, or an element of 2^31 bytes or more).
    Data encodedData() const;
    void appendEncodedData(Data& out) const;

    // Every message, depth first, in element order.
    std::vector<OSCMessage> flattened() const;

    std::size_t hash() const;
    std::string description() const;
    std::string multilineDescription() const;

    // Equal time tags (era and raw value), equal elements, and equal cached bytes: a decoded
    // bundle never equals one built in code.
    friend bool operator==(const OSCBundle& a, const OSCBundle& b);

  private:
    OSCTimeTag timeTag_ = OSCTimeTag::immediate();
    std::vector<OSCPacket> elements_;
    std::shared_ptr<const Data> buffer_;
    std::size_t offset_ = 0;
    std::size_t size_ = 0;

    friend class BundleDecoder;
};

// Whether the bytes begin with "#bundle" NUL.
bool isOSCBundle(DataView data);

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCBundle> {
    std::size_t operator()(const rozuri::OSCBundle& b) const noexcept { return b.hash(); }
};

#include "osc/core/OSCPacket.h"
