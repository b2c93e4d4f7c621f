#pragma once

#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace dispatch {

using Work = std::function<void()>;
using Clock = std::chrono::steady_clock;

enum class QoS { low, normal, high };

// Binds the main thread to the caller, unless it is bound already: by an earlier call, or by the
// first use of Queue::main(), which binds the process's initial thread.
void markMainThread();
bool isMainThread();

// A queue of work. Serial queues run one item at a time in FIFO order on a shared worker pool;
// the three global queues are concurrent; the main queue is serial and runs only on the main
// thread, when someone drains it (the Qt pump, or drain()/runUntil() in tests).
class Queue : public std::enable_shared_from_this<Queue> {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

  public:
    using SpecificKey = const void*;

    static std::shared_ptr<Queue> createSerial(std::string label);
    static const std::shared_ptr<Queue>& main();
    static const std::shared_ptr<Queue>& global(QoS qos = QoS::normal);

    enum class Kind { serial, concurrent, main };
    Queue(PrivateTag, std::string label, Kind kind, QoS qos);
    ~Queue();
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    const std::string& label() const { return label_; }
    bool isConcurrent() const { return kind_ == Kind::concurrent; }
    bool isMain() const { return kind_ == Kind::main; }

    // An exception escaping async work is reported through the assertion handler.
    void async(Work work);
    // Runs `work` in FIFO order with async work and waits for it; exceptions reach the caller.
    // sync onto a queue the calling thread already holds would deadlock: it is reported through
    // the assertion handler instead.
    void sync(const Work& work);

    template <class F>
    auto syncResult(F&& f) -> decltype(f());

    void asyncAfter(Clock::time_point deadline, Work work);
    void asyncAfter(std::chrono::nanoseconds delay, Work work);

    // Queue-specific data; a null value removes the key.
    void setSpecific(SpecificKey key, std::shared_ptr<void> value);
    std::shared_ptr<void> specific(SpecificKey key) const;
    // The value for the queue the caller runs on. Inside nested sync calls the innermost queue
    // that has the key wins, then the queues it was entered from. On the main thread outside any
    // work, the main queue counts as current. Null when none.
    static std::shared_ptr<void> getSpecific(SpecificKey key);

    // The innermost queue the caller runs on, or null.
    static std::shared_ptr<Queue> current();
    // Whether the calling thread holds this queue: it runs work from it, directly or through
    // nested sync calls (so that running inline cannot break its serial order).
    bool isCurrent() const;

    // Main queue only.
    // Called, from any thread, when the main queue goes from empty to non-empty, and at the end
    // of a drain that left work behind.
    void setWaker(std::function<void()> waker);
    // Runs the work queued when it is called (not work added meanwhile); returns how many ran.
    // A drain from work running on the main queue does nothing (the queue is serial).
    std::size_t drain();
    // Drains until `predicate` holds or `timeout` passes, sleeping while there is no work.
    bool runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);

    struct Impl;

  private:
    std::string label_;
    Kind kind_;
    std::unique_ptr<Impl> impl_;

    friend struct Impl;
};

template <class F>
auto Queue::syncResult(F&& f) -> decltype(f()) {
    using R = decltype(f());
    if constexpr (std::is_void_v<R>) {
        sync([&] { f(); });
    } else if constexpr (std::is_reference_v<R>) {
        std::remove_reference_t<R>* result = nullptr;
        sync([&] { result = &f(); });
        if (!result) std::terminate();  // misuse reported through the assertion handler
        return static_cast<R>(*result);
    } else {
        std::optional<std::decay_t<R>> result;
        sync([&] { result.emplace(f()); });
        if (!result) {
            // Only reached after misuse reported through the assertion handler.
            if constexpr (std::is_default_constructible_v<std::decay_t<R>>) {
                return std::decay_t<R>{};
            } else {
                std::terminate();
            }
        }
        return std::move(*result);
    }
}

}  // namespace dispatch
