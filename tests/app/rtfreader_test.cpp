// SPDX-License-Identifier: MIT
// The RTF reader behind the message line, and the message line fed by the writer.
#include "apptest.h"

#include "richtext/richtextwriter.h"
#include "view/messageline.h"
#include "richtext/rtfreader.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>
#include <cstring>

namespace {

const char* const kBanner =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deftab720{\\fonttbl{\\f0 Arial;}}{\\colortbl\\red0\\green0\\blue0;"
    "\\red255\\green0\\blue0;\\red0\\green255\\blue0;\\red0\\green0\\blue255;}\\plain\\b\\f0\\fs42\\cb0\\cf2 "
    "Tarvex Emulator program}";

TEST(RtfReader, BannerIsOneBoldGreenArialRunOnBlack)
{
    const auto runs = CRtfReader::Parse(kBanner);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].strText, "Tarvex Emulator program");
    EXPECT_TRUE(runs[0].bBold);
    EXPECT_FALSE(runs[0].bItalic || runs[0].bUnderline || runs[0].bStrike);
    EXPECT_EQ(runs[0].strFace, "Arial");
    EXPECT_EQ(runs[0].nHalfPoints, 42);
    EXPECT_EQ(runs[0].foreColor, std::optional<std::uint32_t>(0x00FF00));
    EXPECT_EQ(runs[0].backColor, std::optional<std::uint32_t>(0x000000));
}

TEST(RtfReader, SwitchesEscapesParagraphsAndCodePage)
{
    const auto runs = CRtfReader::Parse(
        "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;}\\plain\\i\\ul\\cf1 a\\\\b\\{c\\}\\par\r\n"
        "\\plain\\strike x\\'e9\x80\\b0 y}");
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].strText, "a\\b{c}\n"); // the CR LF of the source is no text
    EXPECT_TRUE(runs[0].bItalic && runs[0].bUnderline);
    EXPECT_EQ(runs[0].foreColor, std::optional<std::uint32_t>(0xFF0000)); // entry 0 is automatic
    EXPECT_EQ(runs[1].strText, "x\xC3\xA9\xE2\x82\xAC" "y");
    EXPECT_TRUE(runs[1].bStrike);
    EXPECT_FALSE(runs[1].bItalic);
    EXPECT_FALSE(runs[1].foreColor.has_value()); // \plain goes back to automatic colour
}

TEST(RtfReader, UnknownDestinationsSkippedAndBracesTolerated)
{
    EXPECT_EQ(CRtfReader::Parse("{\\rtf1{\\*\\generator Foo;}{\\stylesheet{\\s0 Normal;}}Hi}")[0].strText, "Hi");
    // Unbalanced input ends without harm: a surplus close is ignored, a missing one ends at the end.
    const auto runs = CRtfReader::Parse("}}{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0 open");
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].strText, "open");
    EXPECT_TRUE(CRtfReader::Parse("").empty());
    EXPECT_TRUE(CRtfReader::Parse("\\").empty());
    // A colour index beyond the table is automatic, not a read past its end.
    EXPECT_FALSE(CRtfReader::Parse("{\\rtf1{\\colortbl\\red1\\green2\\blue3;}\\cf9 t}")[0].foreColor.has_value());
}

// True when s is well-formed UTF-8 (no surrogates, no overlong forms, nothing past U+10FFFF).
bool IsUtf8(const std::string& s)
{
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (n == 0 || s.size() - i < n)
            return false;
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (t & 0x3F);
        }
        const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}

std::string PlainText(std::string_view rtf)
{
    std::string text;
    for (const auto& run : CRtfReader::Parse(rtf))
        text += run.strText;
    return text;
}

