// SPDX-License-Identifier: MIT
// Tests of the image writers and checksums: written files load back byte for byte, records
// keep to their format's limits, the extension picks the format.
#include "image/checksum.h"
#include "image/imageloader.h"
#include "image/imagewriter.h"
#include "image/srecord.h"
#include "image/tekhex.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Random(std::size_t n, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b)
        v = static_cast<std::uint8_t>(rng());
    return b;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        lines.push_back(l);
    }
    return lines;
}

// Loads text with the scanner of its format, over a fill byte the data never holds alone.
template <class Scanner>
Bytes LoadBack(const std::string& text, std::uint64_t& highest, LoadDiagnostics& d)
{
    Bytes image(kRomImageSize, 0x00);
    CImageBuilder builder{RomImage(image.data(), kRomImageSize)};
    Scanner scanner(builder, &d);
    scanner.Feed(text);
    scanner.Finish();
    highest = scanner.Highest();
    return image;
}

TEST(ImageWriter, WrittenFilesLoadBackByteForByte)
{
    for (ImageFormat format : {ImageFormat::IntelHex, ImageFormat::SRecord, ImageFormat::TekHex}) {
        for (unsigned perRecord : {16u, 32u, 120u, 255u}) {
            if ((format == ImageFormat::SRecord && perRecord > 250) || (format == ImageFormat::TekHex && perRecord > 120))
                continue;
            for (std::size_t size : {std::size_t{1}, std::size_t{8192}, std::size_t{0x10001}, std::size_t{0x5432F},
                                     kRomImageSize}) {
                SCOPED_TRACE(std::string(ImageFormatName(format)) + " " + std::to_string(perRecord) + " " +
                             std::to_string(size));
                const Bytes data = Random(size, static_cast<std::uint32_t>(size + perRecord));
                ImageWriteOptions o;
                o.format = format;
                o.bytesPerRecord = perRecord;
                o.sRecordCount = size % 2 == 0;
                const std::string text = EncodeImageToString(data, o);
                LoadDiagnostics d;
                std::uint64_t highest = 0;
                const Bytes image = format == ImageFormat::IntelHex ? LoadBack<CIntelHexScanner>(text, highest, d)
                                    : format == ImageFormat::SRecord ? LoadBack<CSRecordScanner>(text, highest, d)
                                                                     : LoadBack<CTekHexScanner>(text, highest, d);
                EXPECT_EQ(highest, size);
                EXPECT_TRUE(std::equal(data.begin(), data.end(), image.begin()));
                EXPECT_TRUE(std::all_of(image.begin() + static_cast<std::ptrdiff_t>(size), image.end(),
                                        [](std::uint8_t b) { return b == 0; }));
                EXPECT_TRUE(d.Empty()) << d.Warnings().front().message;
                EXPECT_EQ(DetectImageFormat(text), format);
            }
        }
    }
}

TEST(ImageWriter, IntelHexRecordsStayWithinTheir64KiBSegment)
{
    ImageWriteOptions o;
    o.bytesPerRecord = 32;
    const std::string text = EncodeImageToString(Random(0x20010, 5), o);
    const auto lines = SplitLines(text);
    std::vector<std::string> ela;
    for (const std::string& l : lines) {
        ASSERT_EQ(l[0], ':');
        const unsigned n = static_cast<unsigned>(std::stoul(l.substr(1, 2), nullptr, 16));
        const unsigned offset = static_cast<unsigned>(std::stoul(l.substr(3, 4), nullptr, 16));
        ASSERT_EQ(l.size(), 11 + 2 * n) << l;
        if (l.substr(7, 2) == "00") {
            EXPECT_LE(offset + n, 0x10000u) << l;
        }
        if (l.substr(7, 2) == "04")
            ela.push_back(l);
    }
    EXPECT_EQ(ela, (std::vector<std::string>{":020000040001F9", ":020000040002F8"}));
    EXPECT_EQ(lines.back(), ":00000001FF");
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(ImageWriter, SRecordTypesFollowTheHighestAddressOrTheAskedSize)
{
    const struct {
        std::size_t size;
        unsigned atLeast;
        bool count;
        char data, end;
        const char* countRecord;
    } cases[] = {
        {0x10000, 0, true, '1', '9', "S5030800F4"},
        {0x10001, 0, false, '2', '8', nullptr},
        {kRomImageSize, 0, true, '2', '8', "S50380007C"},
        {16, 4, false, '3', '7', nullptr},
        {16, 3, true, '2', '8', "S5030001FB"},
        {0x10001, 2, false, '2', '8', nullptr},  // S1 cannot reach it
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " at least " + std::to_string(c.atLeast));
        ImageWriteOptions o;
        o.format = ImageFormat::SRecord;
        o.sRecordAddressBytes = c.atLeast;
        o.sRecordCount = c.count;
        o.bytesPerRecord = 32;
        const auto lines = SplitLines(EncodeImageToString(Bytes(c.size, 0xA5), o));
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines.front(), "S0030000FC");
        EXPECT_EQ(lines[1][1], c.data);
        EXPECT_EQ(lines.back()[1], c.end);
        const std::size_t records = (c.size + 31) / 32;
        if (c.countRecord != nullptr) {
            EXPECT_EQ(lines[lines.size() - 2], c.countRecord);
            EXPECT_EQ(lines.size(), records + 3);
        } else {
            EXPECT_EQ(lines.size(), records + 2);
        }
    }
}

