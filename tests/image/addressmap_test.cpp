// SPDX-License-Identifier: MIT
// The address map (base, skip, at, wrap, segments), the entry point, the warnings that go with
// them, format detection past comments, and the load map: the same blocks written in each
// record format must land alike.
#include "image/imageloader.h"
#include "image/loadmap.h"
#include "image/transform.h"
#include "records.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace records;
using Kind = LoadWarningKind;

struct Expect {
    Kind kind;
    const char* text;  // must appear in the message
};

struct Part {
    std::uint32_t rom;
    Bytes data;
};

ImageLoadOptions Options(std::uint64_t base, std::uint32_t at, bool wrap, std::uint64_t romSize)
{
    ImageLoadOptions o;
    o.fill = 0xEE;
    o.map.base = base;
    o.map.at = at;
    o.map.wrap = wrap;
    o.romSize = romSize;
    return o;
}

void CheckWarnings(const LoadDiagnostics& d, const std::vector<Expect>& expected, const char* absent = nullptr)
{
    ASSERT_EQ(d.Warnings().size(), expected.size()) << Describe(d);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(d.Warnings()[i].kind, expected[i].kind) << Describe(d);
        EXPECT_NE(d.Warnings()[i].message.find(expected[i].text), std::string::npos) << Describe(d);
        if (absent) {
            EXPECT_EQ(d.Warnings()[i].message.find(absent), std::string::npos) << Describe(d);
        }
    }
}

void CheckImage(const CRomImage& image, const std::vector<Part>& parts)
{
    Bytes expected(kRomImageSize, 0xEE);
    std::vector<bool> set(kRomImageSize);
    for (const Part& p : parts)
        for (std::size_t i = 0; i < p.data.size(); ++i) {
            expected[p.rom + i] = p.data[i];
            set[p.rom + i] = true;
        }
    for (std::uint32_t a = 0; a < kRomImageSize; ++a) {
        ASSERT_EQ(image.Data()[a], expected[a]) << std::hex << "at 0x" << a;
        ASSERT_EQ(image.IsSet(a), set[a]) << std::hex << "set at 0x" << a;
    }
}

TEST(AddressMap, TheSameBlocksMapAlikeInEveryRecordFormat)
{
    const Bytes a = Seq(0x100, 1), b = Seq(0x20, 77), c = Seq(0x40, 9);
    const auto cut = [](const Bytes& v, std::size_t from, std::size_t n) {
        return Bytes(v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(from + n));
    };
    struct Case {
        const char* name;
        std::vector<Block> blocks;
        ImageLoadOptions options;
        std::vector<Part> parts;
        std::uint64_t bytesRead;
        std::vector<Expect> warnings;
        const char* absent = nullptr;  // in no warning
    };
    const std::vector<Case> cases = {
        {"a 27C64 at 0xE000", {{0xE000, a}, {0xFFE0, b}}, Options(0xE000, 0, false, 0x2000),
         {{0, a}, {0x1FE0, b}}, 0x2000, {}},
        {"--at moves the mapped data up", {{0xE000, a}, {0xFFE0, b}}, Options(0xE000, 0x1000, false, 0x4000),
         {{0x1000, a}, {0x2FE0, b}}, 0x3000, {}},
        {"data below the base is passed over and counted", {{0xDFF0, b}}, Options(0xE000, 0, false, 0x2000),
         {{0, cut(b, 16, 16)}}, 0x10, {{Kind::BelowBase, "16 data bytes below --base 0xE000 passed over"}}},
        {"--wrap folds every address into the ROM", {{0xE100, a}, {0x1FFF0, b}}, Options(0, 0, true, 0x2000),
         {{0x100, a}, {0x1FF0, cut(b, 0, 16)}, {0, cut(b, 16, 16)}}, 0x2000, {}},
        {"--wrap after --base and --at", {{0x8000 + 0x2000 + 0x10, b}}, Options(0x8000, 0x400, true, 0x2000),
         {{0x410, b}}, 0x430, {}},
        {"what --at puts past 1 MiB is dropped", {{0, b}}, Options(0, 0xFFFF0, false, 0),
         {{0xFFFF0, cut(b, 0, 16)}}, kRomImageSize, {{Kind::DroppedData, "16 data bytes at or above 0x100000 dropped"}}},
        {"an STM32 build without --base names the base", {{0x08000000, c}}, Options(0, 0, false, 0), {}, 0,
         {{Kind::DroppedData, "the data lies in 0x8000000-0x800003F: give --base 0x8000000"},
          {Kind::NoData, "sets no byte"}}},
        {"a 6502 build without --base names the base", {{0xE000, a}}, Options(0, 0, false, 0x2000), {{0xE000, a}},
         0xE100, {{Kind::BeyondRomSize, "the data lies in 0xE000-0xE0FF: give --base 0xE000"}}},
        {"data in two windows names no base", {{0x1000, b}, {0xE000, b}}, Options(0, 0, false, 0x2000),
         {{0x1000, b}, {0xE000, b}}, 0xE020, {{Kind::BeyondRomSize, "lies beyond the ROM size"}}, "--base"},
        {"bytes two records set name the range", {{0x100, b}, {0x110, b}}, Options(0, 0, false, 0),
         {{0x100, cut(b, 0, 16)}, {0x110, b}}, 0x130, {{Kind::Overlap, "16 bytes set by two records: 0x110-0x11F by lines"}}},
    };
    for (ImageFormat format : {ImageFormat::IntelHex, ImageFormat::SRecord, ImageFormat::TekHex})
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(k.name) + " as " + ImageFormatTitle(format));
            Loaded l = Load(Write(format, k.blocks), k.options);
            ASSERT_TRUE(l.result.ok) << l.result.message;
            EXPECT_EQ(l.result.format, format);
            EXPECT_EQ(l.result.bytesRead, k.bytesRead);
            CheckWarnings(l.image.Diagnostics(), k.warnings, k.absent);
            CheckImage(l.image, k.parts);
        }
}

