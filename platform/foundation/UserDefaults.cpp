#include "platform/foundation/UserDefaults.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <limits>
#include <vector>

#include "platform/dispatch/Immortal.h"
#include "platform/foundation/Error.h"

namespace foundation {

namespace {

// Larger files are not a defaults store we wrote; they are kept aside like unparsable ones.
constexpr std::uintmax_t kMaxFileSize = 64ull * 1024 * 1024;

std::filesystem::path standardPath() {
    std::filesystem::path base;
    if (const char* xdg = ::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = ::getenv("HOME");
        std::string homeDir = home && home[0] == '/' ? home : "";
        if (homeDir.empty()) {
            if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) homeDir = pw->pw_dir;
        }
        base = std::filesystem::path(homeDir.empty() ? "/tmp" : homeDir) / ".config";
    }
    return base / "mantleshade" / "defaults.json";
}

// Deeper values than any settings hold: copying, comparing or printing them recurses once per
// level, so a hostile file could exhaust the stack.
constexpr std::size_t kMaxDepth = 512;

bool nestedTooDeeply(const std::string& text) {
    std::size_t depth = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return true;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

// An exclusive lock on the settings folder while a write reloads and saves, so that stores in
// other processes (or other stores on the same file) cannot drop each other's keys.
class FolderLock {
  public:
    explicit FolderLock(const std::filesystem::path& folder) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        fd_ = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0) return;  // saving reports the folder's problem
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);  // releases the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_ = -1;
};

std::string utcStamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &tm);
    return buffer;
}

std::string shortText(const nlohmann::json& value) {
    std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    if (text.size() > 80) text = text.substr(0, 77) + "...";
    return text;
}

void printLine(const std::string& line) {
    std::cout << line << std::endl;
}

bool writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

std::set<std::string> changedKeys(const nlohmann::json& before, const nlohmann::json& after) {
    std::set<std::string> keys;
    for (auto it = before.begin(); it != before.end(); ++it) {
        auto other = after.find(it.key());
        if (other == after.end() || *other != it.value()) keys.insert(it.key());
    }
    for (auto it = after.begin(); it != after.end(); ++it)
        if (!before.contains(it.key())) keys.insert(it.key());
    return keys;
}

}  // namespace

UserDefaults& UserDefaults::standard() {
    // Never destroyed (every write is already on disk): other threads may still read it while
    // the process exits.
    static dispatch::Immortal<UserDefaults> instance(standardPath());
    return instance.get();
}

std::unique_ptr<UserDefaults> UserDefaults::openAt(std::filesystem::path path) {
    return std::make_unique<UserDefaults>(std::move(path));
}

UserDefaults::UserDefaults(std::filesystem::path path) : path_(std::move(path)) {}

std::filesystem::path UserDefaults::path() {
    std::lock_guard lock(mutex_);
    return path_;
}

void UserDefaults::resetStandardForTesting() {
    UserDefaults& store = standard();
    std::lock_guard lock(store.mutex_);
    store.path_ = standardPath();
    store.values_ = nlohmann::json::object();
    store.stamp_ = FileStamp{};
    store.loaded_ = false;
    store.corrupt_ = false;
    store.reportedMismatches_.clear();
    store.lastSaveFailure_.clear();
}

UserDefaults::~UserDefaults() = default;

UserDefaults::FileStamp UserDefaults::stampOf() const {
    struct stat st {};
    FileStamp stamp;
    if (::stat(path_.c_str(), &st) != 0) return stamp;
    stamp.exists = true;
    stamp.device = static_cast<std::uint64_t>(st.st_dev);
    stamp.inode = static_cast<std::uint64_t>(st.st_ino);
    stamp.size = static_cast<std::uint64_t>(st.st_size);
    stamp.mtimeNs =
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return stamp;
}

