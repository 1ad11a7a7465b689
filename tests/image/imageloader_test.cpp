// SPDX-License-Identifier: MIT
// Tests of the image loader: binary and Intel HEX files into the 1 MiB ROM image.
#include "image/imageloader.h"
#include "inchild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// One Intel HEX record with a correct checksum, upper-case, without line end.
std::string Rec(int type, unsigned offset, const Bytes& data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) +
                   static_cast<unsigned>(type);
    char head[16];
    std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(data.size()),
                  offset & 0xFFFF, static_cast<unsigned>(type));
    std::string r = head;
    for (std::uint8_t b : data) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", b);
        r += two;
        sum += b;
    }
    char cs[3];
    std::snprintf(cs, sizeof cs, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return r + cs;
}

std::string Ela(unsigned upper)
{
    return Rec(4, 0, {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)});
}

const std::string kEnd = ":00000001FF";

std::string Join(const std::vector<std::string>& records, const std::string& eol = "\r\n")
{
    std::string s;
    for (const std::string& r : records)
        s += r + eol;
    return s;
}

Bytes Seq(std::size_t n, std::uint8_t start = 0)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(start + i * 7);
    return b;
}

// A buffer with a pattern no load produces, to see whether a failed load touched it.
Bytes Sentinel()
{
    Bytes b(kRomImageSize);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>(i * 31 + 5);
    return b;
}

class ImageLoaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/imageloader_test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    std::string Write(const std::string& name, const std::string& content)
    {
        const std::string path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    // Loads into a sentinel-filled buffer of exactly 1 MiB (ASan sees any write past it).
    ImageLoadResult Load(const std::string& path, int format, std::uint8_t fill)
    {
        m_image = Sentinel();
        CRomImage image;
        std::copy(m_image.begin(), m_image.end(), image.Data());
        ImageLoadOptions options;
        options.format = format == 0 ? ImageFormat::IntelHex : ImageFormat::Binary;
        options.fill = fill;
        const ImageLoadResult r = LoadImage(path, options, image);
        std::copy(image.Data(), image.Data() + kRomImageSize, m_image.begin());
        return r;
    }

    ImageLoadResult LoadHex(const std::string& text, std::uint8_t fill = 0xFF)
    {
        return Load(Write("image.hex", text), 0, fill);
    }

    // Image expected from (address, bytes) pairs over the fill byte.
    static Bytes Expected(std::uint8_t fill, const std::vector<std::pair<std::size_t, Bytes>>& parts)
    {
        Bytes b(kRomImageSize, fill);
        for (const auto& [a, data] : parts)
            std::copy(data.begin(), data.end(), b.begin() + static_cast<std::ptrdiff_t>(a));
        return b;
    }

    fs::path m_dir;
    Bytes m_image;
};

TEST(ImageLoaderText, FillByteIsLowByteOfHexText)
{
    EXPECT_EQ(ParseFillByte("FF"), 0xFF);
    EXPECT_EQ(ParseFillByte("ff"), 0xFF);
    EXPECT_EQ(ParseFillByte("00"), 0x00);
    EXPECT_EQ(ParseFillByte("5A"), 0x5A);
    EXPECT_EQ(ParseFillByte("ZZ"), 0x00);
    EXPECT_EQ(ParseFillByte("1FF"), 0xFF);
    EXPECT_EQ(ParseFillByte("123"), 0x23);
    EXPECT_EQ(ParseFillByte(""), 0x00);
    EXPECT_EQ(ParseFillByte("  7"), 0x07);
    EXPECT_EQ(ParseFillByte("0x3C"), 0x3C);
    EXPECT_EQ(ParseFillByte("4G"), 0x04);
}

TEST(ImageLoaderText, CountIsEightLowerCaseDigits)
{
    EXPECT_EQ(FormatBytesRead(0), "00000000");
    EXPECT_EQ(FormatBytesRead(10), "0000000a");
    EXPECT_EQ(FormatBytesRead(0x110), "00000110");
    EXPECT_EQ(FormatBytesRead(0x100000), "00100000");
    EXPECT_EQ(FormatBytesRead(0xABCDEF12), "abcdef12");
}

TEST_F(ImageLoaderTest, BinaryFilesLoadFromOffsetZeroAndCountTheirLength)
{
    const Bytes ten = Seq(10, 0x10);
    auto r = Load(Write("ten.bin", std::string(ten.begin(), ten.end())), 1, 0xFF);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(FormatBytesRead(r.bytesRead), "0000000a");
    EXPECT_EQ(m_image, Expected(0xFF, {{0, ten}}));

    r = Load(Write("empty.bin", ""), 1, 0x3C);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.bytesRead, 0u);
    EXPECT_EQ(m_image, Bytes(kRomImageSize, 0x3C));

    const Bytes k16 = Seq(16384, 3);
    r = Load(Write("16k.bin", std::string(k16.begin(), k16.end())), 1, 0x00);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(FormatBytesRead(r.bytesRead), "00004000");
    EXPECT_EQ(m_image, Expected(0x00, {{0, k16}}));
}

