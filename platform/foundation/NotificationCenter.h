#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace dispatch {
class Queue;
}

namespace foundation {

// In-process notifications keyed by name. Thread-safe.
class NotificationCenter {
  public:
    using ObserverToken = std::uint64_t;

    static NotificationCenter& defaultCenter();

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Calls `block` for each post of `name`: on `queue` (asynchronously), or synchronously on the
    // posting thread when `queue` is null. The app passes dispatch::Queue::main().
    ObserverToken addObserver(std::string name, std::shared_ptr<dispatch::Queue> queue,
                              std::function<void()> block);
    // Delivers `name` to every observer registered for it at the time of the call, in the order
    // they were added. Synchronous observers run before this returns, without any lock held, so
    // they may add and remove observers.
    void post(const std::string& name);
    // After this returns no queued delivery runs the block; a block already running (on another
    // thread) finishes. Does not wait for it. Unknown tokens are ignored.
    void removeObserver(ObserverToken token);

  private:
    struct Entry;
    std::mutex mutex_;
    std::map<ObserverToken, std::shared_ptr<Entry>> entries_;  // by token: registration order
    ObserverToken nextToken_ = 1;
};

}  // namespace foundation
