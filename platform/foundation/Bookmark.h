#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"

namespace foundation {

// A bookmark records a file's absolute path and identity (device, inode) so that a later run can
// find it again and tell whether the file at that path is still the same one. There is no sandbox,
// so the security-scoped access calls are no-ops.

// Error domain of bookmark failures.
inline constexpr const char* kBookmarkErrorDomain = "NSCocoaErrorDomain";
// Codes as the platform uses them: bookmark data corrupt, file missing, not a file URL.
inline constexpr std::int64_t kFileReadCorruptFileError = 259;
inline constexpr std::int64_t kFileReadNoSuchFileError = 260;
inline constexpr std::int64_t kFileReadUnsupportedSchemeError = 262;
// Other failures of stat() come as POSIX errors (Error::posix).

// Empty data with `error` set when `url` is not a file URL or the file does not exist.
std::vector<std::uint8_t> createBookmark(const URL& url, Error* error = nullptr);

// The file URL the bookmark names. When the path is gone, the recorded file found under another
// name in the path's folder (renamed there), with `isStale` set. nullopt with `error` set when the
// data is not a bookmark or the file is gone. `isStale` is also set when the file at the path is
// no longer the recorded one.
std::optional<URL> resolveBookmark(std::span<const std::uint8_t> data, bool& isStale,
                                   Error* error = nullptr);

bool startAccessingSecurityScopedResource(const URL& url);
void stopAccessingSecurityScopedResource(const URL& url);

}  // namespace foundation
