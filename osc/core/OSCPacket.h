#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "osc/core/Data.h"
#include "osc/core/OSCBundle.h"
#include "osc/core/OSCMessage.h"

namespace rozuri {

// What the first bytes of a buffer say it holds.
enum class OSCPacketType { message = 0, bundle = 1 };

// "#bundle" NUL first: bundle; else "/": message; else none.
std::optional<OSCPacketType> packetType(DataView data);

// The unit every transport sends and receives: a bundle or a message.
class OSCPacket {
  public:
    enum class Case { bundle = 0, message = 1 };

    OSCPacket(OSCBundle bundle) : value_(std::move(bundle)) {}     // NOLINT
    OSCPacket(OSCMessage message) : value_(std::move(message)) {}  // NOLINT
    // Makes the bundle or message in place from the arguments of one of its constructors.
    template <class T, class... Args>
    explicit OSCPacket(std::in_place_type_t<T> type, Args&&... args)
        : value_(type, std::forward<Args>(args)...) {}

    static OSCPacket bundle(std::optional<OSCTimeTag> timeTag, std::vector<OSCPacket> elements) {
        return OSCPacket(OSCBundle(timeTag, std::move(elements)));
    }
    static OSCPacket message(OSCAddressPattern address, OSCValueList values = {}) {
        return OSCPacket(OSCMessage(std::move(address), std::move(values)));
    }

    // None when the bytes are neither a bundle nor a message; throws OSCDecodeError when they
    // are one but malformed. The first form copies the bytes once, the second takes them over,
    // the third keeps the shared buffer.
    static std::optional<OSCPacket> decode(DataView data);
    static std::optional<OSCPacket> decode(Data&& data);
    static std::optional<OSCPacket> decode(std::shared_ptr<const Data> buffer);

    Case caseKind() const { return static_cast<Case>(value_.index()); }
    OSCPacketType packetType() const {
        return isBundle() ? OSCPacketType::bundle : OSCPacketType::message;
    }
    bool isBundle() const { return value_.index() == 0; }
    bool isMessage() const { return value_.index() == 1; }
    const OSCBundle* asBundle() const { return std::get_if<OSCBundle>(&value_); }
    const OSCMessage* asMessage() const { return std::get_if<OSCMessage>(&value_); }
    OSCBundle* asBundle() { return std::get_if<OSCBundle>(&value_); }
    OSCMessage* asMessage() { return std::get_if<OSCMessage>(&value_); }

    // Throws OSCEncodeError.
    Data encodedData() const;
    void appendEncodedData(Data& out) const;

    // Every message, depth first; time tags are not carried.
    std::vector<OSCMessage> flattened() const;

    std::size_t hash() const;
    std::string description() const;
    std::string multilineDescription() const;

    friend bool operator==(const OSCPacket&, const OSCPacket&) = default;

  private:
    std::variant<OSCBundle, OSCMessage> value_;
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCPacket> {
    std::size_t operator()(const rozuri::OSCPacket& p) const noexcept { return p.hash(); }
};
