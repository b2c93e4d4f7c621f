// Decodes arbitrary bytes as an OSC packet. What decodes must re-encode to exactly its input
// (forwarding is byte-exact), and its content encoded afresh must decode again to the same
// shape and re-encode to the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCMessageEncoder.h"
#include "osc/core/OSCPacket.h"

namespace {

using namespace rozuri;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_osc_packet: %s\n", what);
    std::abort();
}

// The packet rebuilt from its decoded content, without cached bytes.
OSCPacket rebuilt(const OSCPacket& packet) {
    if (const OSCMessage* m = packet.asMessage())
        return OSCMessage(m->addressPattern(), m->values());
    const OSCBundle& b = *packet.asBundle();
    std::vector<OSCPacket> elements;
    for (const OSCPacket& e : b.elements()) elements.push_back(rebuilt(e));
    return OSCBundle(b.timeTag(), std::move(elements));
}

bool sameShape(const OSCPacket& a, const OSCPacket& b) {
    if (a.isMessage() != b.isMessage()) return false;
    if (a.isMessage()) {
        const OSCMessage &x = *a.asMessage(), &y = *b.asMessage();
        if (x.addressPattern() != y.addressPattern() || x.values().size() != y.values().size())
            return false;
        for (std::size_t i = 0; i < x.values().size(); ++i)
            if (x.values()[i].typeName() != y.values()[i].typeName()) return false;
        return true;
    }
    const OSCBundle &x = *a.asBundle(), &y = *b.asBundle();
    if (x.timeTag() != y.timeTag() || x.elements().size() != y.elements().size()) return false;
    for (std::size_t i = 0; i < x.elements().size(); ++i)
        if (!sameShape(x.elements()[i], y.elements()[i])) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DataView input(data, size);
    std::optional<OSCPacket> packet;
    try {
        packet = OSCPacket::decode(input);
    } catch (const OSCDecodeError&) {
        return 0;
    }
    if (!packet) {
        if (packetType(input)) fail("a packet type gave no packet");
        return 0;
    }
    Data again = packet->encodedData();
    if (again.size() != size || !std::equal(again.begin(), again.end(), data))
        fail("decoded packet did not re-encode to its input");
    (void)packet->description();
    (void)packet->multilineDescription();
    (void)packet->hash();
    (void)packet->flattened();

    Data fresh = rebuilt(*packet).encodedData();
    std::optional<OSCPacket> second;
    try {
        second = OSCPacket::decode(fresh);
    } catch (const OSCDecodeError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        fail("freshly encoded content did not decode");
    }
    if (!second || !sameShape(*packet, *second)) fail("freshly encoded content changed shape");
    if (rebuilt(*second).encodedData() != fresh) fail("encoding is not stable");
    // The message's direct writer and the general encoder agree.
    for (const OSCMessage& m : packet->flattened()) {
        OSCMessage plain(m.addressPattern(), m.values());
        if (plain.encodedData() != encodeMessageData(m.addressPattern().rawData(), m.values()))
            fail("direct and general message encoding differ");
    }
    return 0;
}