void UserDefaults::loadLocked() {
    loaded_ = true;
    stamp_ = stampOf();
    corrupt_ = false;
    values_ = nlohmann::json::object();
    if (!stamp_.exists) return;

    std::string problem;
    std::string text;
    if (stamp_.size > kMaxFileSize) {
        problem = "is too large";
    } else {
        std::FILE* file = std::fopen(path_.c_str(), "rbe");
        if (!file) {
            if (errno == ENOENT) {
                stamp_ = FileStamp{};
                return;
            }
            problem = "cannot be read (" + Error::posixDescription(errno) + ")";
        } else {
            char buffer[65536];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
                text.append(buffer, n);
                if (text.size() > kMaxFileSize) break;
            }
            bool failed = std::ferror(file) != 0 || text.size() > kMaxFileSize;
            std::fclose(file);
            if (failed) problem = "cannot be read";
        }
    }
    if (problem.empty()) {
        if (nestedTooDeeply(text)) {
            problem = "is nested too deeply";
        } else {
            auto parsed = nlohmann::json::parse(text, nullptr, false);
            if (parsed.is_discarded())
                problem = "is not valid JSON";
            else if (!parsed.is_object())
                problem = "does not hold a JSON object";
            else
                values_ = std::move(parsed);
        }
    }
    if (!problem.empty()) {
        corrupt_ = true;
        printLine("⚠️ Defaults file " + path_.string() + " " + problem +
                  "; using no stored settings, the file is kept and moved aside at the next save");
    }
}

std::set<std::string> UserDefaults::reloadIfChangedLocked() {
    if (!loaded_) {
        loadLocked();
        return {};
    }
    if (stampOf() == stamp_) return {};
    nlohmann::json before = std::move(values_);
    loadLocked();
    return changedKeys(before, values_);
}

std::optional<nlohmann::json> UserDefaults::fetch(const std::string& key) {
    std::set<std::string> changed;
    std::optional<nlohmann::json> found;
    {
        std::lock_guard lock(mutex_);
        changed = reloadIfChangedLocked();
        if (auto it = values_.find(key); it != values_.end()) found = *it;
    }
    notify(changed);
    return found;
}

void UserDefaults::reportMismatch(const std::string& key, const nlohmann::json& value,
                                  const char* wanted) {
    std::string text = shortText(value);
    {
        std::lock_guard lock(mutex_);
        if (!reportedMismatches_.insert(key + '\0' + text).second) return;
    }
    printLine("⚠️ Defaults key \"" + key + "\" holds " + text + ", not " + wanted +
              "; treating it as absent");
}

std::optional<std::int64_t> UserDefaults::integer(const std::string& key) {
    auto value = fetch(key);
    if (!value) return std::nullopt;
    if (value->is_number_unsigned()) {
        auto u = value->get<std::uint64_t>();
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return static_cast<std::int64_t>(u);
    } else if (value->is_number_integer()) {
        return value->get<std::int64_t>();
    } else if (value->is_number_float()) {
        double d = value->get<double>();
        // -2^63 is in range, 2^63 is the first double past it.
        if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 &&
            d < 9223372036854775808.0)
            return static_cast<std::int64_t>(d);
    }
    reportMismatch(key, *value, "an integer");
    return std::nullopt;
}

std::optional<bool> UserDefaults::boolean(const std::string& key) {
    auto value = fetch(key);
    if (!value) return std::nullopt;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number_integer() && (*value == 0 || *value == 1)) return *value == 1;
    reportMismatch(key, *value, "a Boolean");
    return std::nullopt;
}

std::optional<std::string> UserDefaults::string(const std::string& key) {
    auto value = fetch(key);
    if (!value) return std::nullopt;
    if (value->is_string()) return value->get<std::string>();
    reportMismatch(key, *value, "a string");
    return std::nullopt;
}

std::optional<double> UserDefaults::number(const std::string& key) {
    auto value = fetch(key);
    if (!value) return std::nullopt;
    if (value->is_number()) return value->get<double>();
    reportMismatch(key, *value, "a number");
    return std::nullopt;
}

std::optional<nlohmann::json> UserDefaults::object(const std::string& key) {
    return fetch(key);
}

bool UserDefaults::contains(const std::string& key) {
    return fetch(key).has_value();
}

bool UserDefaults::set(const std::string& key, nlohmann::json value) {
    // A value that cannot be written out (a string that is not UTF-8) is refused here, so that
    // it can never make a later save fail.
    try {
        (void)value.dump();
    } catch (const nlohmann::json::exception& e) {
        printLine("⚠️ Defaults key \"" + key + "\" not stored: " + e.what());
        return false;
    }
    std::set<std::string> changed;
    bool saved = true;
    {
        std::lock_guard lock(mutex_);
        FolderLock folderLock(path_.parent_path());
        changed = reloadIfChangedLocked();
        auto it = values_.find(key);
        if (it == values_.end() || *it != value || corrupt_ || !stamp_.exists) {
            bool differs = it == values_.end() || *it != value;
            values_[key] = std::move(value);
            std::string failure;
            saved = saveLocked(failure);
            if (differs) changed.insert(key);
        }
    }
    notify(changed);
    return saved;
}

