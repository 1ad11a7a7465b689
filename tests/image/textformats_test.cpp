// SPDX-License-Identifier: MIT
// Tests of the S-record and extended Tektronix readers: placement, the Intel HEX loader's
// rules (fill, count, 1 MiB limit, end record), warnings, streaming and malformed input.
#include "records.h"
#include "loadinto.h"
#include "image/imageloader.h"
#include "image/srecord.h"
#include "image/tekhex.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = LoadWarningKind;

using records::HexBytes;

// An S-record: count, address of addressBytes bytes, data, one's complement checksum (+ delta).
std::string SRec(char type, std::uint64_t address, unsigned addressBytes, const Bytes& data, int delta = 0)
{
    Bytes body;
    body.push_back(static_cast<std::uint8_t>(addressBytes + data.size() + 1));
    for (unsigned i = addressBytes; i-- > 0;)
        body.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::uint8_t b : body)
        sum += b;
    body.push_back(static_cast<std::uint8_t>((~sum + static_cast<unsigned>(delta)) & 0xFF));
    return std::string("S") + type + HexBytes(body);
}

// An extended Tektronix record: the checksum is the sum of all digit values but its own.
std::string Tek(int type, std::uint64_t address, unsigned addressDigits, const Bytes& data, int delta = 0)
{
    std::string addr;
    for (unsigned i = addressDigits == 0 ? 16 : addressDigits; i-- > 0;)
        addr += "0123456789ABCDEF"[(address >> (4 * i)) & 0xF];
    const std::string rest = std::string(1, "0123456789ABCDEF"[addressDigits & 0xF]) + addr + HexBytes(data);
    char head[8];
    std::snprintf(head, sizeof head, "%02X%X", static_cast<unsigned>(5 + rest.size()), static_cast<unsigned>(type));
    unsigned sum = 0;
    for (char c : std::string(head) + rest)
        sum += static_cast<unsigned>(c <= '9' ? c - '0' : c - 'A' + 10);
    char cs[4];
    std::snprintf(cs, sizeof cs, "%02X", (sum + static_cast<unsigned>(delta)) & 0xFF);
    return "%" + std::string(head) + cs + rest;
}

std::string Lines(const std::vector<std::string>& lines, const char* eol = "\n")
{
    std::string s;
    for (const auto& l : lines)
        s += l + eol;
    return s;
}

Bytes Seq(std::size_t n, std::uint8_t start)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(start + i * 13);
    return b;
}

struct Part {
    std::size_t address;
    Bytes data;
};

struct Expect {
    Kind kind;
    std::uint64_t line;
};

struct Case {
    const char* name;
    std::string text;
    std::vector<Part> parts;  // what lands over the fill byte
    std::uint64_t highest;
    std::vector<Expect> warnings;  // exactly these kinds and first lines, in this order
};

std::string Describe(const LoadDiagnostics& d)
{
    std::string s;
    for (const auto& w : d.Warnings())
        s += std::string(LoadWarningKindName(w.kind)) + "@" + std::to_string(w.line) + ": " + w.message + "\n";
    return s.empty() ? "(no warnings)" : s;
}

// Feeds text in pieces of the given size (0: whole), all of it, as the loader reads a file to
// its end.
template <class Scanner>
void Scan(const std::string& text, std::size_t piece, Bytes& image, LoadDiagnostics& d, std::uint64_t& highest)
{
    image.assign(kRomImageSize, 0xEE);
    CImageBuilder builder{RomImage(image.data(), kRomImageSize)};
    Scanner scanner(builder, &d);
    if (piece == 0)
        piece = text.size() + 1;
    for (std::size_t at = 0; at < text.size(); at += piece)
        scanner.Feed(std::string_view(text).substr(at, piece));
    scanner.Finish();
    highest = scanner.Highest();
}

template <class Scanner>
void CheckCases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes expected(kRomImageSize, 0xEE);
        for (const Part& p : c.parts)
            std::copy(p.data.begin(), p.data.end(), expected.begin() + static_cast<std::ptrdiff_t>(p.address));
        for (std::size_t piece : {0, 1, 3, 17, 100}) {
            SCOPED_TRACE("pieces of " + std::to_string(piece));
            Bytes image;
            LoadDiagnostics d;
            std::uint64_t highest = 0;
            Scan<Scanner>(c.text, piece, image, d, highest);
            EXPECT_EQ(highest, c.highest);
            EXPECT_TRUE(image == expected);
            const auto& w = d.Warnings();
            ASSERT_EQ(w.size(), c.warnings.size()) << Describe(d);
            for (std::size_t i = 0; i < w.size(); ++i) {
                EXPECT_EQ(w[i].kind, c.warnings[i].kind) << Describe(d);
                EXPECT_EQ(w[i].line, c.warnings[i].line) << Describe(d);
            }
        }
    }
}

