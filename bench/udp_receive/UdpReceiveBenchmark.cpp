// Receiving OSC over UDP on loopback. One paced sender; three receivers take the same traffic
// in turn: a raw blocking recvfrom loop (the ceiling), OSCUDPServer (socket, decode, receive
// dispatch, handler on its queue) and liblo's lo_server. Each reports delivered messages per
// second and the messages lost. Rate 0 means the sender does not pace itself.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "osc/udp/OSCUDPServer.h"
#include "tests/support/Bytes.h"
#include "tests/support/LoopbackNet.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kMessagesPerRun = 20000;
// How long a receiver may see nothing new after the last send before the rest counts as lost.
constexpr auto kSettle = 300ms;

// Sends `count` messages to 127.0.0.1:port, `rate` per second (0: as fast as it can).
void sendPaced(std::uint16_t port, int count, int rate) {
    mstest::PlainSocket sender(AF_INET);
    const auto to = mstest::loopbackAddress(AF_INET, port);
    const auto start = Clock::now();
    const auto interval =
        rate > 0 ? std::chrono::nanoseconds(1'000'000'000LL / rate) : std::chrono::nanoseconds(0);
    for (int i = 0; i < count; ++i) {
        if (rate > 0) {
            const auto due = start + interval * i;
            while (Clock::now() < due) {
            }
        }
        const auto msg = mstest::oscMessage("/mantleshade/show", {i});
        ::sendto(sender.fd(), msg.data(), msg.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(to.data()), static_cast<socklen_t>(to.size()));
    }
}

// What one receiver counted, written from its own thread.
struct Tally {
    std::atomic<int> received{0};
    std::atomic<std::int64_t> lastNanos{0};

    void count() {
        received.fetch_add(1, std::memory_order_relaxed);
        lastNanos.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    }
};

// Runs one batch through a receiver and reports its rate and losses.
void runBatch(benchmark::State& state, std::uint16_t port, Tally& tally, int& totalReceived,
              double& totalSeconds) {
    const int rate = static_cast<int>(state.range(0));
    tally.received = 0;
    const auto start = Clock::now();
    std::thread sender(sendPaced, port, kMessagesPerRun, rate);
    sender.join();
    int seen = -1;
    auto lastProgress = Clock::now();
    while (tally.received.load() < kMessagesPerRun) {
        const int now = tally.received.load();
        if (now != seen) {
            seen = now;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress > kSettle) {
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
    const int got = tally.received.load();
    const auto end =
        got ? Clock::time_point(Clock::duration(tally.lastNanos.load())) : Clock::now();
    totalReceived += got;
    totalSeconds += std::chrono::duration<double>(end - start).count();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
}

void report(benchmark::State& state, int totalReceived, double totalSeconds) {
    const double sent = double(kMessagesPerRun) * double(state.iterations());
    state.counters["msgs_per_s"] = totalSeconds > 0 ? totalReceived / totalSeconds : 0;
    state.counters["lost"] = sent - totalReceived;
    state.counters["lost_pct"] = 100.0 * (sent - totalReceived) / sent;
}

void BM_RawRecvfrom(benchmark::State& state) {
    mstest::PlainSocket receiver(AF_INET);
    receiver.bindLoopback();
    const int fd = receiver.fd();
    timeval tv{0, 50'000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    Tally tally;
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        std::vector<std::uint8_t> buf(65536);
        while (!stop.load()) {
            if (::recvfrom(fd, buf.data(), buf.size(), 0, nullptr, nullptr) > 0) tally.count();
        }
    });
    int totalReceived = 0;
    double totalSeconds = 0;
    for (auto _ : state) runBatch(state, receiver.port(), tally, totalReceived, totalSeconds);
    stop = true;
    reader.join();
    report(state, totalReceived, totalSeconds);
}

void BM_OSCUDPServer(benchmark::State& state) {
    Tally tally;
    auto queue = dispatch::Queue::createSerial("bench.osc");
    auto server = rozuri::OSCUDPServer::create(
        0, rozuri::OSCTimeTagMode::ignore, queue,
        [&tally](const rozuri::OSCMessage& m, const rozuri::OSCTimeTag&, const std::string&,
                 std::uint16_t) {
            benchmark::DoNotOptimize(m.values().size());
            tally.count();
        });
    server->start();
    int totalReceived = 0;
    double totalSeconds = 0;
    for (auto _ : state) runBatch(state, server->localPort(), tally, totalReceived, totalSeconds);
    server->stop();
    queue->sync([] {});
    report(state, totalReceived, totalSeconds);
}

int loHandler(const char*, const char*, lo_arg** argv, int argc, lo_message, void* user) {
    if (argc > 0) benchmark::DoNotOptimize(argv[0]->i);
    static_cast<Tally*>(user)->count();
    return 0;
}

void BM_Liblo(benchmark::State& state) {
    Tally tally;
    lo_server server = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    if (!server) {
        state.SkipWithError("lo_server_new failed");
        return;
    }
    lo_server_add_method(server, nullptr, nullptr, loHandler, &tally);
    const auto port = static_cast<std::uint16_t>(lo_server_get_port(server));
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load()) lo_server_recv_noblock(server, 50);
    });
    int totalReceived = 0;
    double totalSeconds = 0;
    for (auto _ : state) runBatch(state, port, tally, totalReceived, totalSeconds);
    stop = true;
    reader.join();
    lo_server_free(server);
    report(state, totalReceived, totalSeconds);
}

// Paced rates in messages per second; 0 floods.
#define UDP_RECEIVE_RATES \
    ->Arg(20000)->Arg(100000)->Arg(0)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond)

BENCHMARK(BM_RawRecvfrom) UDP_RECEIVE_RATES;
BENCHMARK(BM_OSCUDPServer) UDP_RECEIVE_RATES;
BENCHMARK(BM_Liblo) UDP_RECEIVE_RATES;

}  // namespace

BENCHMARK_MAIN();
