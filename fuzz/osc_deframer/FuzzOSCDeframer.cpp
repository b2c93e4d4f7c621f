// Feeds arbitrary bytes to the TCP stream de-framer, whole and cut into reads at points drawn
// from the input. The cut must not change the result, buffered bytes and delivered frames stay
// within the frame limit, and where the pure decoder accepts the whole stream and no frame is
// left open, the stream yields the same frames less those over the limit.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "osc/tcp/OSCTCPFraming.h"
#include "osc/tcp/OSCTCPStreamDeframer.h"

namespace {

using namespace rozuri;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_osc_deframer: %s\n", what);
    std::abort();
}

struct Result {
    std::vector<Data> frames;
    std::uint64_t skipped, malformed;
    std::size_t buffered;
};

Result run(OSCTCPFramingMode mode, std::size_t limit, DataView stream, std::uint32_t seed) {
    OSCTCPStreamDeframer d(mode, limit);
    Result r;
    std::size_t at = 0;
    while (at < stream.size()) {
        std::size_t n = stream.size() - at;
        if (seed != 0) {
            seed = seed * 1664525u + 1013904223u;
            n = std::min<std::size_t>(n, (seed >> 24) % 17);
        }
        std::size_t before = r.frames.size();
        d.feed(stream.subspan(at, n), r.frames);
        at += n;
        if (d.bufferedByteCount() > limit) fail("buffered bytes above the frame limit");
        for (std::size_t i = before; i < r.frames.size(); ++i)
            if (r.frames[i].size() > limit) fail("delivered a frame above the limit");
    }
    r.skipped = d.skippedFrameCount();
    r.malformed = d.malformedFrameCount();
    r.buffered = d.bufferedByteCount();
    return r;
}

std::optional<std::vector<Data>> pureDecode(OSCTCPFramingMode mode, DataView stream) {
    try {
        if (mode == OSCTCPFramingMode::osc1_0)
            return packetLengthHeaderDecoded(stream, NumberEndianness::bigEndian);
        if (!stream.empty() && stream.back() != slip::end) return std::nullopt;
        return slipDecoded(stream);
    } catch (const OSCTCPPacketLengthHeaderDecodingError&) {
    } catch (const OSCTCPSLIPDecodingError&) {
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const OSCTCPFramingMode mode =
        data[0] & 1 ? OSCTCPFramingMode::osc1_1 : OSCTCPFramingMode::osc1_0;
    const std::size_t limit =
        data[0] & 2 ? OSCTCPStreamDeframer::defaultFrameLimit : std::size_t{data[1]} * 4;
    const std::uint32_t seed = std::uint32_t{data[2]} << 8 | data[3] | 1;
    DataView stream(data + 4, size - 4);

    Result whole = run(mode, limit, stream, 0);
    Result cut = run(mode, limit, stream, seed);
    if (whole.frames != cut.frames || whole.skipped != cut.skipped ||
        whole.malformed != cut.malformed || whole.buffered != cut.buffered)
        fail("the read boundaries changed the result");

    if (auto expected = pureDecode(mode, stream)) {
        std::erase_if(*expected, [&](const Data& f) { return f.size() > limit; });
        if (whole.frames != *expected || whole.buffered != 0)
            fail("the stream and the pure decoder disagree");
    }
    return 0;
}
