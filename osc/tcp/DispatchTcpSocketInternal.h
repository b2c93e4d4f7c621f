#pragma once

// State bits, texts and helpers shared by the TCP socket's source files; not part of its
// interface.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "osc/udp/SocketAddress.h"
#include "platform/foundation/Assert.h"

namespace rozuri::tcp_detail {

// flags_
inline constexpr std::uint32_t kStarted = 0x1;
inline constexpr std::uint32_t kConnected = 0x2;
inline constexpr std::uint32_t kRefuseNewIO = 0x4;
inline constexpr std::uint32_t kReadHeldForTimeout = 0x8;
inline constexpr std::uint32_t kWriteHeldForTimeout = 0x10;
inline constexpr std::uint32_t kCloseWhenReadsDone = 0x20;
inline constexpr std::uint32_t kCloseWhenWritesDone = 0x40;
inline constexpr std::uint32_t kWritable = 0x80;
inline constexpr std::uint32_t kReadSourcePaused = 0x100;
inline constexpr std::uint32_t kWriteSourcePaused = 0x200;
inline constexpr std::uint32_t kTLSPending = 0x400;
inline constexpr std::uint32_t kReadSideAtTLS = 0x800;
inline constexpr std::uint32_t kWriteSideAtTLS = 0x1000;
inline constexpr std::uint32_t kSecure = 0x2000;
inline constexpr std::uint32_t kSawEOF = 0x4000;
inline constexpr std::uint32_t kReadHalfClosed = 0x8000;
inline constexpr std::uint32_t kTearingDown = 0x10000;

// config_
inline constexpr std::uint16_t kIPv4Disabled = 0x1;
inline constexpr std::uint16_t kIPv6Disabled = 0x2;
inline constexpr std::uint16_t kPreferIPv6 = 0x4;
inline constexpr std::uint16_t kKeepOpenAfterReadEOF = 0x8;

inline constexpr int kListenBacklog = 1024;
// Queued writes sent with one sendmsg: at most this many, stopping once this much is asked.
inline constexpr std::size_t kMaxWriteBatch = 64;
inline constexpr std::uint64_t kMaxWriteBatchBytes = 1 << 20;
// Attempts at one shared ephemeral port for both families.
inline constexpr int kSharedPortAttempts = 8;
// Pause of accepting after the process or system ran out of descriptors.
inline constexpr std::chrono::milliseconds kAcceptPause{100};
// Pause of accepting while the delegate has too many accepted connections still to take.
inline constexpr std::chrono::milliseconds kAcceptCatchUp{5};
// A released socket draining its writes gives up after this long without progress.
inline constexpr std::chrono::seconds kDrainStallLimit{10};
// A Unix connect to a full backlog is tried again after this, doubling up to the maximum.
inline constexpr std::chrono::milliseconds kUnixConnectRetryFirst{2};
inline constexpr std::chrono::milliseconds kUnixConnectRetryMax{50};

inline constexpr const char* kTable = "DispatchTcpSocket";
inline constexpr const char* kUnknownInterface =
    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";
inline constexpr const char* kInvalidHost =
    "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string.";
inline constexpr const char* kInvalidUnixUrl =
    "Invalid unix domain url. Specify a valid file url that does not exist (e.g. "
    "\"file:///tmp/socket\")";
inline constexpr const char* kBusy =
    "Attempting to connect while connected or accepting connections. Disconnect first.";
inline constexpr const char* kAcceptBusy =
    "Attempting to accept while connected or accepting connections. Disconnect first.";
inline constexpr const char* kBothDisabled =
    "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.";
inline constexpr const char* kIPv4DisabledNoIPv6 =
    "IPv4 has been disabled and specified interface doesn't support IPv6.";
inline constexpr const char* kIPv6DisabledNoIPv4 =
    "IPv6 has been disabled and specified interface doesn't support IPv4.";
inline constexpr const char* kNonBlockingReason =
    "Error enabling non-blocking IO on socket (fcntl)";

inline void assertionFailure(const char* text, int line) {
    foundation::assertionFailure(text, "DispatchTcpSocket", line);
}

// A time-out in seconds as a duration: none for a negative one or not a number, and none
// (wait for ever) for one too long to count in nanoseconds.
inline std::optional<std::chrono::nanoseconds> timeoutDuration(double seconds) {
    // About 31 years: past any real deadline, far below the nanosecond counter's range.
    constexpr double kLongest = 1e9;
    if (!(seconds >= 0) || seconds > kLongest) return std::nullopt;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(seconds * 1e9));
}

using net::bytesOf;
using net::setPort;

}  // namespace rozuri::tcp_detail
