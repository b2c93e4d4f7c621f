#include "platform/foundation/NotificationCenter.h"

#include <atomic>
#include <vector>

#include "platform/dispatch/Immortal.h"
#include "platform/dispatch/Queue.h"

namespace foundation {

struct NotificationCenter::Entry {
    std::string name;
    std::shared_ptr<dispatch::Queue> queue;
    std::function<void()> block;
    std::atomic<bool> removed{false};
};

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: queue workers may still post while the process exits.
    static dispatch::Immortal<NotificationCenter> center;
    return center.get();
}

NotificationCenter::ObserverToken NotificationCenter::addObserver(
    std::string name, std::shared_ptr<dispatch::Queue> queue, std::function<void()> block) {
    auto entry = std::make_shared<Entry>();
    entry->name = std::move(name);
    entry->queue = std::move(queue);
    entry->block = std::move(block);
    std::lock_guard lock(mutex_);
    ObserverToken token = nextToken_++;
    entries_.emplace(token, std::move(entry));
    return token;
}

void NotificationCenter::post(const std::string& name) {
    std::vector<std::shared_ptr<Entry>> targets;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [token, entry] : entries_)
            if (entry->name == name) targets.push_back(entry);
    }
    for (auto& entry : targets) {
        if (!entry->block) continue;
        if (!entry->queue) {
            if (!entry->removed.load(std::memory_order_acquire)) entry->block();
            continue;
        }
        entry->queue->async([entry] {
            if (!entry->removed.load(std::memory_order_acquire)) entry->block();
        });
    }
}

void NotificationCenter::removeObserver(ObserverToken token) {
    std::shared_ptr<Entry> entry;
    {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(token);
        if (it == entries_.end()) return;
        entry = std::move(it->second);
        entries_.erase(it);
    }
    entry->removed.store(true, std::memory_order_release);
}

}  // namespace foundation
