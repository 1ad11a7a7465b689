// SPDX-License-Identifier: MIT
// Differential tests: Intel HEX written by srec_cat and python3-intelhex loads through
// `tarvexctl load --fill XX --out` to the same 1 MiB image those tools make with that fill;
// S-record and extended Tektronix files srec_cat writes load in the core loader as srec_cat
// reads them; files the core writes read back in srec_cat; checksums agree with python3's zlib.
#include "../image/loadinto.h"
#include "process.h"

#include "image/checksum.h"
#include "image/imageloader.h"
#include "image/imagewriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <cctype>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kImageSize = 1048576;

struct Block {
    unsigned address;
    std::size_t size;
};

struct DataSet {
    const char* name;
    std::vector<Block> blocks;  // non-overlapping
};

std::string Hex(unsigned v)
{
    char s[16];
    std::snprintf(s, sizeof s, "0x%X", v);
    return s;
}

// An interpreter that has the intelhex module (Debian installs it for /usr/bin/python3).
std::string FindPython()
{
    for (const char* py : {"/usr/bin/python3", "python3"})
        if (RunProcess({py, "-c", "import intelhex"}).exitCode == 0)
            return py;
    return {};
}

class LoaderDiffTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_python = FindPython();
        ASSERT_FALSE(m_python.empty()) << "python3-intelhex is missing (scripts/deps.sh installs it)";
        ASSERT_EQ(RunProcess({"srec_cat", "-version"}).exitCode, 0)
            << "srec_cat is missing (scripts/deps.sh installs srecord)";
    }

    // Random bytes for every block, one binary file per block.
    std::vector<std::string> WriteBlocks(const DataSet& set, std::uint32_t seed)
    {
        std::mt19937 rng(seed);
        std::vector<std::string> files;
        for (std::size_t i = 0; i < set.blocks.size(); ++i) {
            std::string data(set.blocks[i].size, '\0');
            for (char& c : data)
                c = static_cast<char>(rng());
            files.push_back(m_dir / (std::string(set.name) + std::to_string(i) + ".bin"));
            WriteFile(files.back(), data);
        }
        return files;
    }

    std::string SrecWrite(const DataSet& set, const std::vector<std::string>& files, int perLine)
    {
        const std::string out = m_dir / (std::string(set.name) + "-srec" + std::to_string(perLine) + ".hex");
        std::vector<std::string> argv{"srec_cat"};
        for (std::size_t i = 0; i < files.size(); ++i)
            argv.insert(argv.end(), {files[i], "-binary", "-offset", Hex(set.blocks[i].address)});
        argv.insert(argv.end(), {"-o", out, "-intel", "-obs=" + std::to_string(perLine)});
        const auto r = RunProcess(argv);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return out;
    }

    std::string PythonWrite(const DataSet& set, const std::vector<std::string>& files, int perLine)
    {
        const std::string out = m_dir / (std::string(set.name) + "-py" + std::to_string(perLine) + ".hex");
        std::vector<std::string> argv{m_python, "-c",
                                      "import sys\n"
                                      "from intelhex import IntelHex\n"
                                      "ih = IntelHex()\n"
                                      "a = sys.argv[3:]\n"
                                      "for f, off in zip(a[0::2], a[1::2]):\n"
                                      "    ih.frombytes(open(f, 'rb').read(), offset=int(off, 0))\n"
                                      "ih.write_hex_file(sys.argv[1], byte_count=int(sys.argv[2]))\n",
                                      out, std::to_string(perLine)};
        for (std::size_t i = 0; i < files.size(); ++i)
            argv.insert(argv.end(), {files[i], Hex(set.blocks[i].address)});
        const auto r = RunProcess(argv);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return out;
    }

    std::string SrecImage(const std::string& hex, unsigned fill)
    {
        const std::string out = hex + ".srec.bin";
        const auto r = RunProcess({"srec_cat", hex, "-intel", "-fill", Hex(fill), "0", "0x100000",
                                   "-o", out, "-binary"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return ReadFile(out);
    }

    // The image and the highest address + 1, as python3-intelhex sees the file.
    std::pair<std::string, std::string> PythonImage(const std::string& hex, unsigned fill)
    {
        const std::string out = hex + ".py.bin";
        const auto r = RunProcess({m_python, "-c",
                                   "import sys\n"
                                   "from intelhex import IntelHex\n"
                                   "ih = IntelHex(sys.argv[1])\n"
                                   "ih.padding = int(sys.argv[3], 0)\n"
                                   "ih.tobinfile(sys.argv[2], start=0, size=0x100000)\n"
                                   "print('%08x' % (ih.maxaddr() + 1))\n",
                                   hex, out, Hex(fill)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return {ReadFile(out), r.out};
    }

    void ExpectSameImage(const std::string& hex, unsigned fill)
    {
        SCOPED_TRACE(hex + " fill " + Hex(fill));
        const std::string out = hex + ".tarvex.bin";
        char fillText[3];
        std::snprintf(fillText, sizeof fillText, "%02X", fill);
        const auto r = RunProcess({TARVEXCTL_PATH, "load", hex, "--fill", fillText, "--out", out});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string mine = ReadFile(out);
        ASSERT_EQ(mine.size(), kImageSize);

        const std::string srec = SrecImage(hex, fill);
        const auto [py, pyCount] = PythonImage(hex, fill);
        ASSERT_EQ(srec.size(), kImageSize);
        ASSERT_EQ(py.size(), kImageSize);
        EXPECT_TRUE(mine == srec) << "differs from srec_cat at byte " << FirstDifference(mine, srec);
        EXPECT_TRUE(mine == py) << "differs from intelhex at byte " << FirstDifference(mine, py);
        EXPECT_EQ(r.out, pyCount);
        ++m_compared;
    }

    static std::size_t FirstDifference(const std::string& a, const std::string& b)
    {
        return static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
    }

    TempDir m_dir;
    std::string m_python;
    int m_compared = 0;
};

TEST_F(LoaderDiffTest, ImagesMatchSrecCatAndIntelHex)
{
    const std::vector<DataSet> sets = {
        {"low", {{0x0000, 3000}}},
        // Across a 64 KiB boundary, above 64 KiB, up to the last byte of the image.
        {"spread", {{0x0100, 500}, {0xFFF0, 100}, {0x23456, 4096}, {0x7FFFF, 2}, {0xFFF00, 256}}},
        {"dense", {{0x40000, 0x30000}}},
    };
    const unsigned fills[] = {0x00, 0xFF, 0x5A};
    std::uint32_t seed = 1;
    for (const DataSet& set : sets) {
        const auto files = WriteBlocks(set, seed++);
        std::vector<std::string> hexes = {SrecWrite(set, files, 16), SrecWrite(set, files, 255),
                                          PythonWrite(set, files, 16), PythonWrite(set, files, 32)};
        // Neither tool writes lower case; the same file in lower case must load the same.
        std::string lower = ReadFile(hexes.front());
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
        hexes.push_back(hexes.front() + ".lower.hex");
        WriteFile(hexes.back(), lower);

        for (std::size_t i = 0; i < hexes.size(); ++i)
            ExpectSameImage(hexes[i], fills[(i + seed) % 3]);
    }
    EXPECT_EQ(m_compared, 15);
}

TEST_F(LoaderDiffTest, ToolOutputUsesExtendedLinearAddressRecords)
{
    // Guards the test above: the files really hold types 00, 01 and 04 and data above 64 KiB.
    const DataSet set{"types", {{0x1FFF8, 64}}};
    const auto files = WriteBlocks(set, 99);
    for (const std::string& hex : {SrecWrite(set, files, 16), PythonWrite(set, files, 16)}) {
        const std::string text = ReadFile(hex);
        EXPECT_NE(text.find(":020000040001F9"), std::string::npos) << text;
        EXPECT_NE(text.find(":020000040002F8"), std::string::npos) << text;
        EXPECT_NE(text.find(":00000001FF"), std::string::npos) << text;
        ExpectSameImage(hex, 0xC3);
    }
}

// The sparse data sets of the Intel HEX test, through srec_cat's other formats.
class FormatDiffTest : public LoaderDiffTest {
protected:
    // srec_cat writes the blocks in format (its option) with extra options.
    std::string SrecWriteAs(const DataSet& set, const std::vector<std::string>& files, const std::string& format,
                            const std::vector<std::string>& extra, const std::string& tag)
    {
        const std::string out = m_dir / (std::string(set.name) + "-" + tag);
        std::vector<std::string> argv{"srec_cat"};
        for (std::size_t i = 0; i < files.size(); ++i)
            argv.insert(argv.end(), {files[i], "-binary", "-offset", Hex(set.blocks[i].address)});
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.insert(argv.end(), {"-o", out, format});
        const auto r = RunProcess(argv);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return out;
    }

    // srec_cat's 1 MiB image of a file in format, over fill.
    std::string SrecImageOf(const std::string& in, const std::string& format, unsigned fill)
    {
        const std::string out = in + ".srec.bin";
        const auto r = RunProcess({"srec_cat", in, format, "-fill", Hex(fill), "0", "0x100000", "-o", out, "-binary"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return ReadFile(out);
    }

    struct CoreLoad {
        ImageLoadResult result;
        LoadDiagnostics diagnostics;
        std::string image;
        std::optional<std::uint64_t> entry;
    };

    static CoreLoad LoadInCore(const std::string& path, unsigned fill)
    {
        CoreLoad l;
        CRomImage image;
        ImageLoadOptions o;
        o.fill = static_cast<std::uint8_t>(fill);
        l.result = LoadImage(path, o, image);
        l.diagnostics = image.Diagnostics();
        l.image.assign(image.Data(), image.Data() + kImageSize);
        l.entry = image.EntryPoint();
        return l;
    }

    static std::string Warnings(const LoadDiagnostics& d)
    {
        std::string s;
        for (const LoadWarning& w : d.Warnings())
            s += std::string(LoadWarningKindName(w.kind)) + ": " + w.message + "\n";
        return s;
    }
};

TEST_F(FormatDiffTest, SRecordAndTekHexFromSrecCatLoadAsSrecCatReadsThem)
{
    const std::vector<DataSet> sets = {
        {"low", {{0x0000, 3000}}},
        {"spread", {{0x0100, 500}, {0xFFF0, 100}, {0x23456, 4096}, {0x7FFFF, 2}, {0xFFF00, 256}}},
        {"dense", {{0x40000, 0x30000}}},
    };
    struct Variant {
        const char* tag;
        const char* format;
        std::vector<std::string> extra;
        ImageFormat detected;
        std::optional<std::uint64_t> entry;  // srec_cat writes an end record only with a start address
    };
    const std::vector<Variant> variants = {
        {"s", "-Motorola", {}, ImageFormat::SRecord, {}},
        {"s32", "-Motorola", {"-obs=32", "-execution-start-address=0"}, ImageFormat::SRecord, 0},
        {"s37", "-Motorola", {"-address-length=4", "-obs=250"}, ImageFormat::SRecord, {}},
        {"tek", "-Tektronix_Extended", {}, ImageFormat::TekHex, {}},
        {"tek8", "-Tektronix_Extended", {"-obs=8", "-execution-start-address=0x1234"}, ImageFormat::TekHex, 0x1234},
    };
    const unsigned fills[] = {0x00, 0xFF, 0x5A};
    std::uint32_t seed = 40;
    int compared = 0;
    for (const DataSet& set : sets) {
        const auto files = WriteBlocks(set, seed++);
        for (const Variant& v : variants) {
            const unsigned fill = fills[(seed + static_cast<unsigned>(compared)) % 3];
            const std::string path = SrecWriteAs(set, files, v.format, v.extra, v.tag);
            SCOPED_TRACE(path + " fill " + Hex(fill));
            const CoreLoad mine = LoadInCore(path, fill);
            ASSERT_TRUE(mine.result.ok) << mine.result.message;
            EXPECT_EQ(mine.result.format, v.detected);
            const std::string theirs = SrecImageOf(path, v.format, fill);
            ASSERT_EQ(theirs.size(), kImageSize);
            EXPECT_TRUE(mine.image == theirs) << "differs from srec_cat at byte " << FirstDifference(mine.image, theirs);
            const Block& last = set.blocks.back();
            EXPECT_EQ(mine.result.bytesRead, last.address + last.size);
            // A file srec_cat wrote draws no warning, with or without a start address; the
            // start address is the entry point.
            EXPECT_TRUE(mine.diagnostics.Empty()) << Warnings(mine.diagnostics);
            EXPECT_EQ(mine.entry, v.entry);
            ++compared;
        }
    }
    EXPECT_EQ(compared, 15);
}

TEST_F(FormatDiffTest, FilesWeWriteReadBackInSrecCat)
{
    struct Variant {
        const char* name;
        ImageWriteOptions options;
        const char* srecFormat;
    };
    const auto make = [](ImageFormat f, unsigned perRecord, unsigned addressBytes, bool count) {
        ImageWriteOptions o;
        o.format = f;
        o.bytesPerRecord = perRecord;
        o.sRecordAddressBytes = addressBytes;
        o.sRecordCount = count;
        return o;
    };
    const std::vector<Variant> variants = {
        {"out16.hex", make(ImageFormat::IntelHex, 16, 0, false), "-intel"},
        {"out32.hex", make(ImageFormat::IntelHex, 32, 0, false), "-intel"},
        {"out.s19", make(ImageFormat::SRecord, 16, 2, true), "-Motorola"},
        {"out.s28", make(ImageFormat::SRecord, 32, 3, false), "-Motorola"},
        {"out.s37", make(ImageFormat::SRecord, 32, 4, true), "-Motorola"},
        {"out16.tek", make(ImageFormat::TekHex, 16, 0, false), "-Tektronix_Extended"},
        {"out120.tek", make(ImageFormat::TekHex, 120, 0, false), "-Tektronix_Extended"},
    };
    std::mt19937 rng(77);
    int compared = 0;
    for (std::size_t size : {std::size_t{8192}, std::size_t{65536}, std::size_t{0x10001}, std::size_t{0x4F0F3},
                             kImageSize}) {
        std::vector<std::uint8_t> data(size);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        for (const Variant& v : variants) {
            SCOPED_TRACE(std::string(v.name) + " " + std::to_string(size));
            const std::string path = m_dir / (std::to_string(size) + v.name);
            const std::string text = EncodeImageToString(data, v.options);
            ASSERT_FALSE(text.empty());
            WriteFile(path, text);
            const std::string out = path + ".bin";
            const auto r = RunProcess({"srec_cat", path, v.srecFormat, "-o", out, "-binary"});
            ASSERT_EQ(r.exitCode, 0) << r.err;
            EXPECT_EQ(r.err, "");  // not even a warning
            EXPECT_TRUE(ReadFile(out) == std::string(data.begin(), data.end()));

            // And the core reads its own file back, chosen by its first characters.
            const CoreLoad mine = LoadInCore(path, 0xFF);
            ASSERT_TRUE(mine.result.ok) << mine.result.message;
            EXPECT_EQ(mine.result.bytesRead, size);
            EXPECT_TRUE(mine.diagnostics.Empty()) << Warnings(mine.diagnostics);
            EXPECT_TRUE(mine.image.compare(0, size, std::string(data.begin(), data.end())) == 0);
            ++compared;
        }
    }
    EXPECT_EQ(compared, 35);
}

// Our extended Tektronix data records are the ones srec_cat writes for the same bytes, character
// for character; ours end with a termination record where srec_cat, given no start address,
// writes none.
TEST_F(FormatDiffTest, TekHexRecordsAreTheOnesSrecCatWrites)
{
    std::mt19937 rng(91);
    std::vector<std::uint8_t> data(0x10000 + 77);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(rng());
    const std::string bin = m_dir / "tek-source.bin";
    WriteFile(bin, std::string(data.begin(), data.end()));
    const std::string theirs = m_dir / "tek-srec_cat.tek";
    const auto r = RunProcess({"srec_cat", bin, "-binary", "-o", theirs, "-Tektronix_Extended", "-obs=32"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ImageWriteOptions o;
    o.format = ImageFormat::TekHex;
    o.bytesPerRecord = 32;
    std::string mine = EncodeImageToString(data, o);
    const std::size_t last = mine.rfind('%');
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(mine.substr(last), "%0E81E800000000\n");
    mine.erase(last);
    EXPECT_EQ(mine, ReadFile(theirs));
}

TEST_F(FormatDiffTest, ChecksumsAgreeWithPythonZlib)
{
    std::mt19937 rng(5);
    // Around the 16- and 64-byte steps of the folding CRC as well.
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{63}, std::size_t{64},
                             std::size_t{65}, std::size_t{80}, std::size_t{127}, std::size_t{128}, std::size_t{4093},
                             std::size_t{4111}, kImageSize}) {
        std::string data(size, '\0');
        for (char& c : data)
            c = static_cast<char>(rng());
        if (size == kImageSize)
            std::fill(data.begin() + 1000, data.begin() + 300000, '\xFF');  // long runs too
        const std::string path = m_dir / ("sum" + std::to_string(size) + ".bin");
        WriteFile(path, data);
        const auto r = RunProcess({m_python, "-c",
                                   "import sys, zlib\n"
                                   "d = open(sys.argv[1], 'rb').read()\n"
                                   "print('%08x %02x %04x' % (zlib.crc32(d), sum(d) & 0xFF, sum(d) & 0xFFFF))\n",
                                   path});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const ImageChecksums c = ComputeChecksums(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
        char mine[32];
        std::snprintf(mine, sizeof mine, "%08x %02x %04x\n", c.crc32, c.sum8, c.sum16);
        EXPECT_EQ(r.out, mine) << size;
    }
}

}  // namespace
