// Sending OSC over UDP on loopback, "/mantleshade/show" with one int32, in one run:
//
// - Throughput: raw sendto of ready bytes (the ceiling), OSCUDPClient.send and liblo's lo_send
//   each hand over a batch to a 127.0.0.1 sink. Reported: hand-overs per second (how fast the
//   caller gets its thread back), delivered messages per second at the sink, and messages lost.
// - Round trip: one message in flight, sent and seen by the receiver's handler:
//   OSCUDPClient -> OSCUDPServer beside lo_send -> lo_server, and raw sendto -> OSCUDPServer
//   (the receiving side alone). Reported: p50 and p99 in µs.
// - Peer round trip: an OSCUDPSocket sends to a liblo echo server and its handler sees the echo,
//   beside a liblo sender whose own lo_server sees the echo of the same server.
// - Memory: 1M unpaced 32-byte sends into the sink, each in a fresh process (peak RSS never goes
//   down within one): OSCUDPClient and a DispatchUdpSocket handed ready bytes beside lo_send
//   and raw sendto. Reported: getrusage max RSS,
//   datagrams delivered and their rate (first send to last arrival). Run inside a private
//   network namespace whose loopback has a slow qdisc, this is a sender that outruns its link:
//     unshare -n sh -c 'ip link set lo up &&
//       tc qdisc add dev lo root tbf rate 200mbit burst 16kb limit 16mb &&
//       build/bin/bench_udp_send --benchmark_filter=UnpacedRss'
//   (a 32-byte message is 74 bytes on the link: 200 Mbit/s carries about 338k of them a second).

#include <benchmark/benchmark.h>
#include <lo/lo.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessage.h"
#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketDelegate.h"
#include "osc/udp/OSCUDPClient.h"
#include "osc/udp/OSCUDPServer.h"
#include "osc/udp/OSCUDPSocket.h"
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

// ---- Peer round trip against a liblo echo ----

// Sends every message back to where it came from.
int loEcho(const char* path, const char*, lo_arg**, int, lo_message msg, void* server) {
    lo_send_message_from(lo_message_get_source(msg), static_cast<lo_server>(server), path, msg);
    return 0;
}

struct LibloEcho {
    LibloEcho() {
        thread = lo_server_thread_new_with_proto(nullptr, LO_UDP, nullptr);
        if (!thread) return;
        lo_server_thread_add_method(thread, nullptr, nullptr, loEcho,
                                    lo_server_thread_get_server(thread));
        lo_server_thread_start(thread);
    }
    ~LibloEcho() {
        if (thread) lo_server_thread_free(thread);
    }
    int port() const { return lo_server_thread_get_port(thread); }
    lo_server_thread thread = nullptr;
};

void BM_RoundTripOSCUDPSocketToLibloEcho(benchmark::State& state) {
    LibloEcho echo;
    if (!echo.thread) {
        state.SkipWithError("lo_server_thread_new failed");
        return;
    }
    std::atomic<int> seen{0};
    auto peer = rozuri::OSCUDPSocket::create(
        0, std::string("127.0.0.1"), static_cast<std::uint16_t>(echo.port()),
        rozuri::OSCTimeTagMode::ignore, false, nullptr,
        [&seen](const rozuri::OSCMessage&, const rozuri::OSCTimeTag&, const std::string&,
                std::uint16_t) { seen.fetch_add(1, std::memory_order_release); });
    peer->start();
    roundTrips(state, seen,
               [&](int i) { peer->send(rozuri::OSCMessage(kAddress, {std::int32_t{i}})); });
    peer->stop();
}

void BM_RoundTripLibloToLibloEcho(benchmark::State& state) {
    LibloEcho echo;
    std::atomic<int> seen{0};
    lo_server_thread own = lo_server_thread_new_with_proto(nullptr, LO_UDP, nullptr);
    if (!echo.thread || !own) {
        state.SkipWithError("lo_server_thread_new failed");
        if (own) lo_server_thread_free(own);
        return;
    }
    lo_server_thread_add_method(own, nullptr, nullptr, loCount, &seen);
    lo_server_thread_start(own);
    lo_address to = lo_address_new("127.0.0.1", std::to_string(echo.port()).c_str());
    lo_server from = lo_server_thread_get_server(own);
    roundTrips(state, seen,
               [&](int i) { lo_send_from(to, from, LO_TT_IMMEDIATE, kAddress, "i", i); });
    lo_address_free(to);
    lo_server_thread_free(own);
}

// ---- Peak memory of 1M unpaced sends ----

constexpr int kUnpacedSends = 1'000'000;
// 20 characters: 24 bytes of address, 4 of type tags, 4 of int32: a 32-byte message.
constexpr const char* kAddress32 = "/mantleshade/show/32";
constexpr const char* kRssChildFlag = "--rss-child=";

long maxRssKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// In the child: sends kUnpacedSends 32-byte messages the way `kind` says, lets the sink settle,
// and prints the peak RSS in KiB, the datagrams delivered and the seconds from the first send to
// the last arrival.
int rssChild(const std::string& kind) {
    Sink sink;
    const auto port = sink.port();
    const auto start = Clock::now();
    int delivered = 0;
    Clock::time_point last;
    if (kind == "client") {
        auto client = rozuri::OSCUDPClient::create();
        for (int i = 0; i < kUnpacedSends; ++i) {
            client->send(rozuri::OSCMessage(kAddress32, {std::int32_t{i}}), "127.0.0.1", port);
        }
        delivered = sink.settle(kUnpacedSends, &last);
    } else if (kind == "socket") {
        // Ready bytes straight into a DispatchUdpSocket whose delegate counts the answers.
        struct Counter : rozuri::DispatchUdpSocketDelegate {
            Counter() : DispatchUdpSocketDelegate(didSendDataWithTag | didNotSendDataWithTag) {}
            void udpSocketDidSendDataWithTag(const std::shared_ptr<rozuri::DispatchUdpSocket>&,
                                             std::int64_t) override {
                ++answered;
            }
            void udpSocketDidNotSendDataWithTag(const std::shared_ptr<rozuri::DispatchUdpSocket>&,
                                                std::int64_t, const foundation::Error&) override {
                ++answered;
            }
            std::atomic<int> answered{0};
        };
        auto counter = std::make_shared<Counter>();
        auto socket = rozuri::DispatchUdpSocket::create(
            counter, dispatch::Queue::createSerial("bench.answers"));
        const auto bytes = rozuri::OSCMessage(kAddress32, {std::int32_t{1}}).encodedData();
        for (int i = 0; i < kUnpacedSends; ++i) socket->sendData(bytes, "127.0.0.1", port, -1.0, i);
        delivered = sink.settle(kUnpacedSends, &last);
        const auto answerDeadline = Clock::now() + 60s;
        while (counter->answered.load() < kUnpacedSends && Clock::now() < answerDeadline) {
            std::this_thread::sleep_for(1ms);
        }
        socket->close();
    } else if (kind == "liblo") {
        lo_address to = lo_address_new("127.0.0.1", std::to_string(port).c_str());
        for (int i = 0; i < kUnpacedSends; ++i) lo_send(to, kAddress32, "i", i);
        delivered = sink.settle(kUnpacedSends, &last);
        lo_address_free(to);
    } else if (kind == "raw") {
        mstest::PlainSocket sender(AF_INET);
        const auto to = mstest::loopbackAddress(AF_INET, port);
        const auto bytes = rozuri::OSCMessage(kAddress32, {std::int32_t{1}}).encodedData();
        for (int i = 0; i < kUnpacedSends; ++i) {
            ::sendto(sender.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(to.data()),
                     static_cast<socklen_t>(to.size()));
        }
        delivered = sink.settle(kUnpacedSends, &last);
    } else {
        return 2;
    }
    std::printf("%ld %d %.6f\n", maxRssKiB(), delivered,
                std::chrono::duration<double>(std::max(last, start) - start).count());
    return 0;
}

std::string selfPath;

void unpacedRss(benchmark::State& state, const char* kind) {
    double mib = 0;
    int delivered = 0;
    double seconds = 0;
    for (auto _ : state) {
        const std::string command = selfPath + " " + kRssChildFlag + kind;
        FILE* child = ::popen(command.c_str(), "r");
        long kib = -1;
        if (!child || std::fscanf(child, "%ld %d %lf", &kib, &delivered, &seconds) != 3) kib = -1;
        if (child) ::pclose(child);
        if (kib < 0) {
            state.SkipWithError("the measuring process failed");
            return;
        }
        mib = double(kib) / 1024.0;
    }
    state.counters["peak_rss_MiB"] = mib;
    state.counters["delivered"] = delivered;
    state.counters["delivered_per_s"] = seconds > 0 ? delivered / seconds : 0;
}

void BM_UnpacedRssOSCUDPClient(benchmark::State& state) {
    unpacedRss(state, "client");
}
void BM_UnpacedRssDispatchUdpSocket(benchmark::State& state) {
    unpacedRss(state, "socket");
}
void BM_UnpacedRssLiblo(benchmark::State& state) {
    unpacedRss(state, "liblo");
}
void BM_UnpacedRssRawSendto(benchmark::State& state) {
    unpacedRss(state, "raw");
}

#define UDP_SEND_BATCHES ->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond)

BENCHMARK(BM_RawSendto) UDP_SEND_BATCHES;
BENCHMARK(BM_OSCUDPClientSend) UDP_SEND_BATCHES;
BENCHMARK(BM_LibloSend) UDP_SEND_BATCHES;
BENCHMARK(BM_RoundTripOSCUDPClientToServer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripRawSendtoToServer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripLibloSendToServer)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripOSCUDPSocketToLibloEcho)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RoundTripLibloToLibloEcho)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpacedRssOSCUDPClient)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpacedRssDispatchUdpSocket)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpacedRssLiblo)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpacedRssRawSendto)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strncmp(argv[1], kRssChildFlag, std::strlen(kRssChildFlag)) == 0) {
        return rssChild(argv[1] + std::strlen(kRssChildFlag));
    }
    char path[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    selfPath = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string(argv[0]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
