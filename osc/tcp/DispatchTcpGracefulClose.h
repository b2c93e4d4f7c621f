#pragma once

// Closing a connected stream descriptor without turning unread input into a reset.

#include <chrono>
#include <cstddef>

#include "platform/foundation/Error.h"

namespace rozuri::tcp_detail {

// How long a closed connection whose bytes have all reached the peer waits for the peer's end
// of input before it is closed anyway.
inline constexpr std::chrono::seconds kCloseLinger{2};
// While bytes of ours are still on their way, the wait goes on as long as they drain; it ends
// after this long without progress.
inline constexpr std::chrono::seconds kLingerStallLimit{10};
// Most descriptors lingering at once, whatever the descriptor limit.
inline constexpr std::size_t kMostLingering = 256;

// Sends our end of stream at once, then discards what the peer still sends until its end of
// input, and only then closes `fd`. Linux answers close() with a reset when input was left
// unread, and the reset throws away bytes still on their way to the peer. The wait ends early
// when our bytes have all been acknowledged for `linger`, or when they stop draining for
// `stallLimit`. A peer that has already ended, or a process holding lingerBound() lingering
// descriptors, gets an immediate close. Takes the descriptor over; returns at once.
void closeAfterPeerEnds(int fd, std::chrono::milliseconds linger = kCloseLinger,
                        std::chrono::milliseconds stallLimit = kLingerStallLimit);

// A quarter of the descriptor limit, at most kMostLingering.
std::size_t lingerBound();
// Descriptors lingering now.
std::size_t lingeringCount();
// Closes every lingering descriptor at once, for a process out of descriptors; returns how
// many it closed.
std::size_t closeLingeringNow();
// True for the errors of a process or system out of descriptors.
bool outOfDescriptors(int err);
// A new non-blocking stream socket; when the process is out of descriptors, those lingering
// are closed and the call is tried once more.
int createStreamSocket(int family, foundation::Error* error);

}  // namespace rozuri::tcp_detail
