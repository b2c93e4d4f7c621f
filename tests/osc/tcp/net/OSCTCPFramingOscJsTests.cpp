#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "FramingPeerSupport.h"
#include "osc/core/OSCBundle.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessage.h"
#include "osc/tcp/OSCTCPFraming.h"

// Our SLIP framing against osc.js's TCP port (a node subprocess), both ways, over loopback.
namespace rozuri {
namespace {

using namespace framingtest;

const std::string kPeers = MS_SOURCE_DIR "/tests/peers";
const Data kSpecials{0xC0, 0xDB, 0xC0, 0xDC, 0xDD};

struct PipeCloser {
    void operator()(FILE* f) const { ::pclose(f); }
};
using Pipe = std::unique_ptr<FILE, PipeCloser>;

// Starts the peer; its standard output is read line by line. It ends itself within 5 s.
Pipe startPeer(const std::string& args) {
    if (!std::filesystem::exists(kPeers + "/node_modules/osc")) return nullptr;
    return Pipe(::popen(("node " + kPeers + "/osc-js-tcp-peer.js " + args).c_str(), "r"));
}

bool readLine(FILE* f, std::string& line) {
    char buffer[512];
    if (!std::fgets(buffer, sizeof buffer, f)) return false;
    line = buffer;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return true;
}

TEST(OSCTCPFramingOscJs, OscJsFramesDeframeHere) {
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    Pipe peer = startPeer("send " + std::to_string(listener.port()));
    if (!peer) GTEST_SKIP() << "osc.js is not installed (scripts/install-deps installs it)";
    const std::vector<Data> expected = {
        OSCMessage("/js/int", {std::int32_t{7}, "seven"}).encodedData(),
        OSCMessage("/js/blob", {kSpecials}).encodedData(),
        OSCBundle(OSCTimeTag(std::uint64_t{5} << 32 | 6),
                  {OSCMessage("/js/in/bundle", {std::int32_t{3}})})
            .encodedData(),
    };
    Data raw;
    EXPECT_EQ(listener.receive(OSCTCPFramingMode::osc1_1, expected.size(), &raw), expected);
    Data ours;
    for (const Data& p : expected) {
        Data framed = slipEncoded(p);
        ours.insert(ours.end(), framed.begin(), framed.end());
    }
    EXPECT_EQ(raw, ours);  // END before and after each packet, the same escapes
}

TEST(OSCTCPFramingOscJs, OscJsReadsOurFrames) {
    Pipe peer = startPeer("listen 3");
    if (!peer) GTEST_SKIP() << "osc.js is not installed (scripts/install-deps installs it)";
    std::string line;
    ASSERT_TRUE(readLine(peer.get(), line));
    ASSERT_EQ(line.rfind("port ", 0), 0u) << line;
    Fd fd = connectTo(std::uint16_t(std::stoi(line.substr(5))));
    ASSERT_TRUE(fd.valid());

    Data stream;
    for (const Data& p : {
             OSCMessage("/mantleshade/show", {std::int32_t{2}}).encodedData(),
             OSCMessage("/specials", {kSpecials}).encodedData(),
             OSCBundle(OSCTimeTag(std::uint64_t{5} << 32 | 6),
                       {OSCMessage("/b/one", {std::int32_t{1}})})
                 .encodedData(),
         }) {
        Data framed = slipEncoded(p);
        stream.insert(stream.end(), framed.begin(), framed.end());
    }
    ASSERT_TRUE(writeAll(fd, stream, 1));
    std::vector<std::string> lines;
    while (lines.size() < 4 && readLine(peer.get(), line)) lines.push_back(line);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"/mantleshade/show i 2", "/specials b 192 219 192 220 221",
                                        "#bundle 5 6", "/b/one i 1"}));
}

}  // namespace
}  // namespace rozuri