TEST(SRecordScanner, RecordsLandAndWarn)
{
    const Bytes a = Seq(16, 1), b = Seq(32, 7), c = Seq(5, 99);
    const std::string s0 = SRec('0', 0, 2, {'h', 'd', 'r'});
    const std::string s9 = SRec('9', 0, 2, {});
    const std::vector<Case> cases = {
        {"S1 S2 S3 with header, count and end",
         Lines({s0, SRec('1', 0x1234, 2, a), SRec('2', 0x0ABCDE, 3, b), SRec('3', 0x000F0000, 4, c),
                SRec('5', 3, 2, {}), s9}),
         {{0x1234, a}, {0xABCDE, b}, {0xF0000, c}}, 0xF0005, {}},
        {"CR LF, blank lines, lower case and S8/S7 ends",
         Lines({"", SRec('1', 0x10, 2, a), "  ", SRec('8', 0, 3, {})}, "\r\n") + "S1130000" + std::string(32, 'a') +
             "01\n",
         {{0x10, a}}, 0x20, {{Kind::AfterEnd, 4}}},
        {"the end record ends the data", Lines({SRec('1', 0, 2, a), SRec('7', 0, 4, {}), SRec('1', 0x100, 2, b)}),
         {{0, a}}, 16, {{Kind::AfterEnd, 2}}},
        {"later records overwrite earlier ones", Lines({SRec('1', 0, 2, a), SRec('1', 8, 2, c), s9}),
         {{0, a}, {8, c}}, 16, {}},
        {"wrong checksums load like right ones",
         Lines({SRec('1', 0, 2, a, 1), SRec('1', 0x40, 2, c), SRec('1', 0x80, 2, c, 2), s9}),
         {{0, a}, {0x40, c}, {0x80, c}}, 0x85, {{Kind::Checksum, 1}}},
        // In the checksum: the data loads as written.
        {"a bad character", Lines({SRec('1', 0, 2, a), SRec('1', 0x20, 2, c).replace(18, 1, "?"), s9}),
         {{0, a}, {0x20, c}}, 0x25, {{Kind::BadCharacter, 2}}},
        {"a record cut short by the end of the file stores its complete bytes",
         Lines({s0}) + SRec('1', 0x200, 2, a).substr(0, 8 + 11), {{0x200, Bytes(a.begin(), a.begin() + 5)}}, 0x205,
         {{Kind::CutShort, 2}, {Kind::NoEndRecord, 0}}},
        {"a line shorter than its count", Lines({SRec('1', 0, 2, a).substr(0, 12), s9}),
         {{0, Bytes(a.begin(), a.begin() + 2)}}, 2, {{Kind::CutShort, 1}}},
        {"characters after the checksum", Lines({SRec('1', 0, 2, c) + "00", s9}), {{0, c}}, 5,
         {{Kind::BadCharacter, 1}}},
        {"no end record and no count", Lines({SRec('1', 0, 2, c)}), {{0, c}}, 5, {{Kind::NoEndRecord, 0}}},
        {"a matching count stands in for the end record", Lines({SRec('1', 0, 2, c), SRec('1', 5, 2, c),
                                                                  SRec('5', 2, 2, {})}),
         {{0, c}, {5, c}}, 10, {}},
        {"a count that disagrees", Lines({SRec('1', 0, 2, c), SRec('5', 2, 2, {}), s9}), {{0, c}}, 5,
         {{Kind::CountMismatch, 2}}},
        {"data at and above 1 MiB is dropped",
         Lines({SRec('2', 0xFFFFC, 3, Seq(8, 1)), SRec('3', 0x12345678, 4, c), s9}),
         {{0xFFFFC, Seq(4, 1)}}, kRomImageSize, {{Kind::DroppedData, 1}}},
        {"S4 and stray lines are passed over", Lines({"S4030000FC", "garbage", SRec('1', 0, 2, c), s9}), {{0, c}}, 5,
         {{Kind::BadCharacter, 2}, {Kind::PassedOver, 1}}},
        {"a count too small for the address", Lines({"S1020000", SRec('1', 0, 2, c), s9}), {{0, c}}, 5,
         {{Kind::CutShort, 1}}},
        {"no S-records at all", "hello\nworld\n", {}, 0, {{Kind::NoRecords, 1}}},
        {"empty", "", {}, 0, {}},
    };
    CheckCases<CSRecordScanner>(cases);
}

