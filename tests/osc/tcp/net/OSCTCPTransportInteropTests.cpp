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

// "path types int-or-blob" for each message; bundles add "#bundle sec frac" first.
std::string describe(const Received& r) {
    std::string text = r.message.addressPattern().rawAddress() + " ";
    std::string args;
    for (const AnyOSCValue& v : r.message.values()) {
        if (auto* i = v.get_if<std::int32_t>()) {
            text += "i";
            args += " " + std::to_string(*i);
        } else if (auto* b = v.get_if<Data>()) {
            text += "b";
            for (std::uint8_t byte : *b) args += " " + std::to_string(byte);
        } else if (auto* s = v.get_if<std::string>()) {
            text += "s";
            args += " " + *s;
        }
    }
    const std::string tag = r.tag == 1 ? "" : " @" + std::to_string(r.tag);
    return text + args + tag;
}

std::vector<std::string> describeAll(Inbox& inbox) {
    std::vector<std::string> out;
    for (const Received& r : inbox.items()) out.push_back(describe(r));
    return out;
}

std::shared_ptr<OSCTCPServer> startedServer(Inbox& inbox, OSCTCPFramingMode mode) {
    auto server = OSCTCPServer::create(std::nullopt, "127.0.0.1", OSCTimeTagMode::ignore, mode,
                                       nullptr, inbox.handler());
    server->start();
    return server;
}

int onLibloMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                   void* user) {
    std::string text = std::string(path) + " " + types;
    for (int i = 0; i < argc; ++i) {
        if (types[i] == 'i') text += " " + std::to_string(argv[i]->i);
        if (types[i] == 'b') {
            auto* p = static_cast<const std::uint8_t*>(lo_blob_dataptr(argv[i]));
            for (std::uint32_t k = 0; k < lo_blob_datasize(argv[i]); ++k)
                text += " " + std::to_string(p[k]);
        }
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
        auto client =
            OSCTCPClient::create("127.0.0.1", std::uint16_t(lo_server_thread_get_port(thread)),
                                 std::nullopt, OSCTimeTagMode::ignore, mode);
        client->connect(5);
        client->send(OSCMessage("/ours", {std::int32_t{2}}));
        client->send(OSCMessage("/specials", {kSpecials}));
        client->send(OSCBundle(kTag, {OSCMessage("/b/one", {std::int32_t{1}}),
                                      OSCMessage("/b/two", {std::int32_t{-2}})}));
        EXPECT_TRUE(got.waitFor(4));
        EXPECT_EQ(got.items(),
                  (std::vector<std::string>{"/ours i 2", "/specials b 192 219 192 220 221",
                                            "/b/one i 1", "/b/two i -2"}));
        client->close();
        lo_server_thread_stop(thread);
        lo_server_thread_free(thread);
    }
}

TEST(OSCTCPTransportInterop, LibloSendReachesOurServer) {
    for (OSCTCPFramingMode mode : allOSCTCPFramingModes) {
        SCOPED_TRACE(int(mode));
        Inbox inbox;
        auto server = startedServer(inbox, mode);
        const std::string port = std::to_string(server->localPort());
        lo_address to = lo_address_new_with_proto(LO_TCP, "127.0.0.1", port.c_str());
        ASSERT_NE(to, nullptr);
        if (mode == OSCTCPFramingMode::osc1_1) lo_address_set_stream_slip(to, 1);
        lo_blob blob = lo_blob_new(int(kSpecials.size()), kSpecials.data());
        lo_message m = lo_message_new();
        lo_message_add_int32(m, 3);
        lo_bundle bundle = lo_bundle_new(lo_timetag{5, 6});
        lo_bundle_add_message(bundle, "/in/bundle", m);
        EXPECT_GT(lo_send(to, "/first", "i", 7), 0);
        EXPECT_GT(lo_send(to, "/blob", "b", blob), 0);
        EXPECT_GT(lo_send_bundle(to, bundle), 0);
        ASSERT_TRUE(inbox.waitFor(3));
        EXPECT_EQ(describeAll(inbox),
                  (std::vector<std::string>{"/first i 7", "/blob b 192 219 192 220 221",
                                            "/in/bundle i 3 @" + std::to_string(kTag.rawValue())}));
        EXPECT_EQ(inbox.items()[0].host, "127.0.0.1");
        EXPECT_NE(inbox.items()[0].port, 0);
        lo_bundle_free_recursive(bundle);
        lo_blob_free(blob);
        lo_address_free(to);
    }
}

