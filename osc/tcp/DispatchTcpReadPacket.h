#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "osc/core/Data.h"
#include "osc/tcp/DispatchTcpSocketPreBuffer.h"

namespace rozuri {

// One queued read: fixed-length (readLength > 0), up to a terminator (term set), or whatever
// arrives (neither). It decides how much the next descriptor read may take and finds the
// terminator; the socket reads and advances its fields directly.
//
// Buffers grow as bytes arrive, never ahead of them: a fixed length or maxLength taken from a
// peer costs memory only for bytes the peer really sends. maxLength and time-outs are the
// caller's defence against a peer that sends without end.
class DispatchTcpReadPacket {
  public:
    // `buffer` null: the packet makes and owns one. Otherwise bytes go into the caller's buffer
    // from `startOffset` on (which must not exceed its length).
    DispatchTcpReadPacket(std::shared_ptr<Data> buffer, std::uint64_t startOffset,
                          std::uint64_t maxLength, double timeout, std::uint64_t readLength,
                          std::optional<Data> term, std::int64_t tag);

    // Grows the buffer so that `length` more bytes fit after the placed ones (zero-filled).
    // Throws std::bad_alloc when the memory is not there.
    void ensureCapacityForAdditionalDataOfLength(std::uint64_t length);

    // Room left in the buffer after the placed bytes.
    std::uint64_t spaceLeft() const;

    std::uint64_t optimalReadLengthWithDefault(std::uint64_t defaultValue,
                                               bool* shouldPreBuffer) const;
    std::uint64_t readLengthForNonTermWithHint(std::uint64_t bytesAvailable) const;
    std::uint64_t readLengthForTermWithHint(std::uint64_t bytesAvailable,
                                            bool* shouldPreBuffer) const;
    // Pre-buffer bytes to take: up to and including the terminator when found (sets *found).
    std::uint64_t readLengthForTermWithPreBuffer(const DispatchTcpSocketPreBuffer& preBuffer,
                                                 bool* found) const;
    // After `numBytes` were read into the buffer behind the placed ones (bytesDone not yet
    // advanced): the count of bytes after the terminator, or -1 when it is not there.
    std::int64_t searchForTermAfterPreBuffering(std::uint64_t numBytes) const;

    bool isTermRead() const { return term.has_value(); }

    std::shared_ptr<Data> buffer;
    std::uint64_t startOffset;
    std::uint64_t bytesDone = 0;
    std::uint64_t maxLength;
    // Seconds; negative (or not a number) means no timer. Grows by each granted extension.
    double timeout;
    std::uint64_t readLength;
    std::optional<Data> term;
    bool bufferOwner;
    std::uint64_t originalBufferLength;
    std::int64_t tag;
};

}  // namespace rozuri
