#include "platform/foundation/Bookmark.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace foundation {

namespace {

// Layout, little-endian: "MSBK", version 1, device (8), inode (8), path length (4), path bytes.
constexpr std::uint8_t kMagic[4] = {'M', 'S', 'B', 'K'};
constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kHeaderSize = 4 + 1 + 8 + 8 + 4;
constexpr std::uint32_t kMaxPath = 64 * 1024;

void putLE(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t getLE(std::span<const std::uint8_t> data, std::size_t offset, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value |= std::uint64_t(data[offset + i]) << (8 * i);
    return value;
}

std::string quotedName(const std::string& path) {
    auto slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return "\u201C" + name + "\u201D";
}

Error noSuchFile(const std::string& path) {
    return Error(kBookmarkErrorDomain, kFileReadNoSuchFileError,
                 {{Error::kLocalizedDescriptionKey,
                   "The file " + quotedName(path) +
                       " couldn\u2019t be opened because there is no such file."},
                  {"NSFilePath", path}});
}

Error corrupt(const std::string& why) {
    return Error(kBookmarkErrorDomain, kFileReadCorruptFileError,
                 {{Error::kLocalizedDescriptionKey,
                   "The file couldn\u2019t be opened because it isn\u2019t in the correct format."},
                  {Error::kLocalizedFailureReasonKey, why}});
}

// stat() of `path`; on failure sets `error` to the error to report.
bool statPath(const std::string& path, struct stat& st, Error& error) {
    if (::stat(path.c_str(), &st) == 0) return true;
    int err = errno;
    error = (err == ENOENT || err == ENOTDIR) ? noSuchFile(path)
                                              : Error::posix(err, "Error in stat() function");
    if (err != ENOENT && err != ENOTDIR) error.userInfo["NSFilePath"] = path;
    return false;
}

// Entries read at most while looking for a renamed file, so that a huge folder costs bounded time.
constexpr std::size_t kMaxFolderEntries = 100000;

// The entry of the folder of `path` that is the file (`device`, `inode`), when the file was
// renamed within its folder.
std::optional<std::string> findRenamed(const std::string& path, std::uint64_t device,
                                       std::uint64_t inode) {
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> found;
    std::size_t read = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (++read > kMaxFolderEntries) break;
        if (static_cast<std::uint64_t>(entry->d_ino) != inode) continue;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string candidate = (folder == "/" ? "" : folder) + "/" + name;
        struct stat st {};
        // The directory entry's inode number is only a hint: the file itself must match.
        if (::stat(candidate.c_str(), &st) == 0 &&
            static_cast<std::uint64_t>(st.st_dev) == device &&
            static_cast<std::uint64_t>(st.st_ino) == inode) {
            found = candidate;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

}  // namespace

std::vector<std::uint8_t> createBookmark(const URL& url, Error* error) {
    if (!url.isFileURL()) {
        setError(error, Error(kBookmarkErrorDomain, kFileReadUnsupportedSchemeError,
                              {{Error::kLocalizedDescriptionKey,
                                "The file couldn\u2019t be opened because the specified URL type "
                                "isn\u2019t supported."},
                               {"NSURL", url.absoluteString()}}));
        return {};
    }
    std::string path = url.path();
    struct stat st {};
    Error failure;
    if (!statPath(path, st, failure)) {
        setError(error, std::move(failure));
        return {};
    }
    std::vector<std::uint8_t> out(std::begin(kMagic), std::end(kMagic));
    out.reserve(kHeaderSize + path.size());
    out.push_back(kVersion);
    putLE(out, static_cast<std::uint64_t>(st.st_dev), 8);
    putLE(out, static_cast<std::uint64_t>(st.st_ino), 8);
    putLE(out, path.size(), 4);
    out.insert(out.end(), path.begin(), path.end());
    return out;
}

std::optional<URL> resolveBookmark(std::span<const std::uint8_t> data, bool& isStale,
                                   Error* error) {
    isStale = false;
    if (data.size() < kHeaderSize || std::memcmp(data.data(), kMagic, 4) != 0) {
        setError(error, corrupt("Not bookmark data"));
        return std::nullopt;
    }
    if (data[4] != kVersion) {
        setError(error, corrupt("Unknown bookmark version " + std::to_string(data[4])));
        return std::nullopt;
    }
    std::uint64_t device = getLE(data, 5, 8);
    std::uint64_t inode = getLE(data, 13, 8);
    std::uint64_t length = getLE(data, 21, 4);
    if (length == 0 || length > kMaxPath || length != data.size() - kHeaderSize) {
        setError(error, corrupt("Bookmark path length does not match the data"));
        return std::nullopt;
    }
    std::string path(reinterpret_cast<const char*>(data.data() + kHeaderSize), length);
    if (path.front() != '/' || path.find('\0') != std::string::npos) {
        setError(error, corrupt("Bookmark path is not an absolute path"));
        return std::nullopt;
    }
    struct stat st {};
    Error failure;
    if (!statPath(path, st, failure)) {
        // Gone from its path: a file renamed in the same folder is found by its identity, and the
        // bookmark is stale so that its owner records the new path.
        if (failure.code == kFileReadNoSuchFileError) {
            if (auto renamed = findRenamed(path, device, inode)) {
                isStale = true;
                return URL::fileURL(*renamed);
            }
        }
        setError(error, std::move(failure));
        return std::nullopt;
    }
    isStale = static_cast<std::uint64_t>(st.st_dev) != device ||
              static_cast<std::uint64_t>(st.st_ino) != inode;
    return URL::fileURL(path);
}

bool startAccessingSecurityScopedResource(const URL&) {
    return true;
}

void stopAccessingSecurityScopedResource(const URL&) {}

}  // namespace foundation