bool UserDefaults::remove(const std::string& key) {
    std::set<std::string> changed;
    bool saved = true;
    {
        std::lock_guard lock(mutex_);
        FolderLock folderLock(path_.parent_path());
        changed = reloadIfChangedLocked();
        if (values_.erase(key) > 0) {
            std::string failure;
            saved = saveLocked(failure);
            changed.insert(key);
        }
    }
    notify(changed);
    return saved;
}

bool UserDefaults::saveLocked(std::string& failure) {
    namespace fs = std::filesystem;
    auto fail = [&](std::string text) {
        failure = std::move(text);
        if (failure != lastSaveFailure_) {
            lastSaveFailure_ = failure;
            printLine("❌ Defaults not saved to " + path_.string() + ": " + failure);
        }
        return false;
    };

    std::error_code ec;
    // Write through a symlinked file (dotfile managers) instead of replacing the link.
    fs::path file = path_;
    if (fs::is_symlink(path_, ec)) {
        if (auto real = fs::weakly_canonical(path_, ec); !ec) file = real;
    }
    fs::path folder = file.parent_path();
    if (!folder.empty()) {
        fs::create_directories(folder, ec);
        if (ec) return fail("cannot create " + folder.string() + " (" + ec.message() + ")");
    }

    struct stat old {};
    const bool hadFile = ::stat(file.c_str(), &old) == 0;
    if (corrupt_) {
        // Keep the unreadable file for the user instead of overwriting it.
        std::string aside = file.string() + ".corrupt-" + utcStamp();
        std::string target = aside;
        for (int n = 1; fs::exists(target, ec); ++n) target = aside + "-" + std::to_string(n);
        if (::rename(file.c_str(), target.c_str()) != 0) {
            int err = errno;
            if (err != ENOENT)
                return fail("cannot move the unreadable file aside (" +
                            Error::posixDescription(err) + ")");
        } else {
            printLine("⚠️ Unreadable defaults file moved aside to " + target);
        }
        corrupt_ = false;
    }

    std::string text = values_.dump(2) + "\n";
    std::string tempName = (folder / ("." + file.filename().string() + ".tmp-XXXXXX")).string();
    int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
    if (fd < 0)
        return fail("cannot create a temporary file (" + Error::posixDescription(errno) + ")");
    // Keep the permissions the user gave the file (mkostemp makes it 0600).
    if (hadFile) (void)::fchmod(fd, old.st_mode & 07777);
    bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    int writeErr = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        writeErr = errno;
    }
    if (!written) {
        ::unlink(tempName.c_str());
        return fail("cannot write " + tempName + " (" + Error::posixDescription(writeErr) + ")");
    }
    try {
        if (beforeRename_) beforeRename_();
    } catch (...) {
        ::unlink(tempName.c_str());
        throw;
    }
    if (::rename(tempName.c_str(), file.c_str()) != 0) {
        int err = errno;
        ::unlink(tempName.c_str());
        return fail("cannot replace the file (" + Error::posixDescription(err) + ")");
    }
    // Make the rename itself durable.
    if (int dirFd =
            ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    stamp_ = stampOf();
    lastSaveFailure_.clear();
    return true;
}

std::uint64_t UserDefaults::addObserver(Observer observer) {
    std::lock_guard lock(observersMutex_);
    std::uint64_t id = nextObserverId_++;
    observers_.emplace(id, std::make_shared<Observer>(std::move(observer)));
    return id;
}

void UserDefaults::removeObserver(std::uint64_t id) {
    std::lock_guard lock(observersMutex_);
    observers_.erase(id);
}

void UserDefaults::notify(const std::set<std::string>& keys) {
    if (keys.empty()) return;
    std::vector<std::shared_ptr<Observer>> targets;
    {
        std::lock_guard lock(observersMutex_);
        for (auto& [id, observer] : observers_) targets.push_back(observer);
    }
    for (const auto& key : keys)
        for (const auto& observer : targets)
            if (*observer) (*observer)(key);
}

void UserDefaults::setBeforeRenameHookForTesting(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    beforeRename_ = std::move(hook);
}

}  // namespace foundation
