// SPDX-License-Identifier: MIT
// Tests of the load diagnostics and format detection: what the tool warns about, on which
// line, and that warnings never change what is loaded.
#include "image/imageloader.h"
#include "image/imagediff.h"
#include "loadinto.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = LoadWarningKind;

// One Intel HEX record with a correct checksum (or the checksum plus delta).
std::string Rec(int type, unsigned offset, const Bytes& data, int delta = 0)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + static_cast<unsigned>(type);
    char s[600];
    int n = std::snprintf(s, sizeof s, ":%02X%04X%02X", static_cast<unsigned>(data.size()), offset & 0xFFFF,
                          static_cast<unsigned>(type));
    for (std::uint8_t b : data) {
        n += std::snprintf(s + n, sizeof s - static_cast<std::size_t>(n), "%02X", b);
        sum += b;
    }
    std::snprintf(s + n, sizeof s - static_cast<std::size_t>(n), "%02X",
                  static_cast<unsigned>((0x100 - (sum & 0xFF) + delta) & 0xFF));
    return s;
}

const std::string kEnd = ":00000001FF";

std::string Lines(const std::vector<std::string>& lines)
{
    std::string s;
    for (const auto& l : lines)
        s += l + "\r\n";
    return s;
}

class TempFile {
public:
    explicit TempFile(const std::string& content)
    {
        char tmpl[] = "/tmp/loaddiag_test.XXXXXX";
        const int fd = ::mkstemp(tmpl);
        m_path = tmpl;
        if (fd >= 0) {
            EXPECT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
            ::close(fd);
        }
    }
    ~TempFile() { ::unlink(m_path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

struct Loaded {
    ImageLoadResult result;
    LoadDiagnostics diagnostics;
    Bytes image;
};

Loaded LoadText(const std::string& text, ImageFormat format, std::uint64_t romSize = 0)
{
    Loaded l;
    l.image.assign(kRomImageSize, 0x00);
    const TempFile file(text);
    ImageLoadOptions o;
    o.format = format;
    o.fill = 0xFF;
    o.romSize = romSize;
    l.result = LoadInto(file.Path(), o, l.image, &l.diagnostics);
    return l;
}

std::string Describe(const LoadDiagnostics& d)
{
    std::string s;
    for (const auto& w : d.Warnings())
        s += std::string(LoadWarningKindName(w.kind)) + "@" + std::to_string(w.line) + ": " + w.message + "\n";
    return s.empty() ? "(no warnings)" : s;
}

struct Expect {
    Kind kind;
    std::uint64_t line;
    const char* text;  // must appear in the message
};

struct DiagCase {
    const char* name;
    std::string text;
    std::uint64_t romSize;
    std::vector<Expect> warnings;  // exactly these, in this order
};

void CheckCase(const DiagCase& c, ImageFormat format)
{
    SCOPED_TRACE(c.name);
    const Loaded l = LoadText(c.text, format, c.romSize);
    ASSERT_TRUE(l.result.ok) << l.result.message;
    const auto& w = l.diagnostics.Warnings();
    ASSERT_EQ(w.size(), c.warnings.size()) << Describe(l.diagnostics);
    for (std::size_t i = 0; i < w.size(); ++i) {
        EXPECT_EQ(w[i].kind, c.warnings[i].kind) << Describe(l.diagnostics);
        EXPECT_EQ(w[i].line, c.warnings[i].line) << Describe(l.diagnostics);
        EXPECT_NE(w[i].message.find(c.warnings[i].text), std::string::npos) << Describe(l.diagnostics);
    }
}

TEST(LoadDiagnostics, IntelHexWarningsNameTheKindAndTheLines)
{
    const Bytes d16(16, 0x42);
    const std::vector<DiagCase> cases = {
        {"clean", Lines({Rec(4, 0, {0, 1}), Rec(0, 0x10, d16), kEnd}), 0, {}},
        {"lower-case and LF line ends are clean",
         ":1000100042424242424242424242424242424242C0\n:00000001ff\n", 0, {}},
        {"empty file", "", 0, {{Kind::NoData, 0, "the file is empty"}}},
        {"no record", "just some text\nwithout a colon\n", 0,
         {{Kind::NoRecords, 0, "no Intel HEX records: is it a binary file?"}}},
        {"checksums", Lines({Rec(0, 0, d16), Rec(0, 0x10, d16, 1), Rec(0, 0x20, d16), Rec(0, 0x30, d16, -3), kEnd}),
         0, {{Kind::Checksum, 2, "2 records with a wrong checksum (lines 2 and 4)"}}},
        {"many checksums keep the first five lines",
         Lines({Rec(0, 0, d16, 1), Rec(0, 0x10, d16, 1), Rec(0, 0x20, d16, 1), Rec(0, 0x30, d16, 1),
                Rec(0, 0x40, d16, 1), Rec(0, 0x50, d16, 1), Rec(0, 0x60, d16, 1), kEnd}),
         0, {{Kind::Checksum, 1, "7 records with a wrong checksum (lines 1, 2, 3, 4, 5 and 2 more)"}}},
        {"a character that is no hex digit",
         Lines({Rec(0, 0, d16), Rec(0, 0x10, d16).replace(12, 1, "G"), kEnd}), 0,
         {{Kind::BadCharacter, 2, "not hex digits in 1 record (line 2)"}}},
        {"record shorter than its count", Lines({":10000000AABB", Rec(0, 0x10, d16), kEnd}), 0,
         {{Kind::CutShort, 1, "1 record shorter than the byte count says (line 1)"}}},
        {"cut short by the end of the file", Lines({Rec(0, 0, d16)}) + Rec(0, 0x10, d16).substr(0, 20), 0,
         {{Kind::CutShort, 2, "line 2"}, {Kind::NoEndRecord, 0, "no end record"}}},
        {"no end record", Lines({Rec(0, 0, d16)}), 0, {{Kind::NoEndRecord, 0, "type 01"}}},
        {"data above 1 MiB", Lines({Rec(0, 0, d16), Rec(4, 0, {0x00, 0x0F}), Rec(0, 0xFFF8, d16), Rec(4, 0, {0, 0x20}),
                                    Rec(0, 0, d16), kEnd}),
         0, {{Kind::DroppedData, 3, "24 data bytes at or above 0x100000 dropped: the buffer holds 1 MiB (lines 3 and 5)"}}},
        {"beyond the ROM size", Lines({Rec(0, 0x1FF8, d16), kEnd}), 0x2000,
         {{Kind::BeyondRomSize, 0, "data up to 0x2007 lies beyond the ROM size (0x2000 bytes)"}}},
        {"within the ROM size", Lines({Rec(0, 0x1FF0, d16), kEnd}), 0x2000, {}},
        // Start address records name the entry point: no warning.
        {"passed-over types", Lines({Rec(2, 0, {0x10, 0}), Rec(0, 0, d16), Rec(3, 0, {0, 0, 0, 0}),
                                     Rec(2, 0, {0x20, 0}), Rec(5, 0, {0, 0, 1, 0}), Rec(3, 0, {0, 0, 0, 0}),
                                     Rec(6, 0, {}), kEnd}),
         0,
         {{Kind::PassedOver, 1,
           "type 02) passed over: the data after them loads as if they were absent; give --segments to follow "
           "them (lines 1 and 4)"},
          {Kind::PassedOver, 7, "1 record of an unknown type passed over (line 7)"}}},
        {"records after the end record are counted, not loaded", Lines({kEnd, Rec(0, 0, d16, 5), "garbage"}), 0,
         {{Kind::AfterEnd, 1, "1 record after the end record (line 1) ignored"},
          {Kind::NoData, 0, "the file sets no byte of the image"}}},
    };
    for (const DiagCase& c : cases)
        CheckCase(c, ImageFormat::IntelHex);
}

TEST(LoadDiagnostics, WarningsNeverChangeWhatTheWindowLoads)
{
    // The page's load and the tool's load of the same damaged file give the same image.
    const Bytes d16(16, 0x37);
    const std::string text = Lines({Rec(0, 0, d16, 1), ":10001000AABB", Rec(2, 0, {0x10, 0}),
                                    Rec(0, 0x40, d16).replace(11, 2, "Z!"), Rec(4, 0, {0, 0x10}),
                                    Rec(0, 0, d16)}) + Rec(0, 0x80, d16).substr(0, 15);
    const TempFile file(text);
    Bytes page(kRomImageSize);
    ImageLoadOptions asPage;
    asPage.format = ImageFormat::IntelHex;
    const ImageLoadResult p = LoadInto(file.Path(), asPage, page);
    ASSERT_TRUE(p.ok);
    const Loaded tool = LoadText(text, ImageFormat::IntelHex);
    ASSERT_TRUE(tool.result.ok);
    EXPECT_EQ(tool.result.bytesRead, p.bytesRead);
    EXPECT_TRUE(tool.image == page);
    EXPECT_GE(tool.diagnostics.Warnings().size(), 4u) << Describe(tool.diagnostics);
}

TEST(LoadDiagnostics, LineNumbersHoldAcrossReadChunksAndPieces)
{
    // Clean records well past the first read chunk, then one bad checksum and one bad character.
    std::string text;
    const Bytes d32(32, 0x5A);
    std::uint64_t line = 0;
    while (text.size() < 2 * kLoadChunkSize + 777) {
        text += Rec(0, static_cast<unsigned>(line * 32) & 0xFFFF, d32) + "\n";
        ++line;
    }
    text += Rec(0, 0, d32, 1) + "\n";
    const std::uint64_t badSum = ++line;
    text += Rec(0, 0, d32).replace(40, 1, "x") + "\n";
    const std::uint64_t badChar = ++line;
    text += kEnd + "\n";

    const Loaded l = LoadText(text, ImageFormat::Auto);
    ASSERT_TRUE(l.result.ok);
    ASSERT_NE(l.diagnostics.Find(Kind::Checksum), nullptr) << Describe(l.diagnostics);
    EXPECT_EQ(l.diagnostics.Find(Kind::Checksum)->line, badSum);
    ASSERT_NE(l.diagnostics.Find(Kind::BadCharacter), nullptr) << Describe(l.diagnostics);
    EXPECT_EQ(l.diagnostics.Find(Kind::BadCharacter)->line, badChar);

    // The scanner fed in small pieces names the same lines (records split between pieces).
    const std::string tail = text.substr(text.size() - 2000);
    const std::uint64_t tailLines = [&] {
        std::uint64_t n = 0;
        for (char c : tail)
            n += c == '\n';
        return n;
    }();
    for (std::size_t piece : {1, 2, 7, 9, 13, 64, 333}) {
        LoadDiagnostics d;
        Bytes image(kRomImageSize);
        CImageBuilder builder{RomImage(image.data(), kRomImageSize)};
        CIntelHexScanner scanner(builder, &d);
        for (std::size_t at = 0; at < tail.size(); at += piece)
            scanner.Feed(std::string_view(tail).substr(at, piece));
        scanner.Finish();
        ASSERT_NE(d.Find(Kind::Checksum), nullptr) << piece << Describe(d);
        // The tail starts inside a record; lines count from its start.
        EXPECT_EQ(d.Find(Kind::Checksum)->line, tailLines - 2) << piece;
        EXPECT_EQ(d.Find(Kind::BadCharacter)->line, tailLines - 1) << piece;
    }
}

TEST(LoadDiagnostics, BinaryLengthAgainstTheRomSizeAndTheBuffer)
{
    struct Case {
        std::size_t length;
        std::uint64_t romSize;
        std::vector<const char*> texts;
    };
    const Case cases[] = {
        {8192, 8192, {}},
        {8193, 8192, {"holds 8193 bytes, more than the ROM size (8192): the bytes from 0x2000 on"}},
        {kRomImageSize, 0, {}},
        {kRomImageSize + 5, kRomImageSize, {"holds 1048581 bytes: only the first 1 MiB"}},
        {kRomImageSize + 5, 65536, {"only the first 1 MiB", "more than the ROM size (65536)"}},
    };
    for (const Case& c : cases) {
        const Loaded l = LoadText(std::string(c.length, '\x11'), ImageFormat::Binary, c.romSize);
        ASSERT_TRUE(l.result.ok);
        EXPECT_EQ(l.result.bytesRead, c.length);
        ASSERT_EQ(l.diagnostics.Warnings().size(), c.texts.size()) << c.length << Describe(l.diagnostics);
        for (std::size_t i = 0; i < c.texts.size(); ++i) {
            EXPECT_EQ(l.diagnostics.Warnings()[i].kind, Kind::BinaryTooLong);
            EXPECT_NE(l.diagnostics.Warnings()[i].message.find(c.texts[i]), std::string::npos)
                << Describe(l.diagnostics);
        }
    }
}

TEST(LoadDiagnostics, NoWarningsReachTheCallerOfAFailedLoad)
{
    LoadDiagnostics d;
    ImageLoadOptions o;
    Bytes image(kRomImageSize, 0x77);
    const auto r = LoadInto("/nonexistent/dir/file.hex", o, image, &d);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("was not found"), std::string::npos) << r.message;
    EXPECT_TRUE(d.Empty());
    EXPECT_EQ(image, Bytes(kRomImageSize, 0x77));
}

TEST(LoadDiagnostics, WarningLinesNameTheFileAndTheLine)
{
    EXPECT_EQ(FormatLoadWarning("a.hex", {Kind::Checksum, 12, "1 record with a wrong checksum (line 12)"}),
              "a.hex:12: warning: 1 record with a wrong checksum (line 12)");
    EXPECT_EQ(FormatLoadWarning("-", {Kind::NoEndRecord, 0, "no end record"}), "-: warning: no end record");

    LineTally t;
    EXPECT_FALSE(t.Any());
    EXPECT_EQ(t.Lines(), "");
    t.Add(3);
    EXPECT_EQ(t.Lines(), "line 3");
    t.Add(3, 4);  // the same line again: counted, named once
    EXPECT_EQ(t.Count(), 5u);
    EXPECT_EQ(t.Lines(), "line 3");
    t.Add(8);
    EXPECT_EQ(t.Lines(), "lines 3 and 8");
    for (std::uint64_t l : {10, 11, 12, 13})
        t.Add(l);
    EXPECT_EQ(t.Lines(), "lines 3, 8, 10, 11, 12 and 1 more");
    EXPECT_EQ(t.First(), 3u);
    EXPECT_EQ(CountOf(1, "record", "records"), "1 record");
    EXPECT_EQ(CountOf(0, "record", "records"), "0 records");
}

TEST(FormatDetection, FirstCharacterThatIsNotBlankDecides)
{
    const struct {
        std::string head;
        ImageFormat format;
    } cases[] = {
        {":10000000", ImageFormat::IntelHex},
        {"\r\n  \t:00000001FF", ImageFormat::IntelHex},
        {"S00600004844521B", ImageFormat::SRecord},
        {"\nS1130000", ImageFormat::SRecord},
        {"S9030000FC", ImageFormat::SRecord},
        {"%0781010", ImageFormat::TekHex},
        {"  %", ImageFormat::TekHex},
        {"SX", ImageFormat::Binary},
        {"S", ImageFormat::Binary},
        {"s1130000", ImageFormat::Binary},
        {std::string("\x7F" "ELF", 4), ImageFormat::Binary},
        {std::string("\0:", 2), ImageFormat::Binary},
        {"", ImageFormat::Binary},
        {"   \n\n", ImageFormat::Binary},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DetectImageFormat(c.head), c.format) << '"' << c.head << '"';
}

TEST(FormatDetection, NamesRoundTrip)
{
    for (ImageFormat f : {ImageFormat::Auto, ImageFormat::IntelHex, ImageFormat::Binary, ImageFormat::SRecord,
                          ImageFormat::TekHex}) {
        ImageFormat parsed = ImageFormat::Binary;
        ASSERT_TRUE(ParseImageFormat(ImageFormatName(f), parsed)) << ImageFormatName(f);
        EXPECT_EQ(parsed, f);
    }
    ImageFormat f = ImageFormat::IntelHex;
    EXPECT_FALSE(ParseImageFormat("hex", f));
    EXPECT_FALSE(ParseImageFormat("", f));
    EXPECT_EQ(f, ImageFormat::IntelHex);
}

// Writes text into a pipe from another thread, closing it at the end.
class PipeFeeder {
public:
    explicit PipeFeeder(std::string text)
    {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        m_read = fds[0];
        m_thread = std::thread([fd = fds[1], text = std::move(text)] {
            std::size_t done = 0;
            while (done < text.size()) {
                const ssize_t put = ::write(fd, text.data() + done, std::min<std::size_t>(text.size() - done, 10000));
                if (put <= 0)
                    break;
                done += static_cast<std::size_t>(put);
            }
            ::close(fd);
        });
    }
    ~PipeFeeder()
    {
        ::close(m_read);
        m_thread.join();
    }
    PipeFeeder(const PipeFeeder&) = delete;
    PipeFeeder& operator=(const PipeFeeder&) = delete;
    int Fd() const { return m_read; }

private:
    int m_read = -1;
    std::thread m_thread;
};

TEST(LoadFromFd, PipesAreDetectedReadToTheirEndAndLoaded)
{
    const Bytes d16(16, 0xC3);
    const struct {
        const char* name;
        std::string text;
        ImageFormat format;
        std::uint64_t bytesRead;
    } cases[] = {
        {"Intel HEX", Lines({Rec(0, 0x100, d16), kEnd}) + std::string(3 * kLoadChunkSize, 'x'), ImageFormat::IntelHex,
         0x110},
        {"S-record", "S1130100C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3BB\nS9030000FC\n", ImageFormat::SRecord, 0x110},
        {"binary longer than 1 MiB", std::string(kRomImageSize + 3 * kLoadChunkSize + 5, '\xC3'),
         ImageFormat::Binary, kRomImageSize + 3 * kLoadChunkSize + 5},
        {"empty", "", ImageFormat::Binary, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PipeFeeder feeder(c.text);
        LoadDiagnostics d;
        ImageLoadOptions o;
        o.fill = 0x00;
        Bytes image(kRomImageSize, 0x99);
        const auto r = LoadFdInto(feeder.Fd(), "standard input", o, image, &d);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.format, c.format);
        EXPECT_EQ(r.bytesRead, c.bytesRead);
        EXPECT_TRUE(d.Empty() || c.format == ImageFormat::Binary) << Describe(d);
        const std::size_t set = static_cast<std::size_t>(std::min<std::uint64_t>(c.bytesRead, kRomImageSize));
        const std::size_t from = c.format == ImageFormat::Binary ? 0 : 0x100;
        for (std::size_t a = 0; a < kRomImageSize; ++a)
            ASSERT_EQ(image[a], a >= from && a < set ? 0xC3 : 0x00) << std::hex << a;
        // Everything was read: the writer's end saw no broken pipe.
        char rest;
        EXPECT_EQ(::read(feeder.Fd(), &rest, 1), 0);
    }
}

TEST(LoadFromFd, RedirectedFileIsReadFromWhereItStands)
{
    const TempFile file("skipBINARY");
    const int fd = ::open(file.Path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, 4, SEEK_SET), 4);
    ImageLoadOptions o;
    o.fill = 0;
    Bytes image(kRomImageSize);
    const auto r = LoadFdInto(fd, "standard input", o, image);
    ::close(fd);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(r.format, ImageFormat::Binary);
    EXPECT_EQ(r.bytesRead, 6u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 7), std::string("BINARY\0", 7));
}

