#include "platform/dispatch/Assert.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/dispatch/Immortal.h"

namespace dispatch {

namespace {
// Runtime threads may report during static destruction.
struct HandlerSlot {
    std::mutex mutex;
    std::shared_ptr<const AssertionHandler> handler;
};
HandlerSlot& slot() {
    static Immortal<HandlerSlot> instance;
    return instance.get();
}
}  // namespace

void setAssertionHandler(AssertionHandler handler) {
    auto fresh = handler ? std::make_shared<const AssertionHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(slot().mutex);
    slot().handler.swap(fresh);
}

void assertionFailure(const std::string& message, const char* file, int line) {
    std::shared_ptr<const AssertionHandler> handler;
    {
        std::lock_guard lock(slot().mutex);
        handler = slot().handler;
    }
    if (handler) {
        (*handler)(message, file, line);
        return;
    }
    std::fprintf(stderr, "Fatal error: %s: file %s, line %d\n", message.c_str(), file ? file : "?",
                 line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace dispatch
