// A socket released on its own queue while calls from other threads still wait there: the
// waiting work must not touch the freed socket (a crash under ASan otherwise).

#include <gtest/gtest.h>

#include <future>
#include <memory>

#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/udp/DispatchUdpSocket.h"

namespace {

template <class Socket, class Setter>
void releaseOnOwnQueueWithSetterWaiting(Setter setter) {
    auto queue = dispatch::Queue::createSerial("lifetime");
    auto socket = Socket::create(queue);
    Socket* raw = socket.get();
    std::promise<void> go;
    std::shared_future<void> goSignal = go.get_future().share();
    // The last reference is dropped on the socket's queue, after the setter has been queued.
    queue->async([owned = std::move(socket), goSignal]() mutable {
        goSignal.wait();
        owned.reset();
    });
    setter(*raw);
    go.set_value();
    queue->sync([] {});
}

TEST(SocketLifetime, WorkQueuedBeforeAReleaseOnTheSocketQueueIsDropped) {
    releaseOnOwnQueueWithSetterWaiting<rozuri::DispatchTcpSocket>(
        [](rozuri::DispatchTcpSocket& s) { s.setIPv4Enabled(false); });
    releaseOnOwnQueueWithSetterWaiting<rozuri::DispatchUdpSocket>(
        [](rozuri::DispatchUdpSocket& s) { s.setIPv4Enabled(false); });
}

}  // namespace