TEST(ImageWriter, EmptyImagesAndBinary)
{
    EXPECT_EQ(EncodeImageToString({}, ImageWriteOptions{}), ":00000001FF\r\n");
    ImageWriteOptions s;
    s.format = ImageFormat::SRecord;
    EXPECT_EQ(EncodeImageToString({}, s), "S0030000FC\nS9030000FC\n");
    ImageWriteOptions b;
    b.format = ImageFormat::Binary;
    const Bytes data = Random(200000, 9);
    const std::string bin = EncodeImageToString(data, b);
    EXPECT_EQ(bin, std::string(data.begin(), data.end()));
}

TEST(ImageWriter, UnusableOptionsAreRefusedBeforeAnyOutput)
{
    const Bytes data(10, 1);
    const struct {
        ImageFormat format;
        unsigned perRecord, addressBytes;
    } cases[] = {
        {ImageFormat::IntelHex, 0, 0}, {ImageFormat::IntelHex, 256, 0}, {ImageFormat::SRecord, 251, 0},
        {ImageFormat::SRecord, 16, 1}, {ImageFormat::SRecord, 16, 5},   {ImageFormat::TekHex, 121, 0},
        {ImageFormat::TekHex, 0, 0},
        {ImageFormat::Auto, 16, 0},
    };
    for (const auto& c : cases) {
        ImageWriteOptions o;
        o.format = c.format;
        o.bytesPerRecord = c.perRecord;
        o.sRecordAddressBytes = c.addressBytes;
        EXPECT_FALSE(CheckWriteOptions(data, o).empty());
        bool called = false;
        EXPECT_FALSE(EncodeImage(data, o, [&called](std::string_view) { return called = true; }));
        EXPECT_FALSE(called);
    }
}

TEST(ImageWriter, TheExtensionPicksTheFormat)
{
    const struct {
        const char* name;
        ImageFormat format;
        unsigned addressBytes;
    } cases[] = {
        {"out.hex", ImageFormat::IntelHex, 0}, {"OUT.HEX", ImageFormat::IntelHex, 0},
        {"a.ihx", ImageFormat::IntelHex, 0},   {"a.s19", ImageFormat::SRecord, 2},
        {"a.S28", ImageFormat::SRecord, 3},    {"a.s37", ImageFormat::SRecord, 4},
        {"a.srec", ImageFormat::SRecord, 0},   {"dir.hex/a.mot", ImageFormat::SRecord, 0},
        {"a.bin", ImageFormat::Binary, 0},     {"hex", ImageFormat::Binary, 0},
        {"a.hex.bak", ImageFormat::Binary, 0}, {"-", ImageFormat::Binary, 0},
    };
    for (const auto& c : cases) {
        const ImageWriteOptions o = WriteOptionsForFileName(c.name);
        EXPECT_EQ(o.format, c.format) << c.name;
        EXPECT_EQ(o.sRecordAddressBytes, c.addressBytes) << c.name;
    }
}

