#include <gtest/gtest.h>

#include <functional>

#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCValueDecoder.h"

using namespace rozuri;

namespace {

using Kind = OSCDecodeError::Kind;

std::string decodeErrorText(const Data& bytes, const std::function<void(OSCValueDecoder&)>& read,
                            Kind* kind = nullptr) {
    OSCValueDecoder d(bytes);
    try {
        read(d);
    } catch (const OSCDecodeError& e) {
        if (kind) *kind = e.kind();
        return e.what();
    }
    return "";
}

TEST(OSCValueDecoderTest, FixedReadsAndTheirErrors) {
    struct Case {
        Data bytes;
        std::function<void(OSCValueDecoder&)> read;
        std::string error;
    };
    const Case cases[] = {
        {{0, 0, 0},
         [](auto& d) { d.readInt32(); },
         "Malformed data: Not enough bytes while reading Int32 data chunk."},
        {{0, 0, 0},
         [](auto& d) { d.readFloat32(); },
         "Malformed data: Not enough bytes while reading Float32 data chunk."},
        {Data(7), [](auto& d) { d.readInt64(); },
         "Malformed data: Not enough bytes while reading Int64 data chunk."},
        {Data(7), [](auto& d) { d.readUInt64(); },
         "Malformed data: Not enough bytes while reading UInt64 data chunk."},
        {Data(7), [](auto& d) { d.readDouble(); },
         "Malformed data: Not enough bytes while reading Double data chunk."},
        {{},
         [](auto& d) { d.readInt32(); },
         "Malformed data: Not enough bytes while reading Int32 data chunk."},
    };
    for (const auto& c : cases) EXPECT_EQ(decodeErrorText(c.bytes, c.read), c.error);

    Data bytes = {0, 0, 0, 42, 0x3F, 0x80, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
    OSCValueDecoder d(bytes);
    EXPECT_EQ(d.readInt32(), 42);
    EXPECT_EQ(d.readFloat32(), 1.0f);
    EXPECT_EQ(d.remainingByteCount(), 8u);
    EXPECT_EQ(d.readInt64(), -2);
    EXPECT_EQ(d.pos, 16u);
}

TEST(OSCValueDecoderTest, ReadBytesAndAdvance) {
    Kind kind{};
    EXPECT_EQ(
        decodeErrorText(Data(3), [](auto& d) { d.readBytes(8); }),
        "Malformed data: Not enough bytes remain in data stream while parsing data. Attempted "
        "to read 8 bytes but only 3 bytes remain.");
    EXPECT_EQ(decodeErrorText(
                  Data(3), [](auto& d) { d.readBytes(-1); }, &kind),
              "Internal inconsistency: Negative byte count requested while parsing data: -1");
    EXPECT_EQ(kind, Kind::internalInconsistency);
    EXPECT_EQ(
        decodeErrorText(Data(2), [](auto& d) { d.advancePosition(5); }),
        "Malformed data: Attempted to advance byte read position past end of available bytes. "
        "2 bytes remain but 5 were advanced.");
    Data bytes = {1, 2, 3, 4, 5};
    OSCValueDecoder d(bytes);
    auto first = d.readBytes(4);
    EXPECT_EQ(Data(first.begin(), first.end()), (Data{1, 2, 3, 4}));
    EXPECT_EQ(first.data(), bytes.data());  // a view, not a copy
    EXPECT_EQ(d.readBytes(0).size(), 0u);
}

TEST(OSCValueDecoderTest, NullTerminatedChunks) {
    struct Case {
        Data bytes;
        std::string result;  // or the error
        std::size_t pos;
    };
    const std::string tooShort =
        "Malformed data: Not enough bytes in 4-byte aligned null-terminated data chunk.";
    const std::string notTerminated =
        "Malformed data: 4-byte aligned null-terminated data chunk does not terminate in null "
        "bytes "
        "as expected.";
    const Case cases[] = {
        {{'a', 'b', 'c', 0}, "abc", 4},
        {{'a', 'b', 'c', 'd', 0, 0, 0, 0}, "abcd", 8},
        {{0, 0, 0, 0}, "", 4},
        {{'a', 0, 0, 0, 'x'}, "a", 4},
        {{'a', 0, 0}, tooShort, 0},
        {{'a', 'b', 'c', 'd'}, notTerminated, 0},
        {{'a', 'b', 'c', 'd', 0, 0, 0}, tooShort, 0},
        {{'a', 'b', 'c', 'd', 0, 0, 0, 1}, notTerminated, 0},
        {{'a', 0, 'b', 0}, notTerminated, 0},
    };
    for (const auto& c : cases) {
        OSCValueDecoder d(c.bytes);
        try {
            auto chunk = d.readNullTerminatedChunk();
            EXPECT_EQ(std::string(chunk.begin(), chunk.end()), c.result);
        } catch (const OSCDecodeError& e) {
            EXPECT_EQ(e.what(), c.result);
        }
        EXPECT_EQ(d.pos, c.pos);
    }
}

TEST(OSCValueDecoderTest, StringsAreReadByteForByte) {
    struct Case {
        Data bytes;
        std::string text;
    };
    const Case cases[] = {
        {{'C', ':', '\\', 't', 'e', 'm', 'p', 0}, "C:\\temp"},
        {{'\\', 'u', '0', '0', '4', '1', 0, 0}, "\\u0041"},
        {{'\\', 0, 0, 0}, "\\"},
        {{'\t', '\r', '\n', 0x7F, 0, 0, 0, 0}, "\t\r\n\x7F"},
    };
    for (const auto& c : cases) {
        OSCValueDecoder d(c.bytes);
        EXPECT_EQ(d.readASCIIString(), c.text);
    }
    EXPECT_EQ(
        decodeErrorText({'a', 0xC3, 0xA9, 0}, [](auto& d) { d.readASCIIString(); }),
        "Malformed data: Failed to form valid ASCII string from 4-byte aligned null-terminated "
        "ASCII string chunk. Non-ASCII characters may be present or the data is malformed.");
}

TEST(OSCValueDecoderTest, Blobs) {
    const std::string badLength =
        "Malformed data: Failed to read Int32 length chunk at start of 4-byte aligned "
        "null-terminated blob data chunk.";
    struct Case {
        Data bytes;
        std::string error;  // empty: decodes
        Data blob;
    };
    const Case cases[] = {
        {{0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0}, "", {1, 2, 3, 4, 5}},
        {{0, 0, 0, 4, 1, 2, 3, 4}, "", {1, 2, 3, 4}},
        {{0, 0, 0, 0}, "", {}},
        {{0, 0, 0}, badLength, {}},
        {{0, 0, 0xFF, 0xE3}, badLength, {}},  // 65507
        {{0xFF, 0xFF, 0xFF, 0xFF}, "Malformed data: Blob length is negative: -1.", {}},
        {{0x80, 0, 0, 0}, "Malformed data: Blob length is negative: -2147483648.", {}},
        {{0, 0, 0, 9, 1, 2},
         "Malformed data: Encoded blob chunk length is greater than the available data length.",
         {}},
        {{0, 0, 0, 5, 1, 2, 3, 4, 5, 0},
         "Malformed data: Not enough bytes in 4-byte aligned null-terminated blob data chunk.",
         {}},
        {{0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 1, 0},
         "Malformed data: Expected 4-byte null terminated data but expected null bytes were not "
         "found.",
         {}},
    };
    for (const auto& c : cases) {
        OSCValueDecoder d(c.bytes);
        try {
            auto blob = d.readBlob();
            EXPECT_EQ(c.error, "");
            EXPECT_EQ(Data(blob.begin(), blob.end()), c.blob);
            EXPECT_EQ(d.pos, c.bytes.size());
        } catch (const OSCDecodeError& e) {
            EXPECT_EQ(e.what(), c.error);
        }
    }
    // The largest accepted length.
    Data big = {0, 0, 0xFF, 0xE2};
    big.resize(4 + 65506 + 2, 0);
    OSCValueDecoder d(big);
    EXPECT_EQ(d.readBlob().size(), 65506u);
}

TEST(OSCValueDecoderTest, Padding) {
    struct Case {
        std::size_t size;
        std::size_t added;
    };
    for (auto c : {Case{0, 4}, Case{4, 4}, Case{5, 3}, Case{7, 1}, Case{1, 3}}) {
        Data d(c.size, 'x');
        padToFourBytes(d);
        EXPECT_EQ(d.size(), c.size + c.added);
        for (std::size_t i = c.size; i < d.size(); ++i) EXPECT_EQ(d[i], 0);
        EXPECT_EQ(paddedToFourBytes(Data(c.size, 'x')), d);
    }
    EXPECT_EQ(blobPadCount(4), 0u);
    EXPECT_EQ(blobPadCount(5), 3u);
}

}  // namespace