// oscsend writes one frame and closes at once: the message still carries its sender.
TEST(OSCTCPTransportInterop, OscsendReachesOurServer) {
    Inbox inbox;
    auto server = startedServer(inbox, OSCTCPFramingMode::osc1_0);
    const std::string command =
        "oscsend osc.tcp://127.0.0.1:" + std::to_string(server->localPort()) +
        " /oscsend/tcp is 12 twelve >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_EQ(describe(inbox.items()[0]), "/oscsend/tcp is 12 twelve");
    EXPECT_EQ(inbox.items()[0].host, "127.0.0.1");
    EXPECT_NE(inbox.items()[0].port, 0);
}

struct PipeCloser {
    void operator()(FILE* f) const { ::pclose(f); }
};
using Pipe = std::unique_ptr<FILE, PipeCloser>;

// The osc.js peer of tests/peers; it ends itself within 5 s.
Pipe startOscJs(const std::string& args) {
    const std::string peers = MS_SOURCE_DIR "/tests/peers";
    if (!std::filesystem::exists(peers + "/node_modules/osc")) return nullptr;
    return Pipe(::popen(("node " + peers + "/osc-js-tcp-peer.js " + args).c_str(), "r"));
}

bool readLine(FILE* f, std::string& line) {
    char buffer[512];
    if (!std::fgets(buffer, sizeof buffer, f)) return false;
    line = buffer;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return true;
}

TEST(OSCTCPTransportInterop, OscJsSendsToOurSlipServer) {
    Inbox inbox;
    auto server = startedServer(inbox, OSCTCPFramingMode::osc1_1);
    Pipe peer = startOscJs("send " + std::to_string(server->localPort()));
    if (!peer) GTEST_SKIP() << "osc.js is not installed (scripts/install-peers installs it)";
    ASSERT_TRUE(inbox.waitFor(3));
    EXPECT_EQ(describeAll(inbox),
              (std::vector<std::string>{"/js/int is 7 seven", "/js/blob b 192 219 192 220 221",
                                        "/js/in/bundle i 3 @" + std::to_string(kTag.rawValue())}));
}

TEST(OSCTCPTransportInterop, OscJsReceivesFromOurSlipClient) {
    Pipe peer = startOscJs("listen 3");
    if (!peer) GTEST_SKIP() << "osc.js is not installed (scripts/install-peers installs it)";
    std::string line;
    ASSERT_TRUE(readLine(peer.get(), line));
    ASSERT_EQ(line.rfind("port ", 0), 0u) << line;
    auto client =
        OSCTCPClient::create("127.0.0.1", std::uint16_t(std::stoi(line.substr(5))), std::nullopt,
                             OSCTimeTagMode::ignore, OSCTCPFramingMode::osc1_1);
    client->connect(5);
    client->send(OSCMessage("/mantleshade/show", {std::int32_t{2}}));
    client->send(OSCMessage("/specials", {kSpecials}));
    client->send(OSCBundle(kTag, {OSCMessage("/b/one", {std::int32_t{1}})}));
    std::vector<std::string> lines;
    while (lines.size() < 4 && readLine(peer.get(), line)) lines.push_back(line);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"/mantleshade/show i 2", "/specials b 192 219 192 220 221",
                                        "#bundle 5 6", "/b/one i 1"}));
}

}  // namespace
}  // namespace rozuri
