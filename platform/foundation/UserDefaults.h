#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

namespace foundation {

// A persistent key/value store: one JSON object in a file.
//
// Reads keep "absent" apart from false/0. A value of the wrong type for a read answers absent and
// prints one diagnostic line (once per key and value). Conversions accepted:
//   integer(): a JSON integer, or a JSON float with an integral value in range (2.0 -> 2).
//   boolean(): true/false, or the integers 0 and 1 (as stored by tools that write booleans as
//              numbers). No other numbers, no strings.
//   number():  any JSON number.
//   string():  a JSON string only.
//   object():  the stored value, whatever its type.
//
// Each write saves the whole object atomically (temp file in the same folder, fsync, rename),
// creating the folder, under an exclusive lock on the folder so that stores on the same file (in
// this or another process) never drop each other's keys. A change on disk (mtime, size or inode) is
// picked up by the next read or write. A file that is not JSON, not an object, or nested deeper
// than any settings are (512 levels) reads as empty, is reported in one line naming it, and is
// renamed aside to "<name>.corrupt-<UTC time>" only when the next write happens.
//
// Observers are called with each changed key: synchronously on the writer's thread, or for outside
// edits on the thread whose read noticed the reload. They are called without the lock held, so
// they may read and write the store.
//
// Thread-safe.
class UserDefaults {
  public:
    using Observer = std::function<void(const std::string& key)>;

    // The process-wide store at $XDG_CONFIG_HOME/mantleshade/defaults.json (default
    // ~/.config/mantleshade/defaults.json), path resolved at first use.
    static UserDefaults& standard();
    // A store on `path` (tests, tools).
    static std::unique_ptr<UserDefaults> openAt(std::filesystem::path path);

    explicit UserDefaults(std::filesystem::path path);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    std::filesystem::path path();

    // Tests: resolves the standard store's path again from the current XDG_CONFIG_HOME and forgets
    // what it had loaded (for a process that runs several cases, each with its own
    // ScopedConfigHome). Observers stay registered.
    static void resetStandardForTesting();

    std::optional<std::int64_t> integer(const std::string& key);
    std::optional<bool> boolean(const std::string& key);
    std::optional<std::string> string(const std::string& key);
    std::optional<double> number(const std::string& key);
    std::optional<nlohmann::json> object(const std::string& key);
    bool contains(const std::string& key);

    std::int64_t integerOr(const std::string& key, std::int64_t defaultValue) {
        return integer(key).value_or(defaultValue);
    }
    bool boolOr(const std::string& key, bool defaultValue) {
        return boolean(key).value_or(defaultValue);
    }

    // Stores `value` under `key` and saves. Returns false (and keeps the value in memory) when the
    // file could not be written; the failure is printed once per distinct error.
    bool set(const std::string& key, nlohmann::json value);
    bool set(const std::string& key, std::int64_t value) { return set(key, nlohmann::json(value)); }
    bool set(const std::string& key, int value) { return set(key, nlohmann::json(value)); }
    bool set(const std::string& key, bool value) { return set(key, nlohmann::json(value)); }
    bool set(const std::string& key, const std::string& value) {
        return set(key, nlohmann::json(value));
    }
    bool set(const std::string& key, const char* value) {
        return set(key, nlohmann::json(std::string(value)));
    }
    bool set(const std::string& key, double value) { return set(key, nlohmann::json(value)); }
    // Removes `key` and saves; no-op when absent.
    bool remove(const std::string& key);

    // Registers an observer; answers its id for removeObserver.
    std::uint64_t addObserver(Observer observer);
    void removeObserver(std::uint64_t id);

    // Test hook: called after the temp file is written and synced, before the rename. A throw
    // aborts the save, leaving the old file in place.
    void setBeforeRenameHookForTesting(std::function<void()> hook);

  private:
    struct FileStamp {
        bool exists = false;
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t mtimeNs = 0;
        bool operator==(const FileStamp&) const = default;
    };

    // All with mutex_ held.
    std::set<std::string> reloadIfChangedLocked();
    void loadLocked();
    bool saveLocked(std::string& failure);
    // Lock, reload if needed, copy the value out; observers of a reload run after unlocking.
    std::optional<nlohmann::json> fetch(const std::string& key);
    void reportMismatch(const std::string& key, const nlohmann::json& value, const char* wanted);
    void notify(const std::set<std::string>& keys);
    FileStamp stampOf() const;

    std::filesystem::path path_;  // fixed, except by resetStandardForTesting()
    std::mutex mutex_;            // guards everything below up to the observers
    nlohmann::json values_ = nlohmann::json::object();
    FileStamp stamp_;
    bool loaded_ = false;
    bool corrupt_ = false;  // the file on disk did not parse; move it aside before writing
    std::set<std::string> reportedMismatches_;
    std::string lastSaveFailure_;
    std::function<void()> beforeRename_;

    std::mutex observersMutex_;
    std::map<std::uint64_t, std::shared_ptr<Observer>> observers_;
    std::uint64_t nextObserverId_ = 1;
};

}  // namespace foundation
