#pragma once

// Closing a connected stream descriptor without turning unread input into a reset.

#include <chrono>

namespace rozuri::tcp_detail {

// How long a closed connection waits for the peer's end of input before it is closed anyway.
inline constexpr std::chrono::seconds kCloseLinger{2};

// Sends our end of stream at once, then discards what the peer still sends until its end of
// input or `linger`, and only then closes `fd`. Linux answers close() with a reset when input
// was left unread, and the reset throws away bytes still on their way to the peer. Takes the
// descriptor over; returns at once.
void closeAfterPeerEnds(int fd, std::chrono::milliseconds linger = kCloseLinger);

}  // namespace rozuri::tcp_detail