TEST(RtfReader, MalformedEscapesAndOddUnicodeGiveWellFormedText)
{
    const struct {
        std::string_view rtf;
        std::string text;
    } cases[] = {
        // \' without two hex digits is no character; what follows stays text.
        {"a\\'", "a"},
        {"a\\'4", "a4"},
        {"a\\'zz", "azz"},
        {"a\\'g1", "ag1"},
        {"a\\'+f", "a+f"},
        {"a\\'-1", "a-1"},
        {"a\\' 1", "a 1"},
        {"a\\'0x", "a0x"},
        {"\\'E9\\'e9", "\xC3\xA9\xC3\xA9"},
        // \uN outside 16 bits, lone surrogates: U+FFFD; a pair joins into one character.
        {"\\u70000?", "\xEF\xBF\xBD"},
        {"\\u-100000?", "\xEF\xBF\xBD"},
        {"\\u999999999999?x", "\xEF\xBF\xBDx"},
        {"\\u56832?", "\xEF\xBF\xBD"},
        {"\\u55357?", "\xEF\xBF\xBD"},
        {"\\u55357?x", "\xEF\xBF\xBDx"},
        {"\\u55357?\\u55357?\\u56832?", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {"\\u55357?\\u56832?", "\xF0\x9F\x98\x80"},
        {"\\u-10179?\\u-8704?", "\xF0\x9F\x98\x80"},
        {"{\\u55357?}\\u56832?", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        // Fallbacks: \ucN characters, a \'hh counting as one; never a brace or control word.
        {"\\uc2\\u233\\'e9\\'e9x", "\xC3\xA9x"},
        {"\\uc0\\u233 x", "\xC3\xA9x"},
        {"\\u233{x}", "\xC3\xA9x"},
        {"\\u233\\par", "\xC3\xA9\n"},
        // \binN bytes are skipped, however many are claimed.
        {"\\bin3 {}\\x", "x"},
        {"x\\bin99999999 abc", "x"},
        // Letters beyond the ASCII range are text, whatever the locale says.
        {"\\b\xE9", "\xC3\xA9"},
    };
    for (const auto& c : cases) {
        std::string text;
        EXPECT_NO_THROW(text = PlainText(c.rtf)) << c.rtf;
        EXPECT_EQ(text, c.text) << c.rtf;
        EXPECT_TRUE(IsUtf8(text)) << c.rtf;
    }
    // An absurd size is held to what a font can have.
    EXPECT_EQ(CRtfReader::Parse("\\fs999999999 x")[0].nHalfPoints, 3276);
}

TEST(RtfReader, EveryShortByteStringParses)
{
    // All strings of up to three characters from an alphabet of the tricky ones.
    const std::string alphabet = "\\'{}u0-9aF*? \xE9\xFF";
    std::string rtf;
    for (const char a : alphabet)
        for (const char b : alphabet)
            for (const char c : alphabet) {
                rtf = {'\\', a, b, c};
                std::string text;
                ASSERT_NO_THROW(text = PlainText(rtf)) << rtf;
                ASSERT_TRUE(IsUtf8(text)) << rtf;
            }
}

TEST(RtfReader, TwoWriterMessagesFollowEachOther)
{
    // Every AddText writes its own header and tables and leaves its group open.
    CRichTextWriter writer;
    CMessageLine line;
    writer << "one\n" << rtfBold(true) << "two" << rtfWriteTo(line);
    EXPECT_EQ(line.toPlainText(), QStringLiteral("one\ntwo"));
    QTextCursor cursor(line.document()->lastBlock());
    cursor.movePosition(QTextCursor::EndOfBlock);
    EXPECT_EQ(cursor.charFormat().fontWeight(), QFont::Bold);
}

// A stream-in source that delivers the text in pieces of at most 7 bytes, then fails once.
struct SPieces {
    std::string text;
    size_t pos = 0;
    int nCalls = 0;
    std::uint32_t nFailAt = 0;
};

std::uint32_t PieceCallback(std::uintptr_t cookie, std::uint8_t* buf, std::int32_t cb, std::int32_t* pcb)
{
    auto* p = reinterpret_cast<SPieces*>(cookie);
    if (++p->nCalls == int(p->nFailAt)) {
        *pcb = 0;
        return 5;
    }
    const size_t n = std::min<size_t>({7, size_t(cb), p->text.size() - p->pos});
    std::memcpy(buf, p->text.data() + p->pos, n);
    p->pos += n;
    *pcb = std::int32_t(n);
    return 0;
}

TEST(MessageLine, StreamInPullsUntilEmptyAndReplacesSelection)
{
    CMessageLine line;
    line.setPlainText(QStringLiteral("old"));
    line.selectAll();
    SPieces src{kBanner};
    EditStream es;
    es.dwCookie = reinterpret_cast<std::uintptr_t>(&src);
    es.pfnCallback = &PieceCallback;
    EXPECT_EQ(line.StreamIn(SF_RTF | SFF_SELECTION, es), 23);
    EXPECT_EQ(es.dwError, 0u);
    EXPECT_EQ(src.pos, src.text.size());
    EXPECT_EQ(line.toPlainText(), QStringLiteral("Tarvex Emulator program"));

    // An error from the source ends the stream; what came before it is shown, the error kept.
    SPieces failing{"{\\rtf1 abcdefghijklmnop}", 0, 0, 3};
    es.dwCookie = reinterpret_cast<std::uintptr_t>(&failing);
    line.clear();
    line.StreamIn(SF_RTF | SFF_SELECTION, es);
    EXPECT_EQ(es.dwError, 5u);
    EXPECT_EQ(line.toPlainText(), QStringLiteral("abcdefg"));
}

TEST(MessageLine, AttachedLineTakesNoFocusNoInputAndKeepsABlackBackground)
{
    CMessageLine line;
    line.PreSubclassWindow();
    EXPECT_EQ(line.BackgroundColor(), line.palette().color(QPalette::Active, QPalette::Button));
    line.SetBackgroundColor(Qt::black);
    EXPECT_EQ(line.BackgroundColor(), QColor(Qt::black));
    EXPECT_FALSE(line.isEnabled());
    EXPECT_TRUE(line.isReadOnly());
    EXPECT_EQ(line.focusPolicy(), Qt::NoFocus);
    line.setFocus();
    EXPECT_FALSE(line.hasFocus());
    // Typing reaches nothing.
    line.setPlainText(QStringLiteral("x"));
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&line, &key);
    EXPECT_EQ(line.toPlainText(), QStringLiteral("x"));
    // The black shows where no text is drawn.
    line.resize(200, 30);
    EXPECT_EQ(line.grab().toImage().pixelColor(150, 15), QColor(Qt::black));
}

} // namespace
