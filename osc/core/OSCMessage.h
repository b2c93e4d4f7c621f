#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "osc/core/AnyOSCValue.h"
#include "osc/core/Data.h"
#include "osc/core/OSCAddressPattern.h"
#include "osc/core/OSCValueList.h"

namespace rozuri {

// One OSC message: an address pattern and its argument values.
//
// A message decoded from bytes keeps them (a view into one shared buffer, also when it sits in a
// bundle) and encodes to exactly them again while it is unchanged, so that forwarding is
// byte-exact. Changing the address pattern or the values drops the cached bytes: the edit is
// what gets encoded.
class OSCMessage {
  public:
    OSCMessage() : OSCMessage(OSCAddressPattern()) {}
    OSCMessage(OSCAddressPattern addressPattern, OSCValueList values = {})
        : values_(std::move(values)), addressPattern_(std::move(addressPattern)) {}
    OSCMessage(std::string_view address, OSCValueList values = {})
        : OSCMessage(OSCAddressPattern(address), std::move(values)) {}
    OSCMessage(const char* address, OSCValueList values = {})
        : OSCMessage(OSCAddressPattern(address), std::move(values)) {}
    OSCMessage(const std::string& address, OSCValueList values = {})
        : OSCMessage(OSCAddressPattern(address), std::move(values)) {}

    // Address "/" followed by the components joined with "/".
    template <typename Range>
    static OSCMessage fromPathComponents(const Range& components,
                                         OSCValueList values = {}) {
        return OSCMessage(OSCAddressPattern::fromPathComponents(components), std::move(values));
    }

    // Decodes message bytes. Throws OSCDecodeError. The first form copies the bytes once; the
    // others keep the given buffer (the second the whole buffer, the third the given part).
    static OSCMessage decode(DataView data);
    static OSCMessage decode(std::shared_ptr<const Data> buffer);
    static OSCMessage decode(std::shared_ptr<const Data> buffer, std::size_t offset,
                             std::size_t size);

    // Lets the packet and bundle decoders build a decoded message in its final place (as
    // decode() with a buffer and a part of it), so that it is never moved.
    class DecodeKey {
        DecodeKey() = default;
        friend class OSCMessage;
        friend class OSCPacket;
        friend class BundleDecoder;
    };
    OSCMessage(DecodeKey, std::shared_ptr<const Data> buffer, std::size_t offset, std::size_t size);

    // The single byte "/" that begins every message.
    static const Data& header();

    const OSCAddressPattern& addressPattern() const { return addressPattern_; }
    void setAddressPattern(OSCAddressPattern pattern);
    const OSCValueList& values() const { return values_; }
    void setValues(OSCValueList values);
    // Write access to the values; drops the cached bytes.
    OSCValueList& mutableValues();

    // The bytes this message was decoded from, while it is unchanged.
    std::optional<DataView> rawData() const;

    // The cached bytes, or else freshly encoded ones. Throws OSCEncodeError (an address holding
    // a NUL character, a value that cannot be encoded).
    Data encodedData() const;
    // Appends what encodedData() gives.
    void appendEncodedData(Data& out) const;

    std::size_t hash() const;
    // OSCMessage("/a/b", values: [1])
    std::string description() const;
    std::string multilineDescription() const;

    // Same address text and equal values; cached bytes take no part.
    friend bool operator==(const OSCMessage& a, const OSCMessage& b);

  private:
    // The values come first: decoding fills them while it makes the address pattern.
    OSCValueList values_;
    OSCAddressPattern addressPattern_;
    std::shared_ptr<const Data> buffer_;  // null for a message built in code or edited
    std::size_t offset_ = 0;
    std::size_t size_ = 0;
};

// Whether the bytes begin with "/".
bool isOSCMessage(DataView data);

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCMessage> {
    std::size_t operator()(const rozuri::OSCMessage& m) const noexcept { return m.hash(); }
};