TEST(TekHexScanner, RecordsLandAndWarn)
{
    const Bytes a = Seq(16, 3), c = Seq(5, 200);
    const std::string end = Tek(8, 0, 1, {});
    const std::vector<Case> cases = {
        // Written by srec_cat: "Hello, World!\n" at 0x6B.
        {"srec_cat's record", "%2A6DE80000006B48656C6C6F2C20576F726C64210A\n%0E81E800000000\n",
         {{0x6B, Bytes{'H', 'e', 'l', 'l', 'o', ',', ' ', 'W', 'o', 'r', 'l', 'd', '!', '\n'}}}, 0x6B + 14, {}},
        {"address lengths 1 to 16", Lines({Tek(6, 0x7, 1, c), Tek(6, 0x123, 3, a), Tek(6, 0xF0000, 8, c),
                                           Tek(6, 0x80000, 0, c), Tek(6, 0xABCDE, 15, c), end}),
         {{7, c}, {0x123, a}, {0xF0000, c}, {0x80000, c}, {0xABCDE, c}}, 0xF0005, {}},
        {"symbols are passed over, the end ends the data",
         Lines({"%1E3A0SYMBOL1234567890ABCDEF", Tek(6, 0, 4, c), end, Tek(6, 0x40, 4, a)}), {{0, c}}, 5,
         {{Kind::AfterEnd, 3}}},
        {"wrong checksum", Lines({Tek(6, 0, 4, c), Tek(6, 0x10, 4, c, 1), end}), {{0, c}, {0x10, c}}, 0x15,
         {{Kind::Checksum, 2}}},
        {"a bad character", Lines({Tek(6, 0, 4, c).replace(5, 1, "g"), end}), {{0, c}}, 5,
         {{Kind::BadCharacter, 1}}},
        {"cut short by the end of the file", Lines({Tek(6, 0, 4, c)}) + Tek(6, 0x100, 4, a).substr(0, 11 + 9),
         {{0, c}, {0x100, Bytes(a.begin(), a.begin() + 4)}}, 0x104, {{Kind::CutShort, 2}}},
        {"a length too small for the address", Lines({"%0A60081234", Tek(6, 0, 4, c), end}), {{0, c}}, 5,
         {{Kind::CutShort, 1}}},
        {"characters beyond the length", Lines({Tek(6, 0, 4, c) + "FF", end}), {{0, c}}, 5,
         {{Kind::BadCharacter, 1}}},
        {"data at and above 1 MiB is dropped", Lines({Tek(6, 0xFFFFE, 5, c), Tek(6, 0xFFFFFFFFFull, 9, c), end}),
         {{0xFFFFE, Bytes(c.begin(), c.begin() + 2)}}, kRomImageSize, {{Kind::DroppedData, 1}}},
        {"unknown types and stray lines", Lines({Tek(5, 0, 4, c), "x", Tek(6, 0, 4, c), end}), {{0, c}}, 5,
         {{Kind::BadCharacter, 2}, {Kind::PassedOver, 1}}},
        // srec_cat writes none without a start address.
        {"no termination is no warning", Lines({Tek(6, 0, 4, c)}), {{0, c}}, 5, {}},
        {"no records at all", "\n\nplain text\n", {}, 0, {{Kind::NoRecords, 3}}},
    };
    CheckCases<CTekHexScanner>(cases);
}

// Random damage to valid files: whatever comes in, nothing is written outside the buffer
// (ASan watches), the count never passes 1 MiB and bytes are only set where records say.
template <class Scanner>
void Garble(const std::string& valid, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    const char alphabet[] = "0123456789ABCDEFabcdefS%:\r\n \x00\xFFxyz";
    for (int round = 0; round < 400; ++round) {
        std::string text = valid;
        const int edits = 1 + static_cast<int>(rng() % 12);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const std::size_t at = rng() % text.size();
            switch (rng() % 3) {
            case 0: text[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
            case 1: text.erase(at, 1 + rng() % 40); break;
            default: text.insert(at, std::string(1 + rng() % 8, alphabet[rng() % (sizeof alphabet - 1)])); break;
            }
        }
        if (rng() % 4 == 0)
            text.resize(rng() % (text.size() + 1));
        Bytes image;
        LoadDiagnostics d;
        std::uint64_t highest = 0;
        Scan<Scanner>(text, 1 + rng() % 64, image, d, highest);
        ASSERT_LE(highest, kRomImageSize);
        for (std::size_t i = highest; i < kRomImageSize; i += 4099)
            ASSERT_EQ(image[i], 0xEE) << "byte past the count set at " << i;
    }
}