TEST_F(ImageLoaderTest, EveryFormatIndexButZeroReadsBinary)
{
    const std::string text = Join({Rec(0, 0, {1, 2, 3}), kEnd});
    const std::string path = Write("looks.hex", text);
    for (int format : {1, 2, 3, -1, 5}) {
        const auto r = Load(path, format, 0xEE);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.bytesRead, text.size()) << format;
        EXPECT_EQ(m_image, Expected(0xEE, {{0, Bytes(text.begin(), text.end())}})) << format;
    }
}

TEST_F(ImageLoaderTest, BinaryLongerThanOneMegabyteKeepsTheFirstMegabyteAndTheFullCount)
{
    Bytes big = Seq(kRomImageSize + 100, 9);
    const auto r = Load(Write("big.bin", std::string(big.begin(), big.end())), 1, 0xFF);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(FormatBytesRead(r.bytesRead), "00100064");
    big.resize(kRomImageSize);
    EXPECT_EQ(m_image, big);
}

TEST_F(ImageLoaderTest, HugeSparseFilesLoadWithoutReadingThemWhole)
{
    // 5 GiB binary: only the first 1 MiB is read; the count is the length.
    const std::string bin = (m_dir / "huge.bin").string();
    std::ofstream(bin).put('\x42');
    ASSERT_EQ(::truncate(bin.c_str(), 5LL << 30), 0);
    auto r = Load(bin, 1, 0xFF);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.bytesRead, 5ULL << 30);
    EXPECT_EQ(FormatBytesRead(r.bytesRead), "140000000");
    EXPECT_EQ(m_image[0], 0x42);
    EXPECT_EQ(m_image[1], 0x00);
    EXPECT_EQ(m_image[kRomImageSize - 1], 0x00);

    // Intel HEX with 4 GiB after its end record: the scan stops there.
    const std::string hex = Write("huge.hex", Join({Rec(0, 0x20, {0xAB}), kEnd}));
    ASSERT_EQ(::truncate(hex.c_str(), 4LL << 30), 0);
    r = Load(hex, 0, 0x00);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.bytesRead, 0x21u);
    EXPECT_EQ(m_image, Expected(0x00, {{0x20, {0xAB}}}));
}

TEST_F(ImageLoaderTest, DataRecordsLandAtTheirAddressesAndCountHighestPlusOne)
{
    const Bytes d = Seq(16, 0x80);
    auto r = LoadHex(Join({Rec(0, 0x0100, d), kEnd}));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(FormatBytesRead(r.bytesRead), "00000110");
    EXPECT_EQ(m_image, Expected(0xFF, {{0x100, d}}));

    // Highest address + 1, not the number of bytes; record order does not matter.
    std::vector<std::string> recs;
    for (unsigned a = 0x1000; a < 0x1100; a += 16)
        recs.push_back(Rec(0, a, Seq(16, static_cast<std::uint8_t>(a))));
    for (unsigned a = 0; a < 0x100; a += 16)
        recs.push_back(Rec(0, a, Seq(16, static_cast<std::uint8_t>(a))));
    recs.push_back(kEnd);
    r = LoadHex(Join(recs));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(FormatBytesRead(r.bytesRead), "00001100");
    EXPECT_EQ(m_image[0x0FF], static_cast<std::uint8_t>(0xF0 + 15 * 7));
    EXPECT_EQ(m_image[0x100], 0xFF);
    EXPECT_EQ(m_image[0xFFF], 0xFF);
    EXPECT_EQ(m_image[0x1000], 0x00);

    // No data at all, or only empty data records: nothing written, count 0.
    r = LoadHex(Join({Rec(0, 0x8000, {}), Ela(3), kEnd}), 0x11);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.bytesRead, 0u);
    EXPECT_EQ(m_image, Bytes(kRomImageSize, 0x11));
}

TEST_F(ImageLoaderTest, ExtendedLinearAddressAndOtherRecordTypes)
{
    auto r = LoadHex(Join({Ela(1), Rec(0, 0, {0xDE, 0xAD}), kEnd}));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.bytesRead, 0x10002u);
    EXPECT_EQ(m_image, Expected(0xFF, {{0x10000, {0xDE, 0xAD}}}));

    // Types 02, 03, 05 and unknown ones move nothing: upper keeps the last type 04 value.
    r = LoadHex(Join({Ela(2), Rec(2, 0, {0x10, 0x00}), Rec(3, 0, {0x12, 0x34, 0x56, 0x78}),
                      Rec(5, 0, {0, 0, 0x12, 0x34}), Rec(0x7E, 0, {1, 2, 3}),
                      Rec(0, 0x0010, {0x55}), kEnd}));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(m_image, Expected(0xFF, {{0x20010, {0x55}}}));
    EXPECT_EQ(r.bytesRead, 0x20011u);
}

