// The listing of the simulated camera's frame record: parsing its lines,
// ordering both directions, counting alike frames, cutting long ones.
#include "tools/WireListing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(WireListing, ParsesRecordLinesAndCountsTheOthers) {
    const struct {
        const char* line;
        bool parsed;
        bool toCamera;
        uint64_t atMs;
        Bytes bytes;
    } cases[] = {
        {"rx 12 00 01 00 06 11 01", true, true, 12, {0x00, 0x01, 0x00, 0x06, 0x11, 0x01}},
        {"tx 0 00 01 00 06 11 02", true, false, 0, {0x00, 0x01, 0x00, 0x06, 0x11, 0x02}},
        {"tx 18446744073709551615 FF", true, false, 18446744073709551615u, {0xFF}},
        {"rx 12", false, false, 0, {}},                       // no bytes
        {"rx 12 ", false, false, 0, {}},                      // no bytes either
        {"rx x2 00 01", false, false, 0, {}},                 // no time
        {"rx 1x 00 01", false, false, 0, {}},                 // a time with a tail
        {"rx 18446744073709551616 00", false, false, 0, {}},  // beyond 64 bits
        {"rx 12 0G", false, false, 0, {}},                    // not hex
        {"rx 12 0", false, false, 0, {}},                     // half a byte
        {"ok", false, false, 0, {}},
        {"", false, false, 0, {}},
        {"xx 12 00", false, false, 0, {}},
    };
    for (const auto& c : cases) {
        size_t skipped = 99;
        const auto frames = ParseWireRecord({c.line}, &skipped);
        EXPECT_EQ(skipped, c.parsed ? 0u : 1u) << c.line;
        ASSERT_EQ(frames.size(), c.parsed ? 1u : 0u) << c.line;
        if (c.parsed) {
            EXPECT_EQ(frames[0].toCamera, c.toCamera) << c.line;
            EXPECT_EQ(frames[0].atMs, c.atMs) << c.line;
            EXPECT_EQ(frames[0].bytes, c.bytes) << c.line;
        }
    }
}

RecordedFrame Frame(bool toCamera, uint64_t atMs, Bytes bytes) {
    return RecordedFrame{toCamera, atMs, std::move(bytes)};
}

// A 10248-byte image block answer for block `n`, its data filled with `fill`.
Bytes Block(uint8_t n, uint8_t fill, size_t dataBytes = 10240) {
    Bytes b(8 + dataBytes, fill);
    const uint8_t header[] = {0x00, 0x04, 0x00, 0x00, 0x21, 0x03, 0x00, n};
    std::copy(std::begin(header), std::end(header), b.begin());
    b[2] = static_cast<uint8_t>(b.size() >> 8);
    b[3] = static_cast<uint8_t>(b.size());
    return b;
}

TEST(WireListing, OrdersByTimeAndCountsAlikeFramesAtTheFirst) {
    const Bytes poll = {0x00, 0x01, 0x00, 0x06, 0x11, 0x02};
    const Bytes standby = {0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0, 0, 1, 1, 0, 0, 5, 0};
    Bytes shooting = standby;
    shooting[7] = 1;
    const std::vector<WireEntry> entries = CollapseWire({
        Frame(false, 30, standby),  // answers come in their own list, after the requests
        Frame(false, 10, standby), Frame(false, 50, shooting),
        Frame(true, 10, poll),  // at the same time as its answer, but ahead of it
        Frame(true, 30, poll), Frame(true, 50, poll), Frame(false, 60, Block(1, 0xAA)),
        Frame(false, 70, Block(2, 0xAA, 100)),
        Frame(false, 80, Block(1, 0x55, 500)),  // block 1 again: alike, whatever its bytes
        Frame(false, 90, standby),              // alike the first, though shooting came between
    });
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].first.bytes, poll);
    EXPECT_EQ(entries[0].count, 3u);
    EXPECT_EQ(entries[1].first.bytes, standby);
    EXPECT_EQ(entries[1].first.atMs, 10u);
    EXPECT_EQ(entries[1].count, 3u);
    EXPECT_EQ(entries[2].first.bytes, shooting);
    EXPECT_EQ(entries[2].count, 1u);
    EXPECT_EQ(entries[3].first.bytes, Block(1, 0xAA));
    EXPECT_EQ(entries[3].count, 2u);
    EXPECT_EQ(entries[4].first.bytes, Block(2, 0xAA, 100));
    EXPECT_EQ(entries[4].count, 1u);
}

