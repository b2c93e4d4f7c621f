#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "osc/core/Data.h"
#include "osc/tcp/OSCTCPFramingMode.h"

namespace rozuri {

// De-frames one connection's byte stream, whatever the read boundaries: a frame split across
// reads is gathered whole, and the SLIP escape state carries over from one read to the next.
// One per connection; reset() when a new connection begins on it. Not thread-safe.
//
// Hostile input stays bounded: a frame longer than frameLimit() is skipped without being stored
// (a length-header frame by counting its bytes down, a SLIP frame up to its END), and a header's
// length never reserves memory. A SLIP frame with a malformed escape is dropped up to its END;
// frames before and after it are delivered. Mode `none` takes each read as one frame.
class OSCTCPStreamDeframer {
  public:
    static constexpr std::size_t defaultFrameLimit = std::size_t{1} << 20;

    explicit OSCTCPStreamDeframer(OSCTCPFramingMode mode,
                                  std::size_t frameLimit = defaultFrameLimit);

    OSCTCPFramingMode framingMode() const { return mode_; }

    // The largest payload kept, in bytes. A frame already being gathered that exceeds a new,
    // smaller limit is skipped.
    std::size_t frameLimit() const { return limit_; }
    void setFrameLimit(std::size_t limit);

    // Takes the stream's next bytes; returns the payloads they complete, in stream order.
    std::vector<Data> feed(DataView bytes);
    // The same, appending to `frames`.
    void feed(DataView bytes, std::vector<Data>& frames);

    // Forgets any unfinished frame.
    void reset();

    // Payload bytes held of an unfinished frame; never above frameLimit().
    std::size_t bufferedByteCount() const { return buffer_.size(); }
    // Frames dropped so far for exceeding the limit, and SLIP frames dropped for a bad escape.
    std::uint64_t skippedFrameCount() const { return skipped_; }
    std::uint64_t malformedFrameCount() const { return malformed_; }

  private:
    void feedLengthHeader(DataView bytes, std::vector<Data>& frames);
    void beginBody(std::vector<Data>& frames);
    void finishBody(std::vector<Data>& frames);
    void feedSLIP(DataView bytes, std::vector<Data>& frames);
    void appendSLIP(DataView run);
    void dropSLIPFrame();

    OSCTCPFramingMode mode_;
    std::size_t limit_;
    Data buffer_;
    std::uint64_t skipped_ = 0;
    std::uint64_t malformed_ = 0;

    // Length header: the header bytes seen so far (4 = reading the body), and what is left of
    // the body, which is counted down without storing when it is over the limit.
    std::array<std::uint8_t, 4> header_{};
    std::size_t headerCount_ = 0;
    std::uint64_t bodyRemaining_ = 0;
    bool skippingBody_ = false;

    // SLIP: an ESC ended the last read, or the current frame is being discarded up to its END.
    bool escaped_ = false;
    bool discarding_ = false;
};

}  // namespace rozuri
