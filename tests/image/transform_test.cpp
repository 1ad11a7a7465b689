// SPDX-License-Identifier: MIT
// Transforms of the ROM window against plain per-byte references: where each byte and its set
// bit go, what each checksum stores, and which requests are refused.
#include "image/transform.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A window of random bytes, about half of them set.
CRomImage RandomImage(std::uint32_t seed)
{
    std::mt19937 rng(seed);
    CRomImage image(0xEE);
    for (std::uint32_t a = 0; a < kRomImageSize; ++a) {
        image.Data()[a] = static_cast<std::uint8_t>(rng());
        if (rng() % 2)
            image.MarkSet(a, 1);
    }
    return image;
}

// Address x of the result holds what the original held at source(x).
template <class Source>
void ExpectMoved(const CRomImage& before, const CRomImage& after, std::uint32_t window, Source source)
{
    for (std::uint32_t x = 0; x < kRomImageSize; ++x) {
        const std::uint32_t from = x < window ? source(x) : x;
        ASSERT_EQ(after.Data()[x], before.Data()[from]) << std::hex << "byte 0x" << x;
        ASSERT_EQ(after.IsSet(x), before.IsSet(from)) << std::hex << "set bit 0x" << x;
    }
}

TEST(Transform, SwapLinesMovesEveryByteAndItsSetBit)
{
    const CRomImage original = RandomImage(1);
    const auto lineSwap = [](unsigned a, unsigned b) {
        return [a, b](std::uint32_t x) {
            const std::uint32_t ba = x >> a & 1, bb = x >> b & 1;
            return (x & ~((1u << a) | (1u << b))) | ba << b | bb << a;
        };
    };
    // Every pair of a 27C64's lines (in and across 64-bit words), and some of a 27C080's.
    std::vector<std::pair<std::pair<unsigned, unsigned>, std::uint32_t>> cases;
    for (unsigned a = 0; a < 13; ++a)
        for (unsigned b = 0; b < 13; ++b)
            if (a != b)
                cases.push_back({{a, b}, 0x2000});
    for (auto ab : {std::pair{0u, 19u}, std::pair{5u, 6u}, std::pair{18u, 3u}, std::pair{14u, 15u}})
        cases.push_back({ab, kRomImageSize});
    for (const auto& [lines, window] : cases) {
        SCOPED_TRACE(std::to_string(lines.first) + "," + std::to_string(lines.second) + " in " + std::to_string(window));
        CRomImage image = original;
        ASSERT_EQ(SwapAddressLines(image, window, lines.first, lines.second), "");
        ExpectMoved(original, image, window, lineSwap(lines.first, lines.second));
        ASSERT_EQ(image.Trace().moves.size(), 1u);
        EXPECT_EQ(image.Trace().LoadedAddress(lineSwap(lines.first, lines.second)(0x1234 % window)), 0x1234 % window);
    }
}

TEST(Transform, SwapBytesTradesTheBytesOfEachWord)
{
    const CRomImage original = RandomImage(2);
    for (std::uint32_t window : {0x2000u, 0x10000u, static_cast<std::uint32_t>(kRomImageSize)}) {
        CRomImage image = original;
        ASSERT_EQ(SwapBytes(image, window), "");
        ExpectMoved(original, image, window, [](std::uint32_t x) { return x ^ 1; });
    }
}

// The CRC-32 one bit at a time, as the polynomial defines it.
std::uint32_t BitwiseCrc32(const std::uint8_t* p, std::size_t n)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
    }
    return ~crc;
}

