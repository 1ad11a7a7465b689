// SPDX-License-Identifier: MIT
// Tests of the RTF writer: exact bytes, formats, and the pull-style stream-out.
#include "richtext/richtextwriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kHeader = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deftab720"
                            "{\\fonttbl{\\f0 Arial;}}"
                            "{\\colortbl\\red0\\green0\\blue0;\\red255\\green0\\blue0;"
                            "\\red0\\green255\\blue0;\\red0\\green0\\blue255;}";
const std::string kDefaultPrefix = "\\plain\\f0\\fs35\\cb0\\cf0 ";

// Stands in for the message line: pulls with a fixed capacity until a call delivers 0 bytes.
class FakeControl : public IRichEditStreamIn {
public:
    explicit FakeControl(std::int32_t capacity = 4096) : m_capacity(capacity) {}

    long StreamIn(unsigned format, EditStream& es) override
    {
        ++m_requests;
        m_format = format;
        m_error = es.dwError;
        std::vector<std::uint8_t> buf(std::size_t(m_capacity) + 8, 0xCC);
        for (int guard = 0; guard < 1'000'000; ++guard) {
            std::int32_t got = -1;
            if (es.pfnCallback(es.dwCookie, buf.data(), m_capacity, &got) != 0)
                return -1;
            m_pieces.push_back(got);
            if (got < 0 || got > m_capacity)
                return -1;
            // Nothing may be written past the reported count.
            for (std::size_t i = std::size_t(got); i < buf.size(); ++i)
                if (buf[i] != 0xCC)
                    return -1;
            if (got == 0)
                return 0;
            m_bytes.append(reinterpret_cast<const char*>(buf.data()), std::size_t(got));
            std::fill(buf.begin(), buf.end(), 0xCC);
        }
        return -1;
    }

    std::int32_t m_capacity;
    int m_requests = 0;
    unsigned m_format = 0;
    std::uint32_t m_error = 0xFFFFFFFF;
    std::string m_bytes;
    std::vector<std::int32_t> m_pieces;
};

std::string Streamed(const char* text)
{
    CRichTextWriter w;
    FakeControl c;
    w << text << rtfWriteTo(c);
    return c.m_bytes;
}

} // namespace

TEST(RichTextWriter, StartUpBannerBytes)
{
    CRichTextWriter w;
    FakeControl c;
    w << rtfFontSize(42) << rtfBold(true) << rtfGreen << "Tarvex Emulator program" << rtfWriteTo(c);
    EXPECT_EQ(c.m_bytes,
              "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deftab720{\\fonttbl{\\f0 Arial;}}{\\colortbl\\red0\\green0"
              "\\blue0;\\red255\\green0\\blue0;\\red0\\green255\\blue0;\\red0\\green0\\blue255;}\\plain\\b"
              "\\f0\\fs42\\cb0\\cf2 Tarvex Emulator program}");
    EXPECT_EQ(c.m_requests, 1);
    EXPECT_EQ(c.m_format, 0x8002u);
    EXPECT_EQ(c.m_error, 0u);
    EXPECT_EQ(c.m_pieces.back(), 0);
}

TEST(RichTextWriter, TextConversion)
{
    // LF becomes CR LF and a paragraph word; nothing else is touched.
    EXPECT_EQ(Streamed("A\nB"), kHeader + kDefaultPrefix + "A\r\n\\par B}");
    EXPECT_EQ(Streamed("\n\n"), kHeader + kDefaultPrefix + "\r\n\\par \r\n\\par }");
    EXPECT_EQ(Streamed("A\rB"), kHeader + kDefaultPrefix + "A\rB}");
    EXPECT_EQ(Streamed("\\b{x}"), kHeader + kDefaultPrefix + "\\b{x}}");
    EXPECT_EQ(Streamed("\x80\xE9\xFF"), kHeader + kDefaultPrefix + "\x80\xE9\xFF}");
    EXPECT_EQ(Streamed(""), kHeader + kDefaultPrefix + "}");
}

TEST(RichTextWriter, NullTextWritesLikeEmpty)
{
    CRichTextWriter w;
    FakeControl c;
    w.AddText(nullptr);
    w.StreamTo(c);
    EXPECT_EQ(c.m_bytes, kHeader + kDefaultPrefix + "}");
}

TEST(RichTextWriter, PendingTextAndClosingBrace)
{
    CRichTextWriter w;
    FakeControl c;
    w << rtfWriteTo(c);
    EXPECT_EQ(c.m_bytes, "}");

    FakeControl c2;
    w << "one" << "two" << rtfWriteTo(c2);
    EXPECT_EQ(c2.m_bytes, kHeader + kDefaultPrefix + "one" + kHeader + kDefaultPrefix + "two}");

    // The stream-out emptied the pending text.
    FakeControl c3;
    w << rtfWriteTo(c3);
    EXPECT_EQ(c3.m_bytes, "}");
}

TEST(RichTextWriter, FormatChangesHoldAcrossTextsAndStreams)
{
    CRichTextWriter w;
    FakeControl c1, c2, c3;
    w << rtfBold(true) << rtfGreen << rtfFontSize(20) << "a" << rtfWriteTo(c1) << "b" << rtfWriteTo(c2);
    const std::string bold = "\\plain\\b\\f0\\fs20\\cb0\\cf2 ";
    EXPECT_EQ(c1.m_bytes, kHeader + bold + "a}");
    EXPECT_EQ(c2.m_bytes, kHeader + bold + "b}");

    w << "c" << rtfBold(false) << "d" << rtfWriteTo(c3);
    EXPECT_EQ(c3.m_bytes, kHeader + bold + "c" + kHeader + "\\plain\\f0\\fs20\\cb0\\cf2 d}");
}

