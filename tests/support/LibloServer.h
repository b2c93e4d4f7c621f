#pragma once

// liblo as a peer: a server thread on a system-chosen port (liblo binds every address; only
// loopback traffic reaches it in the tests) that keeps what it is sent, for a bounded wait.
//
//     std::string describe(const char* path, const char* types, lo_arg** argv, int argc);
//     mstest::LibloServer<std::string> server(describe, LO_TCP);
//     ASSERT_TRUE(server.ok());
//     ... send to server.port() ...
//     ASSERT_TRUE(server.inbox.waitFor(2));
//     std::lock_guard lock(server.inbox.mutex);   // then read inbox.messages, inbox.bundleTags

#include <lo/lo.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace mstest {

template <class Message>
struct LibloInbox {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Message> messages;
    // The time tags of the bundles liblo opened, in order.
    std::vector<std::uint64_t> bundleTags;

    bool waitFor(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return messages.size() >= count; });
    }
};

template <class Message>
class LibloServer {
  public:
    // Turns one message liblo delivered into what the inbox keeps.
    using Reader = Message (*)(const char* path, const char* types, lo_arg** argv, int argc);

    explicit LibloServer(Reader read, int proto = LO_UDP) : read_(read) {
        thread_ = lo_server_thread_new_with_proto(nullptr, proto, nullptr);
        if (!thread_) return;
        lo_server_thread_add_method(thread_, nullptr, nullptr, onMessage, this);
        lo_server_add_bundle_handlers(lo_server_thread_get_server(thread_), onBundle, onBundleEnd,
                                      this);
        lo_server_thread_start(thread_);
    }
    ~LibloServer() {
        if (thread_) {
            lo_server_thread_stop(thread_);
            lo_server_thread_free(thread_);
        }
    }
    LibloServer(const LibloServer&) = delete;
    LibloServer& operator=(const LibloServer&) = delete;

    bool ok() const { return thread_ != nullptr; }
    std::uint16_t port() const {
        return static_cast<std::uint16_t>(lo_server_thread_get_port(thread_));
    }

    LibloInbox<Message> inbox;

  private:
    static int onMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                         void* user) {
        auto* self = static_cast<LibloServer*>(user);
        Message message = self->read_(path, types, argv, argc);
        {
            std::lock_guard lock(self->inbox.mutex);
            self->inbox.messages.push_back(std::move(message));
        }
        self->inbox.changed.notify_all();
        return 0;
    }
    static int onBundle(lo_timetag tag, void* user) {
        auto* self = static_cast<LibloServer*>(user);
        std::lock_guard lock(self->inbox.mutex);
        self->inbox.bundleTags.push_back(std::uint64_t{tag.sec} << 32 | tag.frac);
        return 0;
    }
    static int onBundleEnd(void*) { return 0; }

    Reader read_;
    lo_server_thread thread_ = nullptr;
};

}  // namespace mstest
