#pragma once

// Helpers shared by the UDP network tests: a recording delegate and a queue barrier, beside the
// loopback helpers of tests/support.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "osc/core/Data.h"
#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketDelegate.h"
#include "platform/dispatch/Queue.h"
#include "tests/support/LoopbackNet.h"

namespace udptest {

using rozuri::Data;
using namespace std::chrono_literals;

using mstest::freeUdpPort;
using mstest::hasIPv6Loopback;
using mstest::kWait;
using mstest::PlainSocket;
using mstest::waitFor;

// Records every callback it is given.
class RecordingDelegate : public rozuri::DispatchUdpSocketDelegate {
  public:
    struct Datagram {
        Data data;
        Data address;
        std::any context;
    };

    RecordingDelegate()
        : DispatchUdpSocketDelegate(didReceiveData | didClose | didSendDataWithTag |
                                    didNotSendDataWithTag | didConnectToAddress | didNotConnect) {}

    // Sends, connects and closes, in the order reported: "sent 1", "failed 2: <description>",
    // "connected <host> <port>", "not connected: <description>", "closed".
    void udpSocketDidSendDataWithTag(const std::shared_ptr<rozuri::DispatchUdpSocket>&,
                                     std::int64_t tag) override {
        log("sent " + std::to_string(tag));
    }
    void udpSocketDidNotSendDataWithTag(const std::shared_ptr<rozuri::DispatchUdpSocket>&,
                                        std::int64_t tag, const foundation::Error& e) override {
        std::lock_guard lock(mutex);
        errors.push_back(e);
        logLocked("failed " + std::to_string(tag) + ": " + e.localizedDescription());
    }
    void udpSocketDidConnectToAddress(const std::shared_ptr<rozuri::DispatchUdpSocket>&,
                                      const Data& address) override {
        std::string host;
        std::uint16_t port = 0;
        rozuri::DispatchUdpSocket::getHost(&host, &port, address);
        log("connected " + host + " " + std::to_string(port));
    }
    void udpSocketDidNotConnect(const std::shared_ptr<rozuri::DispatchUdpSocket>&,
                                const foundation::Error& e) override {
        std::lock_guard lock(mutex);
        errors.push_back(e);
        logLocked("not connected: " + e.localizedDescription());
    }

    bool waitForEvents(std::size_t count, std::chrono::milliseconds timeout = kWait) {
        return waitFor(
            mutex, cv, [&] { return events.size() >= count; }, timeout);
    }
    std::vector<std::string> eventLog() {
        std::lock_guard lock(mutex);
        return events;
    }
    foundation::Error lastError() {
        std::lock_guard lock(mutex);
        return errors.empty() ? foundation::Error() : errors.back();
    }

    void udpSocketDidReceiveData(const std::shared_ptr<rozuri::DispatchUdpSocket>&, Data data,
                                 const Data& address, const std::any& context) override {
        std::lock_guard lock(mutex);
        datagrams.push_back({std::move(data), address, context});
        cv.notify_all();
    }
    void udpSocketDidClose(const std::shared_ptr<rozuri::DispatchUdpSocket>& socket,
                           const std::optional<foundation::Error>& error) override {
        std::lock_guard lock(mutex);
        closes.push_back(error);
        closedWithSocket.push_back(socket != nullptr);
        logLocked("closed");
    }

    bool waitForDatagrams(std::size_t count, std::chrono::milliseconds timeout = kWait) {
        return waitFor(
            mutex, cv, [&] { return datagrams.size() >= count; }, timeout);
    }
    std::size_t datagramCount() {
        std::lock_guard lock(mutex);
        return datagrams.size();
    }
    std::size_t closeCount() {
        std::lock_guard lock(mutex);
        return closes.size();
    }

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Datagram> datagrams;
    std::vector<std::optional<foundation::Error>> closes;
    std::vector<bool> closedWithSocket;
    std::vector<std::string> events;
    std::vector<foundation::Error> errors;

  private:
    void log(std::string event) {
        std::lock_guard lock(mutex);
        logLocked(std::move(event));
    }
    void logLocked(std::string event) {
        events.push_back(std::move(event));
        cv.notify_all();
    }
};

// Runs everything queued on `queue` so far (a serial queue) before returning.
inline void barrier(const std::shared_ptr<dispatch::Queue>& queue) {
    queue->sync([] {});
}

}  // namespace udptest