TEST(Transform, ChecksumsStoreWhatTheirKindSays)
{
    const CRomImage original = RandomImage(3);
    struct Case {
        ChecksumKind kind;
        std::uint32_t window, address;
    };
    const Case cases[] = {
        {ChecksumKind::Sum8, 0x2000, 0x1FFF},      {ChecksumKind::Sum8, 0x2000, 0},
        {ChecksumKind::Sum16Le, 0x2000, 0x1FFE},   {ChecksumKind::Sum16Be, 0x8000, 0x100},
        {ChecksumKind::Crc32Le, 0x2000, 0x1FFC},   {ChecksumKind::Crc32Be, 0x100000, 0xFFFFC},
        {ChecksumKind::Crc32Le, 0x2000, 0},        {ChecksumKind::Crc32Be, 0x2000, 0x1235},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(ChecksumKindName(c.kind)) + " at " + std::to_string(c.address));
        CRomImage image = original;
        std::uint32_t stored = 0;
        ASSERT_EQ(PutChecksum(image, c.window, c.kind, c.address, &stored), "");
        const std::uint8_t* p = image.Data();
        std::uint32_t want = 0;
        switch (c.kind) {
        case ChecksumKind::Sum8: {
            unsigned total = 0;
            for (std::uint32_t a = 0; a < c.window; ++a)
                total += p[a];
            EXPECT_EQ(total & 0xFF, 0u);
            want = p[c.address];
            break;
        }
        case ChecksumKind::Sum16Le:
        case ChecksumKind::Sum16Be:
            for (std::uint32_t a = 0; a < c.address; ++a)
                want += p[a];
            want &= 0xFFFF;
            break;
        default: want = BitwiseCrc32(p, c.address); break;
        }
        EXPECT_EQ(stored, want);
        const unsigned width = ChecksumWidth(c.kind);
        const bool big = c.kind == ChecksumKind::Sum16Be || c.kind == ChecksumKind::Crc32Be;
        for (unsigned i = 0; i < width; ++i) {
            EXPECT_EQ(p[c.address + (big ? width - 1 - i : i)], static_cast<std::uint8_t>(want >> (8 * i)));
            EXPECT_TRUE(image.IsSet(c.address + i));
        }
        // Nothing else changed.
        for (std::uint32_t a = 0; a < kRomImageSize; a += 7)
            if (a < c.address || a >= c.address + width) {
                ASSERT_EQ(p[a], original.Data()[a]) << a;
            }
    }
}

TEST(Transform, RequestsThatDoNotFitTheWindowAreRefused)
{
    const struct {
        STransform step;
        std::uint32_t window;
        const char* why;  // empty: accepted
    } cases[] = {
        {{STransform::EKind::SwapLines, 12, 13}, 0x2000, "has address lines 0 to 12"},
        {{STransform::EKind::SwapLines, 12, 11}, 0x2000, ""},
        {{STransform::EKind::SwapLines, 4, 4}, 0x2000, "cannot swap with itself"},
        {{STransform::EKind::SwapLines, 18, 19}, 0x100000, ""},
        {{STransform::EKind::Checksum, 0, 0, ChecksumKind::Crc32Le, 0x1FFD}, 0x2000,
         "crc32le:0x1ffd: its 4 bytes do not fit in the 8192-byte window (0x0-0x1fff)"},
        {{STransform::EKind::Checksum, 0, 0, ChecksumKind::Crc32Be, 0x1FFC}, 0x2000, ""},
        {{STransform::EKind::Checksum, 0, 0, ChecksumKind::Sum16Le, 0x1FFF}, 0x2000, "its 2 bytes do not fit"},
        {{STransform::EKind::Checksum, 0, 0, ChecksumKind::Sum8, 0x1FFF}, 0x2000, ""},
        {{STransform::EKind::SwapBytes}, 0x3000, "is not a ROM size"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(DescribeTransform(c.step));
        const std::string why = CheckTransform(c.step, c.window);
        if (*c.why == '\0') {
            EXPECT_EQ(why, "");
        } else {
            EXPECT_NE(why.find(c.why), std::string::npos) << why;
            CRomImage image(0x11);
            EXPECT_EQ(ApplyTransform(image, c.window, c.step), why);
            EXPECT_EQ(image.Data()[0x1FFF], 0x11);  // and nothing was done
        }
    }
    ChecksumKind kind = ChecksumKind::Sum8;
    for (const char* name : {"sum8", "sum16le", "sum16be", "crc32le", "crc32be"}) {
        ASSERT_TRUE(ParseChecksumKind(name, kind)) << name;
        EXPECT_STREQ(ChecksumKindName(kind), name);
    }
    EXPECT_FALSE(ParseChecksumKind("crc32", kind));
}

TEST(Transform, SplitHalfTakesEveryOtherByte)
{
    const Bytes data = {0, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(SplitHalf(data, false), (Bytes{0, 2, 4, 6}));
    EXPECT_EQ(SplitHalf(data, true), (Bytes{1, 3, 5}));
    EXPECT_TRUE(SplitHalf({}, true).empty());
}

}  // namespace