TEST_F(ImageLoaderTest, ChecksumsAreNotEvaluatedAndLaterRecordsOverwrite)
{
    std::string bad = Rec(0, 0x40, {1, 2, 3, 4});
    bad.replace(bad.size() - 2, 2, "00");
    auto r = LoadHex(Join({bad, Rec(0, 0x42, {9}), kEnd}));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(m_image, Expected(0xFF, {{0x40, {1, 2, 9, 4}}}));
    EXPECT_EQ(r.bytesRead, 0x44u);
}

TEST_F(ImageLoaderTest, EndRecordStopsTheScanAndAFileWithoutOneLoadsEverything)
{
    auto r = LoadHex(Join({Rec(0, 0, {1}), kEnd, Rec(0, 0x10, {2}), Ela(1), Rec(0, 0, {3})}));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.bytesRead, 1u);
    EXPECT_EQ(m_image, Expected(0xFF, {{0, {1}}}));

    r = LoadHex(Join({Rec(0, 0, {1}), Rec(0, 0x10, {2}), Ela(1), Rec(0, 0, {3})}));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.bytesRead, 0x10001u);
    EXPECT_EQ(m_image, Expected(0xFF, {{0, {1}}, {0x10, {2}}, {0x10000, {3}}}));
}

TEST_F(ImageLoaderTest, RecordCutShortStoresWhatItHolds)
{
    // Five whole bytes and half of the sixth before the end of the file.
    const std::string full = Rec(0, 0x200, Seq(16, 0x30));
    auto r = LoadHex(Rec(0, 0, {7}) + "\n" + full.substr(0, 9 + 11));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.bytesRead, 0x205u);
    EXPECT_EQ(m_image, Expected(0xFF, {{0, {7}}, {0x200, Seq(5, 0x30)}}));

    // Cut inside the header or inside an extended address: nothing more happens.
    for (const std::string& tail : {std::string(":10"), full.substr(0, 8), Ela(1).substr(0, 11)}) {
        r = LoadHex(Rec(0, 0, {7}) + "\n" + tail);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.bytesRead, 1u) << tail;
        EXPECT_EQ(m_image, Expected(0xFF, {{0, {7}}})) << tail;
    }
}

TEST_F(ImageLoaderTest, AnyLineEndLoadsTheSameImage)
{
    std::mt19937 rng(7);
    std::vector<std::string> recs;
    std::vector<std::pair<std::size_t, Bytes>> parts;
    for (unsigned a = 0; a < 0x400; a += 16) {
        Bytes d(16);
        for (auto& b : d)
            b = static_cast<std::uint8_t>(rng());
        recs.push_back(Rec(0, a, d));
        parts.emplace_back(a, d);
    }
    recs.push_back(Ela(1));
    recs.push_back(Rec(0, 0x20, {0xC3}));
    parts.emplace_back(0x10020, Bytes{0xC3});
    recs.push_back(kEnd);
    const Bytes expected = Expected(0x00, parts);

    for (const std::string eol : {"\r\n", "\n", "\r", "", "\n\n \t"}) {
        const auto r = LoadHex(Join(recs, eol), 0x00);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.bytesRead, 0x10021u);
        EXPECT_EQ(m_image, expected) << "line end of " << eol.size() << " characters";
    }
}

TEST_F(ImageLoaderTest, LowerCaseHexDecodesLikeUpperCase)
{
    std::string text = Join({Ela(0xA), Rec(0, 0xBEEF, {0xDE, 0xAD, 0xBE, 0xEF, 0xFA}), kEnd});
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    const auto r = LoadHex(text);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(m_image, Expected(0xFF, {{0xABEEF, {0xDE, 0xAD, 0xBE, 0xEF, 0xFA}}}));
    EXPECT_EQ(r.bytesRead, 0xABEF4u);
}

TEST_F(ImageLoaderTest, RecordCrossing64KiBContinuesIntoTheNextSegment)
{
    const Bytes d = Seq(16, 0x40);
    const auto r = LoadHex(Join({Ela(2), Rec(0, 0xFFF8, d), kEnd}));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(m_image, Expected(0xFF, {{0x2FFF8, d}}));
    EXPECT_EQ(r.bytesRead, 0x30008u);
}