TEST(RichTextWriter, FontSizeHasNoRangeTest)
{
    CRichTextWriter w;
    FakeControl c;
    w << rtfFontSize(-7) << "x" << rtfFontSize(100000) << "y" << rtfWriteTo(c);
    EXPECT_EQ(c.m_bytes, kHeader + "\\plain\\f0\\fs-7\\cb0\\cf0 x" + kHeader + "\\plain\\f0\\fs100000\\cb0\\cf0 y}");
}

TEST(RtfParts, SwitchesFormatAndTables)
{
    CRtfFormat f;
    EXPECT_EQ(f.GetRtf(), kDefaultPrefix);
    f.m_swBold.m_bOn = f.m_swUnderline.m_bOn = f.m_swItalic.m_bOn = f.m_swStrike.m_bOn = true;
    f.m_nFont = 3;
    f.m_nBackColor = 1;
    f.m_nForeColor = 2;
    EXPECT_EQ(f.GetRtf(), "\\plain\\b\\ul\\i\\strike\\f3\\fs35\\cb1\\cf2 ");

    CRtfSwitch sw("\\on", "\\off");
    EXPECT_EQ(sw.GetRtf(), "\\off");
    sw.m_bOn = true;
    EXPECT_EQ(sw.GetRtf(), "\\on");

    CRtfFontTable fonts;
    EXPECT_EQ(fonts.GetRtf(), "{\\fonttbl{\\f0 Arial;}}");
    EXPECT_EQ(fonts.Add("Courier New"), 1);
    EXPECT_EQ(fonts.GetRtf(), "{\\fonttbl{\\f0 Arial;}{\\f1 Courier New;}}");

    CRtfColorTable colors;
    EXPECT_EQ(colors.Add(RtfRgb(0x12, 0x34, 0x56)), 4);
    EXPECT_EQ(RtfRgb(0x12, 0x34, 0x56), 0x00563412u);
    EXPECT_EQ(colors.GetRtf(), "{\\colortbl\\red0\\green0\\blue0;\\red255\\green0\\blue0;\\red0\\green255\\blue0;"
                               "\\red0\\green0\\blue255;\\red18\\green52\\blue86;}");
}

TEST(EditStreamCallback, DeliversInPiecesOfAtMostCapacity)
{
    std::string s = "abcdefgh";
    const auto cookie = reinterpret_cast<std::uintptr_t>(&s);
    std::uint8_t buf[16] = {};
    std::int32_t got = -1;

    // Exactly cb bytes: all in one call, the rest of the string is empty.
    EXPECT_EQ(CRichTextWriter::EditStreamCallback(cookie, buf, 8, &got), 0u);
    EXPECT_EQ(got, 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 8), "abcdefgh");
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(CRichTextWriter::EditStreamCallback(cookie, buf, 8, &got), 0u);
    EXPECT_EQ(got, 0);

    s = "abcdefgh";
    EXPECT_EQ(CRichTextWriter::EditStreamCallback(cookie, buf, 3, &got), 0u);
    EXPECT_EQ(got, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "abc");
    EXPECT_EQ(s, "defgh");
    EXPECT_EQ(CRichTextWriter::EditStreamCallback(cookie, buf, 16, &got), 0u);
    EXPECT_EQ(got, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "defgh");
    EXPECT_TRUE(s.empty());

    // No room (zero or a bogus negative capacity) delivers nothing and keeps the text.
    s = "xy";
    got = -1;
    EXPECT_EQ(CRichTextWriter::EditStreamCallback(cookie, buf, 0, &got), 0u);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(CRichTextWriter::EditStreamCallback(cookie, buf, -5, &got), 0u);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(s, "xy");
}

TEST(EditStreamCallback, SmallCapacitiesReassembleTheSameBytes)
{
    const std::string whole = Streamed("Line one\nLine two \\ {}\x80");
    ASSERT_EQ(whole.size(), kHeader.size() + kDefaultPrefix.size() + 30);
    for (std::int32_t cap : {1, 2, 7, 64, std::int32_t(whole.size()), std::int32_t(whole.size()) + 1}) {
        CRichTextWriter w;
        FakeControl c(cap);
        w << "Line one\nLine two \\ {}\x80" << rtfWriteTo(c);
        EXPECT_EQ(c.m_bytes, whole) << "capacity " << cap;
        // Full pieces, then one shorter (possibly empty) piece, then the 0 that ends the stream.
        ASSERT_GE(c.m_pieces.size(), 2u);
        EXPECT_EQ(c.m_pieces.back(), 0);
        for (std::size_t i = 0; i + 2 < c.m_pieces.size(); ++i)
            EXPECT_EQ(c.m_pieces[i], cap) << "capacity " << cap << " piece " << i;
        EXPECT_LE(c.m_pieces[c.m_pieces.size() - 2], cap);
    }

    // Pending string exactly the capacity: one full piece, then 0.
    FakeControl exact(std::int32_t(whole.size()));
    CRichTextWriter w;
    w << "Line one\nLine two \\ {}\x80" << rtfWriteTo(exact);
    EXPECT_EQ(exact.m_pieces, (std::vector<std::int32_t>{std::int32_t(whole.size()), 0}));
}