TEST(ImageWriter, FdWritesReportAFullDisk)
{
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const Bytes data(1000, 7);
    const ImageWriteResult r = WriteImageToFd(fd, "out.hex", data, ImageWriteOptions{});
    ::close(fd);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "There is no space left to write out.hex.");

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const ImageWriteResult w = WriteImageToFd(fds[1], "standard output", data, ImageWriteOptions{});
    ::close(fds[1]);
    ASSERT_TRUE(w.ok) << w.message;
    std::string got(8192, '\0');
    const ssize_t n = ::read(fds[0], got.data(), got.size());
    ::close(fds[0]);
    ASSERT_GT(n, 0);
    got.resize(static_cast<std::size_t>(n));
    EXPECT_EQ(got, EncodeImageToString(data, ImageWriteOptions{}));
}

TEST(Checksums, KnownValuesAndPieces)
{
    // The published check value of CRC-32 (ISO-HDLC, as zlib) for "123456789".
    const std::string check = "123456789";
    const std::span<const std::uint8_t> c(reinterpret_cast<const std::uint8_t*>(check.data()), check.size());
    EXPECT_EQ(Crc32(c), 0xCBF43926u);
    EXPECT_EQ(Crc32({}), 0u);
    EXPECT_EQ(Sum8(c), static_cast<std::uint8_t>(0x31 + 0x32 + 0x33 + 0x34 + 0x35 + 0x36 + 0x37 + 0x38 + 0x39));
    EXPECT_EQ(Sum16(Bytes(kRomImageSize, 0xFF)), 0u);  // 0xFF * 2^20 is a multiple of 2^16
    EXPECT_EQ(Sum16(Bytes(1000, 0xFF)), 1000u * 0xFF % 65536);

    // Any split gives the same CRC as the whole, whatever the alignment of the pieces.
    const Bytes data = Random(4099, 3);
    const std::uint32_t whole = Crc32(data);
    for (std::size_t cut : {0, 1, 7, 8, 9, 100, 4098, 4099}) {
        const std::span<const std::uint8_t> all(data);
        EXPECT_EQ(Crc32(all.subspan(cut), Crc32(all.first(cut))), whole) << cut;
    }
    const ImageChecksums sums = ComputeChecksums(data);
    EXPECT_EQ(sums.crc32, whole);
    EXPECT_EQ(sums.sum8, Sum8(data));
    EXPECT_EQ(sums.sum16, Sum16(data));
}

}  // namespace

namespace {

// The window's Save: the file is replaced whole, in the format asked for, and a path that cannot
// be written is named in quotes with the cause.
TEST(ImageWriter, WriteImageFileReplacesTheFileWhole)
{
    char dirTemplate[] = "/tmp/tarvex-writer-XXXXXX";
    ASSERT_NE(::mkdtemp(dirTemplate), nullptr);
    const std::string dir = dirTemplate;
    const std::string path = dir + "/out.tek";
    {
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(std::string(100000, 'x').c_str(), f);
        std::fclose(f);
    }
    const Bytes data = Random(300, 5);
    ImageWriteOptions o;
    o.format = ImageFormat::TekHex;
    const ImageWriteResult r = WriteImageFile(path, data, o);
    ASSERT_TRUE(r.ok) << r.message;
    const auto readAll = [&path] {
        std::string text;
        if (std::FILE* f = std::fopen(path.c_str(), "r")) {
            char buf[4096];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
                text.append(buf, n);
            std::fclose(f);
        }
        return text;
    };
    EXPECT_EQ(readAll(), EncodeImageToString(data, o));

    const ImageWriteResult bad = WriteImageFile(dir + "/no/such/folder/x.hex", data, ImageWriteOptions{});
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.message.rfind("Could not write \"" + dir + "/no/such/folder/x.hex\": ", 0), 0u) << bad.message;
    ImageWriteOptions refused;
    refused.format = ImageFormat::Auto;
    EXPECT_FALSE(WriteImageFile(path, data, refused).ok);
    EXPECT_EQ(readAll(), EncodeImageToString(data, o));  // left as it was
    std::remove(path.c_str());
    ::rmdir(dir.c_str());
}

} // namespace