TEST(LoadFromFd, ADirectoryIsRefused)
{
    const int fd = ::open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    Bytes image(kRomImageSize, 1);
    const auto r = LoadFdInto(fd, "standard input", ImageLoadOptions{}, image);
    ::close(fd);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("standard input is a directory"), std::string::npos) << r.message;
    EXPECT_EQ(image, Bytes(kRomImageSize, 1));
}

}  // namespace

namespace {

TEST(DescribeLoad, NamesAMismatchedFormatAndTheFirstWarnings)
{
    LoadDiagnostics d;
    EXPECT_EQ(DescribeLoad("fw.hex", ImageFormat::IntelHex, ImageFormat::IntelHex, d), "");
    // Asked for Intel HEX, it looks binary: said before anything else.
    const std::string mismatch = DescribeLoad("fw.bin", ImageFormat::IntelHex, ImageFormat::Binary, d);
    EXPECT_EQ(mismatch.rfind("\"fw.bin\" was loaded as Intel HEX, but it looks like binary", 0), 0u) << mismatch;
    for (int i = 1; i <= 7; ++i)
        d.Add(LoadWarningKind::Checksum, static_cast<std::uint64_t>(i * 10), "warning " + std::to_string(i));
    const std::string text = DescribeLoad("fw.hex", ImageFormat::IntelHex, ImageFormat::IntelHex, d, 3);
    EXPECT_EQ(text, "\"fw.hex\" was loaded with warnings.\n7 warnings, the first 3:\nline 10: warning 1\n"
                    "line 20: warning 2\nline 30: warning 3");
    // A format the file's look could not tell (unreadable) is no mismatch.
    LoadDiagnostics none;
    EXPECT_EQ(DescribeLoad("x", ImageFormat::Binary, ImageFormat::Auto, none), "");
}

TEST(DescribeImageDiff, CountsAndTheFirstRanges)
{
    SImageDiff same;
    EXPECT_EQ(DescribeImageDiff(same, 8192), "No byte differs: the emulator holds the 8192 bytes of the buffer.");
    std::vector<std::uint8_t> wanted(0x100, 0), got(0x100, 0);
    got[0x10] = got[0x11] = 1;
    got[0x80] = 1;
    const SImageDiff diff = CompareImages(wanted, got, 64);
    EXPECT_EQ(DescribeImageDiff(diff, 0x100), "3 bytes differ from the buffer, in 2 ranges:\n00000010-00000011 (2 bytes)\n"
                                              "00000080 (1 byte)");
    EXPECT_EQ(DescribeImageDiff(diff, 0x100, 1), "3 bytes differ from the buffer, in 2 ranges:\n00000010-00000011 (2 bytes)\n"
                                                 "and 1 more range.");
}

} // namespace
