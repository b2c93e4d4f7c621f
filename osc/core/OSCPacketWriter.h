#pragma once

// OSCPacketWriter: writes messages and bundles straight from the caller's values into a byte
// buffer, for a packet made only to be sent. Nothing is built or boxed on the way, and the bytes
// are those OSCMessage / OSCBundle encoding gives for the same content:
//
//   Data out;
//   OSCPacketWriter(out).message("/mixer/1/fader", 0.5f);
//   OSCPacketWriter w(out);
//   w.beginBundle(tag).message("/a", std::int32_t{1}).message("/b", "text").endBundle();
//
// Values written directly: Int32, Int64, Float, Double, Bool, time tag, MIDI, impulse, null,
// text (std::string, std::string_view, const char*, OSCStringAltValue) and blobs (Data,
// DataView). Any other value (and text that is not plain ASCII, long text or long blobs) goes
// through the general encoder, with the same result as an OSCMessage of those values.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "osc/core/AnyOSCValue.h"
#include "osc/core/Data.h"
#include "osc/core/OSCBundle.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCWireWriter.h"

namespace rozuri {

class OSCPacketWriter {
  public:
    // Appends to `out`, which must outlive the writer.
    explicit OSCPacketWriter(Data& out) noexcept : out_(out) {}

    // Appends one message (an element of the innermost open bundle, if any). Throws
    // OSCEncodeError (an address holding NUL, a value that cannot be encoded), leaving the
    // buffer as it was before the call.
    template <class... Values>
    OSCPacketWriter& message(std::string_view address, const Values&... values) {
        std::size_t start = beginElement();
        try {
            std::array<OSCWireArgument, sizeof...(Values) == 0 ? 1 : sizeof...(Values)> arguments;
            std::size_t i = 0;
            bool direct = sizeof...(Values) <= kWireArgumentLimit && isWireReadyText(address) &&
                          (wireArgument(values, arguments[i++]) && ...);
            if (direct)
                appendWireMessage(out_, address, std::span(arguments).first(sizeof...(Values)));
            else
                appendGeneral(address, {AnyOSCValue(asValue(values))...});
            endElement(start);
        } catch (...) {
            out_.resize(start);
            throw;
        }
        return *this;
    }

    // Opens a bundle (nested in the open one, if any); no time tag means immediate. Throws
    // OSCEncodeError past OSCBundle::maxNestingDepth open bundles.
    OSCPacketWriter& beginBundle(std::optional<OSCTimeTag> timeTag = std::nullopt);
    // Closes the innermost open bundle. Throws OSCEncodeError when none is open or when the
    // bundle is too large for its size field.
    OSCPacketWriter& endBundle();
    // Bundles opened and not yet closed: the bytes are a whole packet only at zero.
    std::size_t openBundles() const noexcept { return depth_; }

  private:
    static constexpr std::size_t noSizeField = static_cast<std::size_t>(-1);

    // Inside a bundle, room for the element's size field; returns where the element starts.
    std::size_t beginElement() {
        std::size_t start = out_.size();
        if (depth_ > 0) out_.resize(start + 4);
        return start;
    }
    // Fills the size field of the element that began at `start`.
    void endElement(std::size_t start) {
        if (depth_ > 0) putSizeField(out_.data() + start, out_.size() - start - 4);
    }
    // Throws OSCEncodeError for a length the field cannot hold.
    static void putSizeField(std::uint8_t* field, std::size_t length);
    void appendGeneral(std::string_view address, std::initializer_list<AnyOSCValue> values);

    static bool wireArgument(std::string_view text, OSCWireArgument& out, char tag = 's') {
        if (!isWireReadyText(text)) return false;
        out = OSCWireArgument::text(tag, text);
        return true;
    }
    static bool wireArgument(const std::string& text, OSCWireArgument& out) {
        return wireArgument(std::string_view(text), out);
    }
    static bool wireArgument(const char* text, OSCWireArgument& out) {
        return wireArgument(std::string_view(text), out);
    }
    static bool wireArgument(const OSCStringAltValue& text, OSCWireArgument& out) {
        return wireArgument(std::string_view(text.string), out, 'S');
    }
    static bool wireArgument(DataView bytes, OSCWireArgument& out) {
        if (bytes.size() > kWirePayloadLimit) return false;
        out = OSCWireArgument::blob(bytes);
        return true;
    }
    static bool wireArgument(const Data& bytes, OSCWireArgument& out) {
        return wireArgument(DataView(bytes), out);
    }
    static bool wireArgument(OSCImpulseValue, OSCWireArgument& out) {
        out = OSCWireArgument::bare('I');
        return true;
    }
    static bool wireArgument(OSCNullValue, OSCWireArgument& out) {
        out = OSCWireArgument::bare('N');
        return true;
    }
    // The fixed-size kinds, by exact type only: an int or a char of another width is no Int32.
    template <class T>
    requires(std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::int64_t> ||
             std::is_same_v<T, float> || std::is_same_v<T, double> || std::is_same_v<T, bool> ||
             std::is_same_v<T, OSCTimeTag> || std::is_same_v<T, OSCMIDIValue>)
    static bool wireArgument(const T& v, OSCWireArgument& out) {
        out = wireArgumentOf(v);
        return true;
    }
    // Anything else: the general encoder.
    template <class T>
    static bool wireArgument(const T&, OSCWireArgument&) {
        return false;
    }

    // What a value becomes in a message built of it.
    template <class T>
    static decltype(auto) asValue(const T& v) {
        if constexpr (std::is_same_v<T, DataView>)
            return Data(v.begin(), v.end());
        else
            return (v);
    }

    Data& out_;
    // Per open bundle, where its size field is (noSizeField for an outermost bundle).
    std::array<std::size_t, OSCBundle::maxNestingDepth> sizeFields_{};
    std::size_t depth_ = 0;
};

}  // namespace rozuri
