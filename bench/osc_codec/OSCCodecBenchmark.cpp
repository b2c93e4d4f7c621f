// Decode (and read every value) and encode a mix of small OSC packets with this library, liblo
// and oscpack, then print messages per second and our ratio to each peer.
//
// The mix: a message with one int32, one with three floats, one with a string and a blob, and
// a bundle of two messages; one round is 5 messages. Encode has four rows of ours: build and
// encode, encode straight from the values (OSCPacketWriter, for a packet made only to be sent),
// encode of built packets, and encode of built packets into a buffer kept by the caller.

#include <benchmark/benchmark.h>
#include <lo/lo.h>
#include <lo/lo_lowlevel.h>
#include <osc/OscOutboundPacketStream.h>
#include <osc/OscReceivedElements.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCPacket.h"
#include "osc/core/OSCPacketWriter.h"

namespace {

using rozuri::AnyOSCValue;
using rozuri::Data;
using rozuri::OSCBundle;
using rozuri::OSCMessage;
using rozuri::OSCPacket;

constexpr int kMessagesPerRound = 5;
const Data kBlob{1, 2, 3, 4, 5, 6, 7};

std::vector<OSCPacket> mixPackets() {
    return {
        OSCMessage("/mixer/1/mute", {std::int32_t{1}}),
        OSCMessage("/xyz/position", {0.25f, 0.5f, 0.75f}),
        OSCMessage("/label/text", {std::string("hello world"), kBlob}),
        OSCBundle(rozuri::OSCTimeTag(0x83AA7E8080000000ULL),
                  {OSCMessage("/mixer/1/mute", {std::int32_t{0}}),
                   OSCMessage("/xyz/position", {1.0f, 2.0f, 3.0f})}),
    };
}

// The mix on the wire, made by this library (checked to decode alike in both peers).
const std::vector<Data>& wireMix() {
    static const std::vector<Data> wire = [] {
        std::vector<Data> out;
        for (const OSCPacket& p : mixPackets()) out.push_back(p.encodedData());
        return out;
    }();
    return wire;
}

// MARK: - Decode

// Reads by each value's kind, as oscpack's and liblo's readers go by the type tag.
double readValues(const OSCMessage& m) {
    double sum = static_cast<double>(m.addressPattern().rawAddress().size());
    for (const AnyOSCValue& v : m.values()) {
        switch (v.descriptor().token) {
            case rozuri::OSCValueToken::int32:
                sum += v.get<std::int32_t>();
                break;
            case rozuri::OSCValueToken::float32:
                sum += v.get<float>();
                break;
            case rozuri::OSCValueToken::string:
                sum += static_cast<double>(v.get<std::string>().size());
                break;
            case rozuri::OSCValueToken::blob:
                sum += static_cast<double>(v.get<Data>().size());
                break;
            default:
                break;
        }
    }
    return sum;
}

// The mix in shared buffers, as a receiver hands datagrams over; made once, so that no run
// counts their making.
const std::vector<std::shared_ptr<const Data>>& sharedWireMix() {
    static const std::vector<std::shared_ptr<const Data>> wire = [] {
        std::vector<std::shared_ptr<const Data>> out;
        for (const Data& d : wireMix()) out.push_back(std::make_shared<const Data>(d));
        return out;
    }();
    return wire;
}

// The peers parse bytes in place, so ours decodes from the received buffer it shares (as a
// receiver hands a datagram over) rather than from a copy.
void BM_Decode_ROZUri(benchmark::State& state) {
    const auto& wire = sharedWireMix();
    for (auto _ : state) {
        double sum = 0;
        for (const auto& d : wire) {
            std::optional<OSCPacket> p = OSCPacket::decode(d);
            if (const OSCMessage* m = p->asMessage())
                sum += readValues(*m);
            else
                for (const OSCPacket& e : p->asBundle()->elements())
                    sum += readValues(*e.asMessage());
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kMessagesPerRound);
}

// The same from a plain byte view, which costs one copy of the bytes.
void BM_DecodeCopy_ROZUri(benchmark::State& state) {
    const auto& wire = wireMix();
    for (auto _ : state) {
        double sum = 0;
        for (const Data& d : wire)
            for (const OSCMessage& m : OSCPacket::decode(rozuri::DataView(d))->flattened())
                sum += readValues(m);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kMessagesPerRound);
}

double readLibloMessage(lo_message m, const char* path) {
    double sum = static_cast<double>(std::strlen(path));
    const char* types = lo_message_get_types(m);
    lo_arg** argv = lo_message_get_argv(m);
    for (int i = 0; types[i]; ++i) {
        switch (types[i]) {
            case 'i':
                sum += argv[i]->i;
                break;
            case 'f':
                sum += argv[i]->f;
                break;
            case 's':
                sum += static_cast<double>(std::strlen(&argv[i]->s));
                break;
            case 'b':
                sum += argv[i]->blob.size;
                break;
            default:
                break;
        }
    }
    return sum;
}

double decodeLiblo(const Data& d) {
    int result = 0;
    // liblo has no public bundle parser: walk the bundle layout and deserialise each message.
    if (d[0] == '#') {
        double sum = 0;
        std::size_t pos = 16;
        while (pos + 4 <= d.size()) {
            std::uint32_t n = (std::uint32_t{d[pos]} << 24) | (std::uint32_t{d[pos + 1]} << 16) |
                              (std::uint32_t{d[pos + 2]} << 8) | d[pos + 3];
            pos += 4;
            void* element = const_cast<std::uint8_t*>(d.data() + pos);
            lo_message m = lo_message_deserialise(element, n, &result);
            sum += readLibloMessage(m, static_cast<const char*>(element));
            lo_message_free(m);
            pos += n;
        }
        return sum;
    }
    void* raw = const_cast<std::uint8_t*>(d.data());
    lo_message m = lo_message_deserialise(raw, d.size(), &result);
    double sum = readLibloMessage(m, static_cast<const char*>(raw));
    lo_message_free(m);
    return sum;
}

void BM_Decode_liblo(benchmark::State& state) {
    const auto& wire = wireMix();
    for (auto _ : state) {
        double sum = 0;
        for (const Data& d : wire) sum += decodeLiblo(d);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kMessagesPerRound);
}

double readOscpackMessage(const osc::ReceivedMessage& m) {
    double sum = static_cast<double>(std::strlen(m.AddressPattern()));
    for (auto a = m.ArgumentsBegin(); a != m.ArgumentsEnd(); ++a) {
        if (a->IsInt32())
            sum += a->AsInt32Unchecked();
        else if (a->IsFloat())
            sum += a->AsFloatUnchecked();
        else if (a->IsString())
            sum += static_cast<double>(std::strlen(a->AsStringUnchecked()));
        else if (a->IsBlob()) {
            const void* data;
            osc::osc_bundle_element_size_t size;
            a->AsBlobUnchecked(data, size);
            sum += size;
        }
    }
    return sum;
}

void BM_Decode_oscpack(benchmark::State& state) {
    const auto& wire = wireMix();
    for (auto _ : state) {
        double sum = 0;
        for (const Data& d : wire) {
            osc::ReceivedPacket p(reinterpret_cast<const char*>(d.data()),
                                  static_cast<osc::osc_bundle_element_size_t>(d.size()));
            if (p.IsBundle()) {
                osc::ReceivedBundle b(p);
                for (auto e = b.ElementsBegin(); e != b.ElementsEnd(); ++e)
                    sum += readOscpackMessage(osc::ReceivedMessage(*e));
            } else {
                sum += readOscpackMessage(osc::ReceivedMessage(p));
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kMessagesPerRound);
}

// MARK: - Encode

// Building each packet from its values, then encoding it, as a sender does. oscpack's stream
// writer has no message object to build, so this row pays for more than the peer's.
void BM_Encode_ROZUri(benchmark::State& state) {
    for (auto _ : state) {
        std::size_t total = 0;
        total += OSCMessage("/mixer/1/mute", {std::int32_t{1}}).encodedData().size();
        total += OSCMessage("/xyz/position", {0.25f, 0.5f, 0.75f}).encodedData().size();
        total +=
            OSCMessage("/label/text", {std::string("hello world"), kBlob}).encodedData().size();
        total += OSCBundle(rozuri::OSCTimeTag(0x83AA7E8080000000ULL),
                           {OSCMessage("/mixer/1/mute", {std::int32_t{0}}),
                            OSCMessage("/xyz/position", {1.0f, 2.0f, 3.0f})})
                     .encodedData()
                     .size();
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kMessagesPerRound);
}

// The same packets written straight from the values into a buffer the caller keeps, as a
// sender does that builds a packet only to send it, and as oscpack's stream writes.
void BM_EncodeDirect_ROZUri(benchmark::State& state) {
    Data buffer;
    buffer.reserve(1024);
    const std::string text("hello world");
    for (auto _ : state) {
        std::size_t total = 0;
        buffer.clear();
        rozuri::OSCPacketWriter(buffer).message("/mixer/1/mute", std::int32_t{1});
        total += buffer.size();
        buffer.clear();
        rozuri::OSCPacketWriter(buffer).message("/xyz/position", 0.25f, 0.5f, 0.75f);
        total += buffer.size();
        buffer.clear();
        rozuri::OSCPacketWriter(buffer).message("/label/text", text, kBlob);
        total += buffer.size();
        buffer.clear();
        rozuri::OSCPacketWriter(buffer)
            .beginBundle(rozuri::OSCTimeTag(0x83AA7E8080000000ULL))
            .message("/mixer/1/mute", std::int32_t{0})
            .message("/xyz/position", 1.0f, 2.0f, 3.0f)
            .endBundle();
        total += buffer.size();
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kMessagesPerRound);
}

const std::vector<OSCPacket>& builtMix() {
    static const std::vector<OSCPacket> packets = mixPackets();
    return packets;
}

// Encoding packets built beforehand (encodedData(): a new buffer per packet).
void BM_EncodeBuilt_ROZUri(benchmark::State& state) {
    const std::vector<OSCPacket>& packets = builtMix();
    for (auto _ : state) {
        std::size_t total = 0;
        for (const OSCPacket& p : packets) total += p.encodedData().size();
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kMessagesPerRound);
}

// The same into one buffer the caller keeps, as oscpack's stream writes into the caller's array.
void BM_EncodeInto_ROZUri(benchmark::State& state) {
    const std::vector<OSCPacket>& packets = builtMix();
    Data buffer;
    buffer.reserve(1024);
    for (auto _ : state) {
        std::size_t total = 0;
        for (const OSCPacket& p : packets) {
            buffer.clear();
            p.appendEncodedData(buffer);
            total += buffer.size();
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kMessagesPerRound);
}

std::size_t serialiseLiblo(lo_message m, const char* path, char* buffer, std::size_t size) {
    std::size_t length = size;
    lo_message_serialise(m, path, buffer, &length);
    lo_message_free(m);
    return length;
}

void BM_Encode_liblo(benchmark::State& state) {
    char buffer[1024];
    for (auto _ : state) {
        std::size_t total = 0;
        lo_message a = lo_message_new();
        lo_message_add_int32(a, 1);
        total += serialiseLiblo(a, "/mixer/1/mute", buffer, sizeof buffer);
        lo_message b = lo_message_new();
        lo_message_add_float(b, 0.25f);
        lo_message_add_float(b, 0.5f);
        lo_message_add_float(b, 0.75f);
        total += serialiseLiblo(b, "/xyz/position", buffer, sizeof buffer);
        lo_message c = lo_message_new();
        lo_message_add_string(c, "hello world");
        lo_blob blob = lo_blob_new(static_cast<std::int32_t>(kBlob.size()), kBlob.data());
        lo_message_add_blob(c, blob);
        total += serialiseLiblo(c, "/label/text", buffer, sizeof buffer);
        lo_blob_free(blob);
        lo_bundle bundle = lo_bundle_new(lo_timetag{0x83AA7E80u, 0x80000000u});
        lo_message d = lo_message_new();
        lo_message_add_int32(d, 0);
        lo_message e = lo_message_new();
        lo_message_add_float(e, 1.0f);
        lo_message_add_float(e, 2.0f);
        lo_message_add_float(e, 3.0f);
        lo_bundle_add_message(bundle, "/mixer/1/mute", d);
        lo_bundle_add_message(bundle, "/xyz/position", e);
        std::size_t length = sizeof buffer;
        lo_bundle_serialise(bundle, buffer, &length);
        total += length;
        lo_bundle_free_recursive(bundle);
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kMessagesPerRound);
}

void BM_Encode_oscpack(benchmark::State& state) {
    char buffer[1024];
    for (auto _ : state) {
        std::size_t total = 0;
        {
            osc::OutboundPacketStream p(buffer, sizeof buffer);
            p << osc::BeginMessage("/mixer/1/mute") << std::int32_t{1} << osc::EndMessage;
            total += p.Size();
        }
        {
            osc::OutboundPacketStream p(buffer, sizeof buffer);
            p << osc::BeginMessage("/xyz/position") << 0.25f << 0.5f << 0.75f << osc::EndMessage;
            total += p.Size();
        }
        {
            osc::OutboundPacketStream p(buffer, sizeof buffer);
            p << osc::BeginMessage("/label/text") << "hello world"
              << osc::Blob(kBlob.data(), static_cast<osc::osc_bundle_element_size_t>(kBlob.size()))
              << osc::EndMessage;
            total += p.Size();
        }
        {
            osc::OutboundPacketStream p(buffer, sizeof buffer);
            p << osc::BeginBundle(0x83AA7E8080000000ULL) << osc::BeginMessage("/mixer/1/mute")
              << std::int32_t{0} << osc::EndMessage << osc::BeginMessage("/xyz/position") << 1.0f
              << 2.0f << 3.0f << osc::EndMessage << osc::EndBundle;
            total += p.Size();
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetItemsProcessed(state.iterations() * kMessagesPerRound);
}

// Registered in main, so that a fixed iteration count can be asked for.
void registerBenchmarks(benchmark::IterationCount iterations) {
    const std::pair<const char*, void (*)(benchmark::State&)> all[] = {
        {"BM_Decode_ROZUri", BM_Decode_ROZUri},
        {"BM_DecodeCopy_ROZUri", BM_DecodeCopy_ROZUri},
        {"BM_Decode_liblo", BM_Decode_liblo},
        {"BM_Decode_oscpack", BM_Decode_oscpack},
        {"BM_Encode_ROZUri", BM_Encode_ROZUri},
        {"BM_EncodeDirect_ROZUri", BM_EncodeDirect_ROZUri},
        {"BM_EncodeBuilt_ROZUri", BM_EncodeBuilt_ROZUri},
        {"BM_EncodeInto_ROZUri", BM_EncodeInto_ROZUri},
        {"BM_Encode_liblo", BM_Encode_liblo},
        {"BM_Encode_oscpack", BM_Encode_oscpack},
    };
    for (const auto& [name, function] : all) {
        benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(name, function);
        if (iterations > 0) b->Iterations(iterations);
    }
}

// Remembers each benchmark's messages per second for the summary: the median when the runs are
// repeated (--benchmark_repetitions, best with --benchmark_enable_random_interleaving on a busy
// machine), else the single run.
class RateReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> rates;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            auto it = run.counters.find("items_per_second");
            if (it == run.counters.end()) continue;
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name != "median") continue;
            } else if (run.repetitions > 1) {
                continue;
            }
            rates[run.run_name.function_name] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// Both peers must read our bytes as we do, or the comparison means nothing.
bool peersAgree() {
    double ours = 0, lo = 0, op = 0;
    for (const Data& d : wireMix()) {
        std::optional<OSCPacket> p = OSCPacket::decode(rozuri::DataView(d));
        for (const OSCMessage& m : p->flattened()) ours += readValues(m);
        lo += decodeLiblo(d);
        osc::ReceivedPacket rp(reinterpret_cast<const char*>(d.data()),
                               static_cast<osc::osc_bundle_element_size_t>(d.size()));
        if (rp.IsBundle()) {
            osc::ReceivedBundle b(rp);
            for (auto e = b.ElementsBegin(); e != b.ElementsEnd(); ++e)
                op += readOscpackMessage(osc::ReceivedMessage(*e));
        } else {
            op += readOscpackMessage(osc::ReceivedMessage(rp));
        }
    }
    return ours == lo && ours == op;
}

// The direct rows must write the bytes the built packets encode to.
bool directWriterAgrees() {
    std::vector<Data> direct(4);
    rozuri::OSCPacketWriter(direct[0]).message("/mixer/1/mute", std::int32_t{1});
    rozuri::OSCPacketWriter(direct[1]).message("/xyz/position", 0.25f, 0.5f, 0.75f);
    rozuri::OSCPacketWriter(direct[2]).message("/label/text", std::string("hello world"), kBlob);
    rozuri::OSCPacketWriter(direct[3])
        .beginBundle(rozuri::OSCTimeTag(0x83AA7E8080000000ULL))
        .message("/mixer/1/mute", std::int32_t{0})
        .message("/xyz/position", 1.0f, 2.0f, 3.0f)
        .endBundle();
    return direct == wireMix();
}

}  // namespace

int main(int argc, char** argv) {
    if (!peersAgree()) {
        std::fprintf(stderr, "peers decode the mix differently\n");
        return 1;
    }
    if (!directWriterAgrees()) {
        std::fprintf(stderr, "the direct writer's bytes differ from the built packets'\n");
        return 1;
    }
    // --iterations=N runs each benchmark exactly N times: instruction counts under callgrind
    // (the difference between two counts, per iteration) then hold on a busy machine too.
    benchmark::IterationCount iterations = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--iterations=", 13) != 0) continue;
        iterations = std::strtoll(argv[i] + 13, nullptr, 10);
        for (int j = i; j < argc; ++j) argv[j] = argv[j + 1];
        --argc;
        break;
    }
    registerBenchmarks(iterations);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf(
        "\nmessages per second (mix of 5 messages: int, 3 floats, string+blob, bundle of 2)\n");
    for (const char* op : {"Decode", "Encode", "EncodeDirect", "EncodeBuilt", "EncodeInto"}) {
        double ours = reporter.rates[std::string("BM_") + op + "_ROZUri"];
        // The peers have one encode row each (they build nothing beforehand).
        std::string peerOp = std::string(op).starts_with("Encode") ? "Encode" : op;
        double lo = reporter.rates["BM_" + peerOp + "_liblo"];
        double pack = reporter.rates["BM_" + peerOp + "_oscpack"];
        if (ours == 0) continue;
        std::printf("%s: ROZUri %.3g/s, liblo %.3g/s (ratio %.2f), oscpack %.3g/s (ratio %.2f)\n",
                    op, ours, lo, lo > 0 ? ours / lo : 0.0, pack, pack > 0 ? ours / pack : 0.0);
    }
    return 0;
}