TEST(AddressMap, BinaryFilesSkipAndMove)
{
    const Bytes data = Seq(0x4000, 5);
    const std::string file(data.begin(), data.end());
    struct Case {
        const char* name;
        std::uint64_t skip;
        std::uint32_t at;
        bool wrap;
        std::vector<Part> parts;
        std::uint64_t bytesRead;
        std::vector<Expect> warnings;
    };
    const auto from = [&](std::size_t start, std::size_t n) {
        return Bytes(data.begin() + static_cast<std::ptrdiff_t>(start), data.begin() + static_cast<std::ptrdiff_t>(start + n));
    };
    const std::vector<Case> cases = {
        {"--skip and --at", 0x10, 0x100, false, {{0x100, from(0x10, 0x3FF0)}}, 0x40F0, {}},
        {"--skip past the end sets nothing", 0x5000, 0, false, {}, 0,
         {{Kind::NoData, "--skip 0x5000 passes over all its 16384 bytes"}}},
        {"--at near the end drops the rest", 0, 0xFF000, false, {{0xFF000, from(0, 0x1000)}}, 0xFF000 + 0x4000,
         {{Kind::BinaryTooLong, "the bytes from file offset 0x1000 on are dropped"}}},
        {"--wrap overlays a long dump", 0, 0, true, {{0, from(0x2000, 0x2000)}}, 0x2000,
         {{Kind::Overlap, "8192 bytes set twice: 0x0-0x1FFF from file offsets 0x0 and 0x2000"}}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ImageLoadOptions o;
        o.format = ImageFormat::Binary;
        o.fill = 0xEE;
        o.map.skip = k.skip;
        o.map.at = k.at;
        o.map.wrap = k.wrap;
        o.romSize = k.wrap ? 0x2000 : 0;
        Loaded l = Load(file, o);
        ASSERT_TRUE(l.result.ok) << l.result.message;
        EXPECT_EQ(l.result.bytesRead, k.bytesRead);
        CheckWarnings(l.image.Diagnostics(), k.warnings);
        CheckImage(l.image, k.parts);
    }
}

TEST(AddressMap, OptionsThatDoNotFitTheFileAreTheCallersMistake)
{
    const std::string hex = Write(ImageFormat::IntelHex, {{0, Seq(4, 1)}});
    const std::string bin = "\x01\x02\x03\x04";
    struct Case {
        const char* name;
        const std::string& file;
        ImageFormat format;
        SAddressMap map;
        std::uint64_t romSize;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"--base on a binary file found by its look", bin, ImageFormat::Auto, {.base = 0x10}, 0,
         "was read as binary: use --skip for a binary file"},
        {"--skip on an Intel HEX file found by its look", hex, ImageFormat::Auto, {.skip = 4}, 0,
         "was read as Intel HEX: use --base for a record file"},
        {"--skip on an S-record file asked for", hex, ImageFormat::SRecord, {.skip = 4}, 0, "was read as S-record"},
        {"--wrap without a ROM size", hex, ImageFormat::Auto, {.wrap = true}, 0, "--wrap needs the ROM size"},
        {"--at past the image", hex, ImageFormat::Auto, {.at = 0x100000}, 0, "lies beyond the 1 MiB image"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ImageLoadOptions o;
        o.format = k.format;
        o.map = k.map;
        o.romSize = k.romSize;
        const Loaded l = Load(k.file, o);
        EXPECT_FALSE(l.result.ok);
        EXPECT_TRUE(l.result.misuse);
        EXPECT_NE(l.result.message.find(k.text), std::string::npos) << l.result.message;
    }
}

TEST(AddressMap, MapAddressAgreesWithWhereTheBuilderStores)
{
    // Two ways to the same answer: the function the load map uses for the entry point, and the
    // builder every reader stores through.
    std::mt19937_64 rng(17);
    CRomImage image(0);
    for (int i = 0; i < 3000; ++i) {
        SAddressMap map;
        const bool binary = rng() % 2 == 0;
        (binary ? map.skip : map.base) = rng() % 3 == 0 ? 0 : rng() % 0x30000;
        map.at = rng() % 4 == 0 ? static_cast<std::uint32_t>(rng() % kRomImageSize) : 0;
        map.wrap = rng() % 3 == 0;
        const std::uint64_t romSize = kRomTypes[rng() % 8].nSize;
        const std::uint64_t address = rng() % 4 == 0 ? rng() : rng() % 0x200000;
        image.Reset(0);
        CImageBuilder builder(image, map, binary, romSize);
        const std::uint8_t byte = 0x5A;
        builder.Store(address, &byte, 1);
        const std::optional<std::uint32_t> rom = MapAddress(map, binary, romSize, address);
        ASSERT_EQ(image.CountSet(0, kRomImageSize), rom ? 1u : 0u) << i;
        if (rom) {
            ASSERT_TRUE(image.IsSet(*rom) && image.Data()[*rom] == byte) << i;
        }
    }
}

TEST(AddressMap, SegmentRecordsAreFollowedOnlyWhenAsked)
{
    const Bytes d = Seq(16, 3);
    const std::string text =
        Intel(2, 0, {0x10, 0x00}) + "\n" + Intel(0, 0x20, d) + "\n" + Intel(4, 0, {0, 2}) + "\n" + Intel(0, 0, d) + "\n:00000001FF\n";
    ImageLoadOptions o;
    o.fill = 0xEE;
    o.map.segments = true;
    Loaded l = Load(text, o);
    ASSERT_TRUE(l.result.ok);
    CheckWarnings(l.image.Diagnostics(), {});
    CheckImage(l.image, {{0x10020, d}, {0x20000, d}});  // a type 04 after it sets the upper bits again

    o.map.segments = false;
    l = Load(text, o);
    CheckWarnings(l.image.Diagnostics(), {{Kind::PassedOver, "give --segments to follow them (line 1)"}});
    CheckImage(l.image, {{0x20, d}, {0x20000, d}});
}

TEST(EntryPoint, StartRecordsNameItWithoutAWarning)
{
    const std::string data = Intel(0, 0, {1, 2}) + "\n";
    const struct {
        const char* name;
        std::string text;
        std::uint64_t entry;
        std::uint64_t line;
    } cases[] = {
        {"Intel HEX 03: CS x 16 + IP", data + Intel(3, 0, {0x12, 0x34, 0x00, 0x10}) + "\n:00000001FF\n", 0x12350, 2},
        {"Intel HEX 05", data + Intel(5, 0, {0x08, 0x00, 0x00, 0x09}) + "\n:00000001FF\n", 0x08000009, 2},
        {"S7", SRec('1', 0, 2, {1, 2}) + "\n" + SRec('7', 0x08000009, 4, {}) + "\n", 0x08000009, 2},
        {"S8", SRec('1', 0, 2, {1, 2}) + "\n" + SRec('8', 0x123456, 3, {}) + "\n", 0x123456, 2},
        {"S9", SRec('1', 0, 2, {1, 2}) + "\n\n" + SRec('9', 0x1234, 2, {}) + "\n", 0x1234, 3},
        {"Tektronix termination", Tek(6, 0, {1, 2}) + "\n" + Tek(8, 0xE000, {}) + "\n", 0xE000, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l = Load(c.text, ImageLoadOptions{});
        ASSERT_TRUE(l.result.ok);
        EXPECT_TRUE(l.result.complete);
        CheckWarnings(l.image.Diagnostics(), {});
        EXPECT_EQ(l.image.EntryPoint(), c.entry);
        EXPECT_EQ(l.image.Trace().entryLine, c.line);
    }
    // A file without a start record has none.
    Loaded l = Load(data + ":00000001FF\n", ImageLoadOptions{});
    EXPECT_FALSE(l.image.EntryPoint().has_value());
}

TEST(LoadWarnings, NewWarningsSayWhatHappened)
{
    const Bytes d = Seq(16, 1);
    const std::string end = ":00000001FF";
    const std::string boot = Intel(0, 0, d) + "\n" + Intel(0, 0x10, d) + "\n" + end + "\n";
    const std::string app = Intel(4, 0, {0, 1}) + "\n" + Intel(0, 0, d) + "\n" + end + "\n";
    const struct {
        const char* name;
        std::string text;
        ImageFormat format;
        std::vector<Expect> warnings;
        std::vector<Part> parts;
        bool complete;
    } cases[] = {
        {"cat boot.hex app.hex loads boot.hex and says so", boot + app, ImageFormat::Auto,
         {{Kind::AfterEnd, "3 records after the end record (line 3) ignored"}}, {{0, d}, {0x10, d}}, true},
        {"cat boot.s19 app.s19", SRec('1', 0, 2, d) + "\nS9030000FC\n" + SRec('1', 0x40, 2, d) + "\nS9030000FC\n",
         ImageFormat::Auto, {{Kind::AfterEnd, "2 records after the end record (line 2)"}}, {{0, d}}, true},
        {"an end record alone", end + "\n", ImageFormat::Auto, {{Kind::NoData, "sets no byte"}}, {}, true},
        {"S0 and S9 alone", "S00600004844521B\nS9030000FC\n", ImageFormat::Auto, {{Kind::NoData, "sets no byte"}}, {},
         true},
        {"an empty file asked for as S-record", "", ImageFormat::SRecord, {{Kind::NoData, "the file is empty"}}, {},
         false},
        {"a zero-length type 04 swallows nothing", ":00000004FC\n" + Intel(0, 0x20, d) + "\n" + end + "\n",
         ImageFormat::Auto, {{Kind::Malformed, "1 record whose byte count does not fit the type passed over (line 1)"}},
         {{0x20, d}}, true},
        {"a type 05 of three bytes", Intel(5, 0, {1, 2, 3}) + "\n" + Intel(0, 0, d) + "\n" + end + "\n",
         ImageFormat::Auto, {{Kind::Malformed, "(line 1)"}}, {{0, d}}, true},
        {"Intel HEX without an end record is not complete", Intel(0, 0, d) + "\n", ImageFormat::Auto,
         {{Kind::NoEndRecord, "type 01"}}, {{0, d}}, false},
        {"S-record without one neither", SRec('1', 0, 2, d) + "\n", ImageFormat::Auto, {{Kind::NoEndRecord, "S9"}},
         {{0, d}}, false},
        {"Tektronix without a termination is complete, and no warning", Tek(6, 0, d) + "\n", ImageFormat::Auto, {},
         {{0, d}}, true},
        {"Tektronix cut short is not complete", Tek(6, 0, d).substr(0, 20), ImageFormat::Auto,
         {{Kind::CutShort, "(line 1)"}}, {{0, Bytes(d.begin(), d.begin() + 2)}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImageLoadOptions o;
        o.format = c.format;
        o.fill = 0xEE;
        Loaded l = Load(c.text, o);
        ASSERT_TRUE(l.result.ok);
        EXPECT_EQ(l.result.complete, c.complete);
        CheckWarnings(l.image.Diagnostics(), c.warnings);
        CheckImage(l.image, c.parts);
    }
}

TEST(FormatDetection, LooksPastAByteOrderMarkBlankLinesAndComments)
{
    const Bytes d = Seq(16, 2);
    const std::string preamble = "\xEF\xBB\xBF# made by hand: 12:30\n\n  ; objcopy -O ihex fw.elf\r\n";
    const struct {
        std::string text;
        ImageFormat format;
    } cases[] = {
        {preamble + Write(ImageFormat::IntelHex, {{0x40, d}}), ImageFormat::IntelHex},
        {preamble + Write(ImageFormat::SRecord, {{0x40, d}}), ImageFormat::SRecord},
        {preamble + Write(ImageFormat::TekHex, {{0x40, d}}), ImageFormat::TekHex},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ImageFormatTitle(c.format));
        EXPECT_EQ(DetectImageFormat(c.text), c.format);
        ImageLoadOptions o;
        o.fill = 0xEE;
        Loaded l = Load(c.text, o);
        ASSERT_TRUE(l.result.ok);
        EXPECT_EQ(l.result.format, c.format);
        CheckWarnings(l.image.Diagnostics(), {});
        CheckImage(l.image, {{0x40, d}});
    }
    // A binary file that starts with '#' stays binary: comments are text.
    EXPECT_EQ(DetectImageFormat(std::string("#\x01\x02\n:10000000", 13)), ImageFormat::Binary);
    EXPECT_EQ(DetectImageFormat("#" + std::string(2000, 'x') + "\n:1000"), ImageFormat::Binary);
    EXPECT_EQ(DetectImageFormat("\xEF\xBB\xBF"), ImageFormat::Binary);
    EXPECT_EQ(DetectImageFormat("# only a comment\n"), ImageFormat::Binary);
}

TEST(LoadMap, SaysWhereEveryByteWentAfterTransformsToo)
{
    // Line 1: type 04; lines 2-3 at 0x8000-0x801F; line 4 a lone byte at 0x9000; line 5 below
    // the base; line 6 beyond a 27C64; line 7 the start record.
    const Bytes d = Seq(16, 4);
    const std::string text = Intel(4, 0, {0, 0}) + "\n" + Intel(0, 0x8000, d) + "\n" + Intel(0, 0x8010, d) + "\n" +
                             Intel(0, 0x9000, {0x77}) + "\n" + Intel(0, 0x7000, d) + "\n" + Intel(0, 0xA000, d) + "\n" +
                             Intel(5, 0, {0, 0, 0x80, 0x10}) + "\n:00000001FF\n";
    ImageLoadOptions o;
    o.map.base = 0x8000;
    o.romSize = 0x2000;
    Loaded l = Load(text, o);
    ASSERT_TRUE(l.result.ok);
    SLoadMap map = BuildLoadMap(l.image, 0x2000);
    ASSERT_EQ(map.set.size(), 2u);
    EXPECT_EQ(map.set[0].start, 0u);
    EXPECT_EQ(map.set[0].end, 0x1Fu);
    EXPECT_EQ(map.set[0].file, 0x8000u);
    EXPECT_EQ(map.set[0].line, 2u);
    EXPECT_EQ(map.set[1].start, 0x1000u);
    EXPECT_EQ(map.set[1].line, 4u);
    EXPECT_EQ(map.fill, (std::vector<SAddressRange>{{0x20, 0xFFF}, {0x1001, 0x1FFF}}));
    ASSERT_EQ(map.beyond.size(), 1u);
    EXPECT_EQ(map.beyond[0].start, 0x2000u);
    EXPECT_EQ(map.beyond[0].line, 6u);
    ASSERT_EQ(map.passed.size(), 1u);
    EXPECT_EQ(map.passed[0].fileStart, 0x7000u);
    EXPECT_EQ(map.passed[0].fileEnd, 0x7010u);
    EXPECT_EQ(map.passed[0].line, 5u);
    EXPECT_EQ(map.passed[0].why, EPassedOver::BelowBase);
    EXPECT_EQ(map.entry, 0x8010u);
    EXPECT_EQ(map.entryLine, 7u);
    EXPECT_EQ(map.entryRom, 0x10u);

    // Swapping A11 and A12 moves the lone byte from 0x1000 to 0x800; the map still knows its line.
    ASSERT_EQ(SwapAddressLines(l.image, 0x2000, 11, 12), "");
    map = BuildLoadMap(l.image, 0x2000);
    ASSERT_EQ(map.set.size(), 2u);
    EXPECT_EQ(map.set[1].start, 0x800u);
    EXPECT_EQ(map.set[1].line, 4u);
    EXPECT_EQ(map.set[1].file, 0x9000u);
    // Swapped bytes: the range at 0 now starts with the byte from file address 0x8001.
    ASSERT_EQ(SwapBytes(l.image, 0x2000), "");
    map = BuildLoadMap(l.image, 0x2000);
    EXPECT_EQ(map.set[0].file, 0x8001u);
    EXPECT_EQ(map.entryRom, 0x11u);  // the entry point's byte moved with the others
    // A checksum's bytes are not the file's.
    ASSERT_EQ(PutChecksum(l.image, 0x2000, ChecksumKind::Crc32Le, 0x1FFC), "");
    map = BuildLoadMap(l.image, 0x2000);
    ASSERT_EQ(map.set.back().start, 0x1FFCu);
    EXPECT_FALSE(map.set.back().fromFile);
}

}  // namespace
