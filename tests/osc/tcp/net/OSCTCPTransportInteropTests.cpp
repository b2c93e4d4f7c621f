#include <gtest/gtest.h>

#include <lo/lo.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "OSCTCPTransportSupport.h"
#include "osc/core/OSCBundle.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/tcp/OSCTCPClient.h"
#include "osc/tcp/OSCTCPServer.h"

// The OSC TCP client and server against peers not written here: liblo (library and oscsend)
// and osc.js, over loopback, in both framings.
namespace rozuri {
namespace {

using namespace osctcptest;

const Data kSpecials{0xC0, 0xDB, 0xC0, 0xDC, 0xDD};
const OSCTimeTag kTag(std::uint64_t{5} << 32 | 6);

std::shared_ptr<OSCTCPClient> connectedClient(std::uint16_t port, OSCTCPFramingMode mode) {
    auto client =
        OSCTCPClient::create("127.0.0.1", port, std::nullopt, OSCTimeTagMode::ignore, mode);
    client->connect(5);
    return client;
}

// What our server received, with the bundle tag (1: none); every sender is on loopback.
std::vector<std::pair<OSCMessage, std::uint64_t>> receivedAt(OSCTCPFramingMode mode,
                                                             std::size_t count,
                                                             const std::function<void(int)>& send) {
    Inbox inbox;
    auto server = OSCTCPServer::create(std::nullopt, "127.0.0.1", OSCTimeTagMode::ignore, mode,
                                       nullptr, inbox.handler());
    server->start();
    send(server->localPort());
    EXPECT_TRUE(inbox.waitFor(count));
    std::vector<std::pair<OSCMessage, std::uint64_t>> out;
    for (const Received& r : inbox.items()) {
        EXPECT_TRUE(r.host == "127.0.0.1" && r.port != 0) << r.host << ":" << r.port;
        out.emplace_back(r.message, r.tag);
    }
    return out;
}

int onLibloMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                   void* user) {
    std::string text = std::string(path) + " " + types;
    for (int i = 0; i < argc; ++i) {
        if (types[i] == 'i') text += " " + std::to_string(argv[i]->i);
        auto* p = static_cast<const std::uint8_t*>(types[i] == 'b' ? lo_blob_dataptr(argv[i]) : 0);
        for (std::uint32_t k = 0; p && k < lo_blob_datasize(argv[i]); ++k)
            text += " " + std::to_string(p[k]);
    }
    static_cast<Log<std::string>*>(user)->add(text);
    return 0;
}

TEST(OSCTCPTransportInterop, LibloServerReceivesFromOurClient) {
    for (OSCTCPFramingMode mode : allOSCTCPFramingModes) {
        SCOPED_TRACE(int(mode));
        Log<std::string> got;
        lo_server_thread thread = lo_server_thread_new_with_proto(nullptr, LO_TCP, nullptr);
        ASSERT_NE(thread, nullptr);
        lo_server_thread_add_method(thread, nullptr, nullptr, onLibloMessage, &got);
        lo_server_thread_start(thread);
        auto client = connectedClient(std::uint16_t(lo_server_thread_get_port(thread)), mode);
        client->send(OSCMessage("/ours", {std::int32_t{2}}));
        client->send(OSCMessage("/specials", {kSpecials}));
        client->send(OSCBundle(kTag, {OSCMessage("/b/one", {std::int32_t{1}}),
                                      OSCMessage("/b/two", {std::int32_t{-2}})}));
        EXPECT_TRUE(got.waitFor(4));
        EXPECT_EQ(got.items(),
                  (std::vector<std::string>{"/ours i 2", "/specials b 192 219 192 220 221",
                                            "/b/one i 1", "/b/two i -2"}));
        client->close();
        lo_server_thread_free(thread);
    }
}

TEST(OSCTCPTransportInterop, LibloSendReachesOurServer) {
    for (OSCTCPFramingMode mode : allOSCTCPFramingModes) {
        SCOPED_TRACE(int(mode));
        auto got = receivedAt(mode, 3, [&](int port) {
            lo_address to =
                lo_address_new_with_proto(LO_TCP, "127.0.0.1", std::to_string(port).c_str());
            lo_address_set_stream_slip(to, mode == OSCTCPFramingMode::osc1_1);
            lo_blob blob = lo_blob_new(int(kSpecials.size()), kSpecials.data());
            lo_message m = lo_message_new();
            lo_message_add_int32(m, 3);
            lo_bundle bundle = lo_bundle_new(lo_timetag{5, 6});
            lo_bundle_add_message(bundle, "/in/bundle", m);
            EXPECT_GT(lo_send(to, "/first", "i", 7), 0);
            EXPECT_GT(lo_send(to, "/blob", "b", blob), 0);
            EXPECT_GT(lo_send_bundle(to, bundle), 0);
            lo_bundle_free_recursive(bundle);
            lo_blob_free(blob);
            lo_address_free(to);
        });
        EXPECT_EQ(got,
                  (decltype(got){{OSCMessage("/first", {std::int32_t{7}}), 1},
                                 {OSCMessage("/blob", {kSpecials}), 1},
                                 {OSCMessage("/in/bundle", {std::int32_t{3}}), kTag.rawValue()}}));
    }
}

// oscsend writes one frame and closes at once: the message still carries its sender.
TEST(OSCTCPTransportInterop, OscsendReachesOurServer) {
    auto got = receivedAt(OSCTCPFramingMode::osc1_0, 1, [](int port) {
        const std::string command = "oscsend osc.tcp://127.0.0.1:" + std::to_string(port) +
                                    " /oscsend/tcp is 12 twelve >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
    });
    EXPECT_EQ(got, (decltype(got){{OSCMessage("/oscsend/tcp", {std::int32_t{12}, "twelve"}), 1}}));
}

struct PipeCloser {
    void operator()(FILE* f) const { ::pclose(f); }
};

// The osc.js peer of tests/peers (SLIP with END before and after each packet); it ends itself
// within 5 s.
const std::string kPeers = MS_SOURCE_DIR "/tests/peers";
std::unique_ptr<FILE, PipeCloser> startOscJs(const std::string& args) {
    return {::popen(("node " + kPeers + "/osc-js-tcp-peer.js " + args).c_str(), "r"), {}};
}

std::string readLine(FILE* f) {
    char buffer[512];
    std::string line = std::fgets(buffer, sizeof buffer, f) ? buffer : "";
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

TEST(OSCTCPTransportInterop, OscJsAndOurSlipEnds) {
    if (!std::filesystem::exists(kPeers + "/node_modules/osc"))
        GTEST_SKIP() << "osc.js is not installed (scripts/install-peers)";
    auto got = receivedAt(OSCTCPFramingMode::osc1_1, 3, [](int port) {
        startOscJs("send " + std::to_string(port)).reset();  // waits for it to end
    });
    EXPECT_EQ(got,
              (decltype(got){{OSCMessage("/js/int", {std::int32_t{7}, "seven"}), 1},
                             {OSCMessage("/js/blob", {kSpecials}), 1},
                             {OSCMessage("/js/in/bundle", {std::int32_t{3}}), kTag.rawValue()}}));

    auto peer = startOscJs("listen 3");
    const std::string first = readLine(peer.get());
    ASSERT_EQ(first.rfind("port ", 0), 0u) << first;
    auto client =
        connectedClient(std::uint16_t(std::stoi(first.substr(5))), OSCTCPFramingMode::osc1_1);
    client->send(OSCMessage("/mantleshade/show", {std::int32_t{2}}));
    client->send(OSCMessage("/specials", {kSpecials}));
    client->send(OSCBundle(kTag, {OSCMessage("/b/one", {std::int32_t{1}})}));
    std::vector<std::string> lines;
    for (int i = 0; i < 4; ++i) lines.push_back(readLine(peer.get()));
    EXPECT_EQ(lines,
              (std::vector<std::string>{"/mantleshade/show i 2", "/specials b 192 219 192 220 221",
                                        "#bundle 5 6", "/b/one i 1"}));
}

}  // namespace
}  // namespace rozuri
