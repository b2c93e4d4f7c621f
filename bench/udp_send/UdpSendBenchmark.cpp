// Sending OSC over UDP on loopback, "/mantleshade/show" with one int32, in one run:
//
// - Throughput: raw sendto of ready bytes (the ceiling), OSCUDPClient.send and liblo's lo_send
//   each hand over a batch to a 127.0.0.1 sink. Reported: hand-overs per second (how fast the
//   caller gets its thread back), delivered messages per second at the sink, and messages lost.
// - Round trip: one message in flight, sent and seen by the receiver's handler:
//   OSCUDPClient -> OSCUDPServer beside lo_send -> lo_server, and raw sendto -> OSCUDPServer
//   (the receiving side alone). Reported: p50 and p99 in µs.

#include <benchmark/benchmark.h>
#include <lo/lo.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessage.h"
#include "osc/udp/OSCUDPClient.h"
#include "osc/udp/OSCUDPServer.h"
#include "tests/support/LoopbackNet.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kMessagesPerRun = 20000;
constexpr int kRoundTrips = 5000;
// How long the sink may see nothing new before the rest counts as lost.
constexpr auto kSettle = 300ms;
constexpr const char* kAddress = "/mantleshade/show";

// Counts datagrams on a 127.0.0.1 port from its own thread.
class Sink {
  public:
    Sink() {
        socket_.bindLoopback();
        int size = 4 << 20;
        ::setsockopt(socket_.fd(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        timeval tv{0, 50'000};
        ::setsockopt(socket_.fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        reader_ = std::thread([this] {
            char buffer[2048];
            while (!stop_.load()) {
                if (::recv(socket_.fd(), buffer, sizeof buffer, 0) > 0) {
                    received_.fetch_add(1, std::memory_order_relaxed);
                    last_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
                }
            }
        });
    }
    ~Sink() {
        stop_ = true;
        reader_.join();
    }
    std::uint16_t port() const { return socket_.port(); }
    void reset() { received_ = 0; }
    // Waits until `expected` came or nothing new came for kSettle; how many came, and when the
    // last one did.
    int settle(int expected, Clock::time_point* lastArrival) {
        int seen = -1;
        auto progress = Clock::now();
        while (received_.load() < expected) {
            const int now = received_.load();
            if (now != seen) {
                seen = now;
                progress = Clock::now();
            } else if (Clock::now() - progress > kSettle) {
                break;
            }
            std::this_thread::sleep_for(1ms);
        }
        *lastArrival = Clock::time_point(Clock::duration(last_.load()));
        return received_.load();
    }

  private:
    mstest::PlainSocket socket_{AF_INET};
    std::atomic<bool> stop_{false};
    std::atomic<int> received_{0};
    std::atomic<Clock::rep> last_{0};
    std::thread reader_;
};

// Runs batches of `send(i)` into the sink and reports hand-overs, deliveries and losses.
void throughput(benchmark::State& state, Sink& sink, const std::function<void(int)>& send) {
    double handOverSeconds = 0;
    double deliverySeconds = 0;
    std::int64_t delivered = 0;
    for (auto _ : state) {
        sink.reset();
        const auto start = Clock::now();
        for (int i = 0; i < kMessagesPerRun; ++i) send(i);
        const auto handedOver = Clock::now();
        Clock::time_point last;
        const int got = sink.settle(kMessagesPerRun, &last);
        handOverSeconds += std::chrono::duration<double>(handedOver - start).count();
        deliverySeconds +=
            std::chrono::duration<double>(std::max(last, handedOver) - start).count();
        delivered += got;
        state.SetIterationTime(std::chrono::duration<double>(handedOver - start).count());
    }
    const double sent = double(kMessagesPerRun) * double(state.iterations());
    state.counters["handovers_per_s"] = sent / handOverSeconds;
    state.counters["delivered_per_s"] = double(delivered) / deliverySeconds;
    state.counters["lost"] = sent - double(delivered);
}

std::vector<std::uint8_t> showBytes(std::int32_t n) {
    return rozuri::OSCMessage(kAddress, {n}).encodedData();
}

void BM_RawSendto(benchmark::State& state) {
    Sink sink;
    mstest::PlainSocket sender(AF_INET);
    const auto to = mstest::loopbackAddress(AF_INET, sink.port());
    const auto bytes = showBytes(1);
    throughput(state, sink, [&](int) {
        ::sendto(sender.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(to.data()), static_cast<socklen_t>(to.size()));
    });
}

void BM_OSCUDPClientSend(benchmark::State& state) {
    Sink sink;
    auto client = rozuri::OSCUDPClient::create();
    const auto port = sink.port();
    throughput(state, sink, [&](int i) {
        client->send(rozuri::OSCMessage(kAddress, {std::int32_t{i}}), "127.0.0.1", port);
    });
}

void BM_LibloSend(benchmark::State& state) {
    Sink sink;
    lo_address to = lo_address_new("127.0.0.1", std::to_string(sink.port()).c_str());
    throughput(state, sink, [&](int i) { lo_send(to, kAddress, "i", i); });
    lo_address_free(to);
}

// Times `kRoundTrips` single messages from send to the receiver's handler.
void roundTrips(benchmark::State& state, std::atomic<int>& seen,
                const std::function<void(int)>& send) {
    std::vector<double> micros;
    micros.reserve(kRoundTrips);
    for (auto _ : state) {
        for (int i = 0; i < kRoundTrips; ++i) {
            const int before = seen.load();
            const auto start = Clock::now();
            send(i);
            const auto deadline = start + 1s;
            while (seen.load(std::memory_order_acquire) == before && Clock::now() < deadline) {
            }
            micros.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
    }
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}

// A started OSCUDPServer on a system-chosen port whose handler counts into `seen`.
auto countingServer(std::atomic<int>& seen) {
    auto server = rozuri::OSCUDPServer::create(
        0, rozuri::OSCTimeTagMode::ignore, nullptr,
        [&seen](const rozuri::OSCMessage&, const rozuri::OSCTimeTag&, const std::string&,
                std::uint16_t) { seen.fetch_add(1, std::memory_order_release); });
    server->start();
    return server;
}

void BM_RoundTripOSCUDPClientToServer(benchmark::State& state) {
    std::atomic<int> seen{0};
    auto server = countingServer(seen);
    auto client = rozuri::OSCUDPClient::create();
    const auto port = server->localPort();
    roundTrips(state, seen, [&](int i) {
        client->send(rozuri::OSCMessage(kAddress, {std::int32_t{i}}), "127.0.0.1", port);
    });
    server->stop();
}

// The receiving side alone: ready bytes by sendto, seen by the OSCUDPServer handler.
void BM_RoundTripRawSendtoToServer(benchmark::State& state) {
    std::atomic<int> seen{0};
    auto server = countingServer(seen);
    mstest::PlainSocket sender(AF_INET);
    const auto to = mstest::loopbackAddress(AF_INET, server->localPort());
    const auto bytes = showBytes(1);
    roundTrips(state, seen, [&](int) {
        ::sendto(sender.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(to.data()), static_cast<socklen_t>(to.size()));
    });
    server->stop();
}
int loCount(const char*, const char*, lo_arg**, int, lo_message, void* user) {
    static_cast<std::atomic<int>*>(user)->fetch_add(1, std::memory_order_release);
    return 0;
}

void BM_RoundTripLibloSendToServer(benchmark::State& state) {
    std::atomic<int> seen{0};
    lo_server_thread server = lo_server_thread_new_with_proto(nullptr, LO_UDP, nullptr);
    if (!server) {
        state.SkipWithError("lo_server_thread_new failed");
        return;
    }
    lo_server_thread_add_method(server, nullptr, nullptr, loCount, &seen);
    lo_server_thread_start(server);
    lo_address to =
        lo_address_new("127.0.0.1", std::to_string(lo_server_thread_get_port(server)).c_str());
    roundTrips(state, seen, [&](int i) { lo_send(to, kAddress, "i", i); });
    lo_address_free(to);
    lo_server_thread_free(server);
}

#define UDP_SEND_BATCHES ->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond)

BENCHMARK(BM_RawSendto) UDP_SEND_BATCHES;
BENCHMARK(BM_OSCUDPClientSend) UDP_SEND_BATCHES;
BENCHMARK(BM_LibloSend) UDP_SEND_BATCHES;
BENCHMARK(BM_RoundTripOSCUDPClientToServer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripRawSendtoToServer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripLibloSendToServer)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