TEST(TextScanners, DamagedInputNeverEscapesTheBuffer)
{
    std::vector<std::string> srec{SRec('0', 0, 2, {})}, tek;
    for (unsigned i = 0; i < 40; ++i) {
        const std::uint64_t addr = 0xFFF00 + i * 9;
        srec.push_back(SRec(static_cast<char>('1' + i % 3), addr & (i % 3 == 0 ? 0xFFFF : 0xFFFFFF), 2 + i % 3,
                            Seq(1 + i % 40, static_cast<std::uint8_t>(i))));
        tek.push_back(Tek(6, addr, 1 + i % 15, Seq(1 + i % 40, static_cast<std::uint8_t>(i))));
    }
    srec.push_back("S9030000FC");
    tek.push_back(Tek(8, 0, 1, {}));
    Garble<CSRecordScanner>(Lines(srec), 1);
    Garble<CTekHexScanner>(Lines(tek), 2);
}

TEST(TextScanners, EndlessLinesKeepTheirFirstPartOnly)
{
    // A megabyte without a line end: a warning, not a megabyte of carried text.
    const std::string text = SRec('1', 0, 2, Seq(4, 1)) + std::string(kRomImageSize, 'A') + "\n" + "S9030000FC\n";
    Bytes image;
    LoadDiagnostics d;
    std::uint64_t highest = 0;
    Scan<CSRecordScanner>(text, 4096, image, d, highest);
    EXPECT_EQ(highest, 4u);
    EXPECT_TRUE(d.Has(Kind::BadCharacter)) << Describe(d);
    EXPECT_EQ(d.Warnings().size(), 1u) << Describe(d);
}

class TextFileTest : public ::testing::Test {
protected:
    ImageLoadResult Load(const std::string& text, ImageFormat format, Bytes& image)
    {
        char tmpl[] = "/tmp/textformats_test.XXXXXX";
        const int fd = ::mkstemp(tmpl);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        ::close(fd);
        image.assign(kRomImageSize, 0x55);
        ImageLoadOptions o;
        o.format = format;
        o.fill = 0xA0;
        const auto r = LoadInto(tmpl, o, image, &m_diagnostics);
        ::unlink(tmpl);
        return r;
    }
    LoadDiagnostics m_diagnostics;
};

TEST_F(TextFileTest, FilesLoadOverTheFillByteFromAnyFormatChoice)
{
    const Bytes c = Seq(5, 1);
    const struct {
        std::string text;
        ImageFormat asked, chosen;
    } cases[] = {
        {Lines({SRec('1', 0x10, 2, c), "S9030000FC"}), ImageFormat::Auto, ImageFormat::SRecord},
        {Lines({SRec('1', 0x10, 2, c), "S9030000FC"}), ImageFormat::SRecord, ImageFormat::SRecord},
        {Lines({Tek(6, 0x10, 2, c), Tek(8, 0, 1, {})}), ImageFormat::Auto, ImageFormat::TekHex},
        {Lines({Tek(6, 0x10, 2, c), Tek(8, 0, 1, {})}), ImageFormat::TekHex, ImageFormat::TekHex},
    };
    for (const auto& k : cases) {
        Bytes image;
        m_diagnostics.Clear();
        const auto r = Load(k.text, k.asked, image);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.format, k.chosen);
        EXPECT_EQ(r.bytesRead, 0x15u);
        EXPECT_TRUE(m_diagnostics.Empty()) << Describe(m_diagnostics);
        Bytes expected(kRomImageSize, 0xA0);
        std::copy(c.begin(), c.end(), expected.begin() + 0x10);
        EXPECT_TRUE(image == expected);
    }
    // The wrong reader says so.
    Bytes image;
    m_diagnostics.Clear();
    ASSERT_TRUE(Load(Lines({SRec('1', 0x10, 2, c)}), ImageFormat::TekHex, image).ok);
    EXPECT_TRUE(m_diagnostics.Has(Kind::NoRecords)) << Describe(m_diagnostics);
    EXPECT_EQ(image, Bytes(kRomImageSize, 0xA0));
}

}  // namespace
