#include <gtest/gtest.h>

#include <lo/lo.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "FramingPeerSupport.h"
#include "osc/core/OSCBundle.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessage.h"
#include "osc/tcp/OSCTCPFraming.h"
#include "tests/support/LibloServer.h"

// Our length-header and SLIP framing against liblo's TCP transport, both ways, over loopback.
namespace rozuri {
namespace {

using namespace framingtest;

const Data kSpecials{0xC0, 0xDB, 0xC0, 0xDC, 0xDD};

// What liblo delivered, as "path types int-or-blob".
std::string describe(const char* path, const char* types, lo_arg** argv, int argc) {
    std::string text = std::string(path) + " " + types;
    for (int i = 0; i < argc; ++i) {
        if (types[i] == 'i') text += " " + std::to_string(argv[i]->i);
        if (types[i] == 'b') {
            auto* p = static_cast<const std::uint8_t*>(lo_blob_dataptr(argv[i]));
            for (std::uint32_t k = 0; k < lo_blob_datasize(argv[i]); ++k)
                text += " " + std::to_string(p[k]);
        }
    }
    return text;
}

struct LibloTcpServer : mstest::LibloServer<std::string> {
    LibloTcpServer() : mstest::LibloServer<std::string>(describe, LO_TCP) {}
};

TEST(OSCTCPFramingLiblo, LibloServerReadsOurFrames) {
    const std::vector<Data> packets = {
        OSCMessage("/mantleshade/show", {std::int32_t{2}}).encodedData(),
        OSCMessage("/specials", {kSpecials}).encodedData(),
        OSCBundle(OSCTimeTag(0x0102030405060708), {OSCMessage("/b/one", {std::int32_t{1}}),
                                                   OSCMessage("/b/two", {std::int32_t{-2}})})
            .encodedData(),
    };
    const std::vector<std::string> expected = {
        "/mantleshade/show i 2", "/specials b 192 219 192 220 221", "/b/one i 1", "/b/two i -2"};
    for (OSCTCPFramingMode mode : allOSCTCPFramingModes) {
        SCOPED_TRACE(int(mode));
        LibloTcpServer server;
        ASSERT_TRUE(server.ok());
        Data stream;
        for (const Data& p : packets) {
            Data framed = framedPacket(p, mode);
            stream.insert(stream.end(), framed.begin(), framed.end());
        }
        Fd fd = connectTo(server.port());
        ASSERT_TRUE(fd.valid());
        ASSERT_TRUE(writeAll(fd, stream, 7));
        ASSERT_TRUE(server.inbox.waitFor(expected.size()));
        std::lock_guard lock(server.inbox.mutex);
        EXPECT_EQ(server.inbox.messages, expected);
        EXPECT_EQ(server.inbox.bundleTags, std::vector<std::uint64_t>{0x0102030405060708});
    }
}

TEST(OSCTCPFramingLiblo, LibloClientFramesDeframeHere) {
    for (bool slip : {false, true}) {
        SCOPED_TRACE(slip ? "SLIP" : "length header");
        Listener listener;
        ASSERT_NE(listener.port(), 0);
        const std::string port = std::to_string(listener.port());
        lo_address to = lo_address_new_with_proto(LO_TCP, "127.0.0.1", port.c_str());
        ASSERT_NE(to, nullptr);
        if (slip) lo_address_set_stream_slip(to, 1);

        lo_blob blob = lo_blob_new(int(kSpecials.size()), kSpecials.data());
        lo_message m = lo_message_new();
        lo_message_add_int32(m, 3);
        lo_bundle bundle = lo_bundle_new(lo_timetag{5, 6});
        lo_bundle_add_message(bundle, "/in/bundle", m);
        EXPECT_GT(lo_send(to, "/first", "i", 7), 0);
        EXPECT_GT(lo_send(to, "/blob", "b", blob), 0);
        EXPECT_GT(lo_send_bundle(to, bundle), 0);

        const std::vector<Data> expected = {
            OSCMessage("/first", {std::int32_t{7}}).encodedData(),
            OSCMessage("/blob", {kSpecials}).encodedData(),
            OSCBundle(OSCTimeTag(std::uint64_t{5} << 32 | 6),
                      {OSCMessage("/in/bundle", {std::int32_t{3}})})
                .encodedData(),
        };
        std::vector<Data> frames = listener.receive(
            slip ? OSCTCPFramingMode::osc1_1 : OSCTCPFramingMode::osc1_0, expected.size());
        EXPECT_EQ(frames, expected);

        lo_bundle_free_recursive(bundle);
        lo_blob_free(blob);
        lo_address_free(to);
    }
}

// oscsend connects, writes one frame and closes at once.
TEST(OSCTCPFramingLiblo, OscsendFrameDeframesHere) {
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    const std::string command = "oscsend osc.tcp://127.0.0.1:" + std::to_string(listener.port()) +
                                " /oscsend/tcp is 12 twelve >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(
        listener.receive(OSCTCPFramingMode::osc1_0, 1),
        std::vector<Data>{OSCMessage("/oscsend/tcp", {std::int32_t{12}, "twelve"}).encodedData()});
}

}  // namespace
}  // namespace rozuri