TEST_F(ImageLoaderTest, NothingIsWrittenOutsideTheBuffer)
{
    // Half of this record fits below 0x100000; the rest is dropped and not counted.
    const Bytes d = Seq(32, 1);
    auto r = LoadHex(Join({Ela(0x000F), Rec(0, 0xFFF0, d), kEnd}));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(FormatBytesRead(r.bytesRead), "00100000");
    EXPECT_EQ(m_image, Expected(0xFF, {{0xFFFF0, Bytes(d.begin(), d.begin() + 16)}}));

    // Wholly above the buffer, including an address that would wrap a 32-bit sum to 0.
    r = LoadHex(Join({Rec(0, 0x10, {1}), Ela(0x0010), Rec(0, 0, {2, 3}), Ela(0xFFFF),
                      Rec(0, 0xFFFF, {4, 5, 6}), kEnd}));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.bytesRead, 0x11u);
    EXPECT_EQ(m_image, Expected(0xFF, {{0x10, {1}}}));
}

TEST_F(ImageLoaderTest, FailuresNameTheFileAndLeaveTheBufferAlone)
{
    const Bytes untouched = Sentinel();

    const std::string missing = (m_dir / "no such.hex").string();
    auto r = Load(missing, 0, 0xFF);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "\"" + missing + "\" was not found.");
    EXPECT_EQ(m_image, untouched);

    r = Load(m_dir.string(), 1, 0xFF);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find(m_dir.string()), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("directory"), std::string::npos) << r.message;
    EXPECT_EQ(m_image, untouched);

    r = Load("", 0, 0xFF);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.message.empty());
    EXPECT_EQ(m_image, untouched);

    // A FIFO with no writer must neither hang nor load.
    const std::string fifo = (m_dir / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    r = Load(fifo, 0, 0xFF);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find(fifo), std::string::npos) << r.message;
    EXPECT_EQ(m_image, untouched);

    // A read error after the open: the kernel answers EIO for address 0 of our own memory.
    r = Load("/proc/self/mem", 0, 0xFF);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("/proc/self/mem"), std::string::npos) << r.message;
    EXPECT_EQ(m_image, untouched);
}

TEST_F(ImageLoaderTest, UnreadableFileIsReportedAsAccessDenied)
{
    const std::string path = Write("locked.hex", Join({Rec(0, 0, {1}), kEnd}));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    ASSERT_EQ(::chmod(fs::path(path).parent_path().c_str(), 0755), 0);
    // Root reads any file, so root checks it as nobody.
    EXPECT_EQ(InChild(::geteuid() == 0, [&] {
                  const auto r = Load(path, 0, 0xFF);
                  return !r.ok && r.message == "Access to \"" + path + "\" was denied." && m_image == Sentinel();
              }),
              0);
}

// Random records of random lengths, with extended addresses, over a reference model.
struct RandomHex {
    std::string text;
    Bytes image;
    std::uint64_t highest = 0;
};

RandomHex MakeRandomHex(std::size_t minChars, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    RandomHex h;
    h.image.assign(kRomImageSize, 0xA5);
    while (h.text.size() < minChars) {
        const unsigned upper = rng() % 16;
        h.text += Ela(upper) + "\r\n";
        for (int k = 0; k < 40; ++k) {
            Bytes d(rng() % 256);
            for (auto& b : d)
                b = static_cast<std::uint8_t>(rng());
            const unsigned offset = rng() % 0x10000;
            h.text += Rec(0, offset, d) + (k % 3 == 0 ? "\n" : "\r\n");
            const std::size_t a = (std::size_t{upper} << 16) + offset;
            for (std::size_t i = 0; i < d.size() && a + i < kRomImageSize; ++i) {
                h.image[a + i] = d[i];
                h.highest = std::max<std::uint64_t>(h.highest, a + i + 1);
            }
        }
    }
    h.text += kEnd + "\r\n";
    return h;
}

TEST(IntelHexScanner, PiecesOfEverySizeGiveTheSameImage)
{
    const RandomHex h = MakeRandomHex(6000, 11);
    for (std::size_t piece = 1; piece <= 600; ++piece) {
        Bytes image(kRomImageSize, 0xA5);
        CImageBuilder builder{RomImage(image.data(), kRomImageSize)};
        CIntelHexScanner scanner(builder);
        for (std::size_t at = 0; at < h.text.size(); at += piece)
            scanner.Feed(std::string_view(h.text).substr(at, piece));
        scanner.Finish();
        ASSERT_TRUE(scanner.Ended()) << piece;
        ASSERT_EQ(scanner.Highest(), h.highest) << "pieces of " << piece;
        ASSERT_TRUE(image == h.image) << "pieces of " << piece;
    }
}

TEST_F(ImageLoaderTest, FileSpanningSeveralReadChunksLoadsCompletely)
{
    const RandomHex h = MakeRandomHex(3 * kLoadChunkSize + 1000, 23);
    const auto r = Load(Write("many.hex", h.text), 0, 0xA5);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.bytesRead, h.highest);
    EXPECT_TRUE(m_image == h.image);
}

}  // namespace