TEST(WireListing, ShortFramesDifferingInOneByteAreNotAlike) {
    // Data-info answers of two images: only the size differs.
    const Bytes a = {0x00, 0x04, 0x00, 0x0C, 0x21, 0x04, 0x00, 0x00, 0x18, 0x85, 0x00, 0x01};
    Bytes b = a;
    b[9] = 0x86;
    // The same bytes in the other direction are not alike either.
    const auto entries = CollapseWire({Frame(false, 1, a), Frame(false, 2, b), Frame(true, 3, a)});
    ASSERT_EQ(entries.size(), 3u);
}

TEST(WireListing, FormatsOneLinePerEntry) {
    EXPECT_EQ(FormatWireEntry({Frame(true, 200, {0x00, 0x01, 0x00, 0x06, 0x11, 0x01}), 1}),
              "    200 ms       ->  ch1 CTP_GET_MODE       00 01 00 06 11 01");
    EXPECT_EQ(
        FormatWireEntry({Frame(false, 1234567, {0x00, 0x03, 0x00, 0x08, 0x20, 0x01, 0, 0}), 12}),
        "1234567 ms  x12  <-  ch3 CTP_2001           00 03 00 08 20 01 00 00");
    // A long frame shows its first 16 bytes and its size.
    EXPECT_EQ(FormatWireEntry({Frame(false, 5, Block(1, 0xAB)), 2}),
              "      5 ms   x2  <-  ch4 CTP_IMAGE_DATA     00 04 28 08 21 03 00 01 AB AB AB AB AB "
              "AB AB AB ... (10248 bytes)");
    // An opcode without a name.
    EXPECT_EQ(FormatWireEntry({Frame(true, 0, {0x00, 0x02, 0x00, 0x06, 0x30, 0x00}), 1}),
              "      0 ms       ->  ch2 0x3000             00 02 00 06 30 00");
    // A GPS sentence with its text, without line end and padding.
    std::string text = "$GPGGA,093000.000,3540.874160,N,13946.027500,E,1,,,,,,,\r\n";
    // Sized first and filled in place: GCC 12 misreads a list-built vector grown by insert.
    Bytes gps(6 + text.size() + 3, 0);
    const uint8_t header[] = {0x00, 0x02, 0x00, 0x00, 0x10, 0x02};
    std::copy(std::begin(header), std::end(header), gps.begin());
    std::copy(text.begin(), text.end(), gps.begin() + 6);
    gps[3] = static_cast<uint8_t>(gps.size());
    const std::string line = FormatWireEntry({Frame(true, 9, gps), 1});
    EXPECT_TRUE(
        line.starts_with("      9 ms       ->  ch2 CTP_GPS            00 02 00 42 10 02 24 "
                         "47 50 47 47 41 2C 30 39 33 ... (66 bytes)"))
        << line;
    EXPECT_TRUE(line.ends_with("  \"$GPGGA,093000.000,3540.874160,N,13946.027500,E,1,,,,,,,\""))
        << line;
}

TEST(WireListing, AbbreviatesOnlyWhatIsLonger) {
    const Bytes four = {1, 2, 3, 4};
    EXPECT_EQ(AbbreviatedHex(four, 4), "01 02 03 04");
    EXPECT_EQ(AbbreviatedHex(four, 3), "01 02 03 ... (4 bytes)");
    EXPECT_EQ(AbbreviatedHex({}, 3), "");
}

}  // namespace
