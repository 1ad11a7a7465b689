// SPDX-License-Identifier: MIT
// Tests of the hex editor's keyboard, mouse, scrolling and clipboard rules, without a window.
#include "hexedit/hexeditmodel.h"
#include "hexedit_invariants.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using K = CHexEditModel::Key;
constexpr int CW = 7;  // cell width in the fixture
constexpr int LH = 14; // row height in the fixture

struct FakeView : IHexEditView {
    CHexEditModel* model = nullptr;
    int redraws = 0;
    // Paints at once, so the layout runs here as in a shown window.
    void Redraw() override
    {
        ++redraws;
        if (model)
            model->EnsureLayout();
    }
    void CaretChanged() override {}
    void ScrollBarsChanged() override {}
};

struct FakeClipboard : IHexClipboard {
    Offers offers{true, false, false};
    std::vector<std::uint8_t> raw;
    std::string text;
    int writes = 0;
    Offers Inspect() override { return offers; }
    void Write(const std::vector<std::uint8_t>& r, const std::string& t) override
    {
        raw = r;
        text = t;
        offers = Offers{true, true, true};
        ++writes;
    }
    std::vector<std::uint8_t> ReadBinary() override { return raw; }
    std::string ReadText() override { return text; }
};

std::vector<std::uint8_t> Seq(int n)
{
    std::vector<std::uint8_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return v;
}

// Editor with 7 x 14 pixel cells and 30 whole rows, like the buffer page's.
struct InputTest : ::testing::Test {
    FakeView view;
    FakeClipboard clip;
    CHexEditModel m{&view};
    void SetUp() override
    {
        view.model = &m;
        m.SetFontMetrics(CW, LH);
        m.SetClientSize(640, 30 * LH);
        m.SetClipboard(&clip);
    }
    void Load(const std::vector<std::uint8_t>& v) { ASSERT_TRUE(m.SetData(v.data(), static_cast<int>(v.size()))); }
    std::vector<std::uint8_t> Data() const { return {m.Data(), m.Data() + m.Length()}; }
    std::uint8_t At(int i) const { return m.Data()[i]; }
    void Key(K k, bool shift = false, bool ctrl = false) { m.OnKeyDown(k, shift, ctrl); }
    void Type(const char* s)
    {
        for (; *s; ++s)
            m.OnChar(static_cast<unsigned char>(*s), false);
    }
    // Pixel centre of a cell (column of cells, row) of the view.
    static int X(int cell) { return cell * CW + CW / 2; }
    static int Y(int row) { return row * LH + LH / 2; }
    void Click(int cell, int row, bool shift = false)
    {
        if (m.OnLButtonDown(shift, X(cell), Y(row)))
            m.OnDragDecided(false);
    }
    // Caret to byte n, high digit, through clicks on the hex column.
    void CaretTo(int n)
    {
        const int row = (n - m.TopIndex()) / 16;
        Click(12 + 3 * (n % 16), row);
        ASSERT_EQ(m.Caret(), n);
    }
};

TEST_F(InputTest, TypingHexDigitsOverwritesNibblesLowerCaseOnly)
{
    Load(Seq(64));
    Type("7c");
    EXPECT_EQ(At(0), 0x7C);
    EXPECT_EQ(m.Caret(), 1);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_HIGH);
    Type("C"); // upper case is not a digit here
    EXPECT_EQ(At(1), 0x01);
    EXPECT_EQ(m.Caret(), 1);
    Type("f");
    EXPECT_EQ(At(1), 0xF1);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_LOW);
    Type("e");
    EXPECT_EQ(At(1), 0xFE);
    EXPECT_EQ(m.Length(), 64); // typing never changes the length
}

TEST_F(InputTest, TypingInAsciiColumnStoresAnyCode)
{
    Load(Seq(64));
    Click(63 + 5, 0);
    ASSERT_EQ(m.CaretColumn(), CHexEditModel::COL_ASCII);
    m.OnChar(13, false);
    EXPECT_EQ(At(5), 0x0D);
    EXPECT_EQ(m.Caret(), 6);
    m.OnChar('A', false);
    m.OnChar(27, false);
    EXPECT_EQ(At(6), 'A');
    EXPECT_EQ(At(7), 27);
    m.OnChar(1, true); // Ctrl+A is no clipboard code: typed as 0x01
    EXPECT_EQ(At(8), 1);
    // In the address column typing is ignored.
    Click(2, 1);
    ASSERT_EQ(m.CaretColumn(), CHexEditModel::COL_ADDRESS);
    const auto before = Data();
    Type("a1");
    EXPECT_EQ(Data(), before);
}

TEST_F(InputTest, NibbleSteppingAtTheEdges)
{
    Load(Seq(20));
    CaretTo(19);
    Key(K::Right);
    EXPECT_EQ(m.Caret(), 19);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_LOW);
    Key(K::Right);
    EXPECT_EQ(m.Caret(), 19);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_HIGH);
    Key(K::Down); // last row: stays
    EXPECT_EQ(m.Caret(), 19);
    Key(K::Up);
    EXPECT_EQ(m.Caret(), 3);
    Key(K::Up); // first row: to byte 0
    EXPECT_EQ(m.Caret(), 0);
    Key(K::Left); // high digit of byte 0 goes to its low digit
    EXPECT_EQ(m.Caret(), 0);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_LOW);
    Key(K::Left);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_HIGH);
    // Right on the last byte of the ASCII column stays.
    Key(K::Tab);
    ASSERT_EQ(m.CaretColumn(), CHexEditModel::COL_ASCII);
    Key(K::End, false, true);
    Key(K::Right);
    EXPECT_EQ(m.Caret(), 19);
}

TEST_F(InputTest, ShiftRightSelectsTheSameBytesInBothColumns)
{
    Load(Seq(64));
    CaretTo(4);
    Key(K::Right, true);
    Key(K::Right, true);
    EXPECT_EQ(m.SelLow(), 4);
    EXPECT_EQ(m.SelHigh(), 6);
    Key(K::Right); // a plain move collapses
    EXPECT_FALSE(m.HasSelection());

    Click(63 + 4, 0);
    Key(K::Right, true);
    Key(K::Right, true);
    EXPECT_EQ(m.Caret(), 6);
    EXPECT_EQ(m.SelStart(), 4);
    EXPECT_EQ(m.SelEnd(), 6);
    // Up and Left never add the +1: the end is the caret itself.
    CaretTo(20);
    Key(K::Up, true);
    EXPECT_EQ(m.SelStart(), 20);
    EXPECT_EQ(m.SelEnd(), 4);
    Key(K::Down, true);
    EXPECT_EQ(m.SelEnd(), 21);
}

TEST_F(InputTest, CtrlEndAndCtrlHomeOnAnImageLargerThanTheView)
{
    Load(Seq(8192));
    ASSERT_EQ(m.RowsPerPage(), 30);
    Key(K::End, false, true);
    EXPECT_EQ(m.Caret(), 8191);
    EXPECT_EQ(m.TopIndex(), 482 * 16);
    EXPECT_EQ(m.VScroll().pos, 482);
    EXPECT_TRUE(m.GetCaretState().visible);
    Key(K::Home, false, true);
    EXPECT_EQ(m.Caret(), 0);
    EXPECT_EQ(m.TopIndex(), 0);
    EXPECT_FALSE(m.KeyboardScroll());
}

TEST_F(InputTest, EndStopsAtTheLastByteOfAShortLastRow)
{
    Load(Seq(8191));
    Key(K::End, false, true);
    ASSERT_EQ(m.Caret(), 8190);
    Key(K::Home);
    EXPECT_EQ(m.Caret(), 8176);
    Key(K::Right);
    Key(K::Right);
    Key(K::End);
    EXPECT_EQ(m.Caret(), 8190);
    // A last row of fewer than 8 bytes: Ctrl+End scrolls one more row to show it.
    Load(Seq(8199));
    Key(K::End, false, true);
    EXPECT_EQ(m.Caret(), 8198);
    EXPECT_EQ(m.TopIndex(), 483 * 16);
}

TEST_F(InputTest, InsertKeyInsertsAsManyZerosAsSelected)
{
    Load(Seq(32));
    CaretTo(2);
    Click(12 + 3 * 4, 0, true); // Shift-click on byte 4's high digit: bytes 2..4
    ASSERT_EQ(m.SelLow(), 2);
    ASSERT_EQ(m.SelHigh(), 5);
    ASSERT_EQ(m.Caret(), 4);
    Key(K::Insert);
    EXPECT_EQ(m.Length(), 35);
    EXPECT_EQ(At(4), 0);
    EXPECT_EQ(At(6), 0);
    EXPECT_EQ(At(7), 4);
    EXPECT_EQ(m.Caret(), 4);
    EXPECT_FALSE(m.HasSelection());
    Key(K::Insert); // without selection: one byte
    EXPECT_EQ(m.Length(), 36);
}

TEST_F(InputTest, BackspaceAndDelete)
{
    Load(Seq(10));
    m.OnChar(8, false);
    EXPECT_EQ(m.Length(), 10);
    CaretTo(1);
    m.OnChar(8, false);
    EXPECT_EQ(Data(), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(m.Caret(), 0);
    CaretTo(8); // last byte: Backspace removes the one before it
    m.OnChar(8, false);
    EXPECT_EQ(m.Caret(), 7);
    EXPECT_EQ(At(7), 9);
    Key(K::Delete);
    EXPECT_EQ(m.Length(), 7);
    EXPECT_EQ(m.Caret(), 6);
    EXPECT_TRUE(HexEditInvariantsHold(m));
}

TEST_F(InputTest, ClicksHitCellsAndIgnoreGapsAndCellsPastTheData)
{
    Load(Seq(100));
    Click(63 + 2, 2);
    EXPECT_EQ(m.Caret(), 34);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_ASCII);
    Click(12 + 3 * 5 + 2, 1); // blank after byte 5's pair: byte 6, high digit
    EXPECT_EQ(m.Caret(), 22);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_HIGH);
    Click(12 + 3 * 5 + 1, 1);
    EXPECT_EQ(m.Caret(), 21);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_LOW);
    EXPECT_EQ(m.CaretX(), (12 + 16) * CW);
    EXPECT_EQ(m.CaretY(), LH);
    // Ignored: between address and hex, after the last pair, right of ASCII, past the data.
    for (int cell : {9, 12 + 47, 62, 63 + 16}) {
        Click(cell, 0);
        EXPECT_EQ(m.Caret(), 21) << cell;
        EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_LOW) << cell;
    }
    Click(12 + 3 * 4, 6); // byte 100 does not exist
    Click(63 + 3, 10);
    EXPECT_EQ(m.Caret(), 21);
    Click(3, 6); // address of row 6 = byte 96
    EXPECT_EQ(m.Caret(), 96);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_ADDRESS);
    EXPECT_EQ(m.GetCaretState().width, 8 * CW);
    EXPECT_EQ(m.CaretX(), 0);
    // The arrows do nothing in the address column; Tab goes to the hex column.
    Key(K::Right);
    Key(K::Down);
    EXPECT_EQ(m.Caret(), 96);
    Key(K::Tab);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_HIGH);
    EXPECT_EQ(m.CaretX(), 12 * CW);
}

TEST_F(InputTest, ShiftClickMissDoesNotLeaveHalfASelection)
{
    Load(Seq(100));
    Click(62, 0, true);
    EXPECT_FALSE(m.HasSelection());
    EXPECT_TRUE(HexEditInvariantsHold(m));
}

TEST_F(InputTest, DragSelectsAndScrollsOneRowPerMoveOutside)
{
    Load(Seq(8192));
    Key(K::PageDown);
    ASSERT_EQ(m.TopIndex(), 480);
    ASSERT_TRUE(m.OnLButtonDown(false, X(12 + 3 * 2), Y(1)));
    m.OnDragDecided(true);
    EXPECT_EQ(m.SelStart(), 498);
    EXPECT_EQ(m.SelEnd(), 498);
    m.OnMouseMove(true, X(12 + 3 * 5), Y(2));
    EXPECT_EQ(m.SelEnd(), 518);
    EXPECT_FALSE(m.GetCaretState().exists); // hidden while dragging
    m.OnMouseMove(true, X(12 + 3 * 5), -3);
    EXPECT_EQ(m.TopIndex(), 464);
    EXPECT_EQ(m.SelEnd(), 470); // row 0 now starts at 464
    m.OnMouseMove(true, X(12 + 3 * 5), -3);
    EXPECT_EQ(m.TopIndex(), 448);
    m.OnMouseMove(true, X(12), 30 * LH + 4);
    EXPECT_EQ(m.TopIndex(), 464);
    EXPECT_EQ(m.SelStart(), 498);
    // Without the button held nothing happens.
    m.OnMouseMove(false, X(12), -3);
    EXPECT_EQ(m.TopIndex(), 464);
    // A plain click without drag clears the selection and shows the caret.
    Click(12, 0);
    EXPECT_FALSE(m.HasSelection());
    EXPECT_TRUE(m.GetCaretState().visible);
}

TEST_F(InputTest, WheelScrollsOneRowWhateverTheDelta)
{
    Load(Seq(8192));
    CaretTo(5);
    EXPECT_TRUE(m.OnMouseWheel(-240));
    EXPECT_EQ(m.TopIndex(), 16);
    EXPECT_EQ(m.Caret(), 21); // carried along
    m.OnMouseWheel(-120);
    EXPECT_EQ(m.TopIndex(), 32);
    m.OnMouseWheel(240);
    EXPECT_EQ(m.TopIndex(), 16);
    m.OnMouseWheel(120);
    m.OnMouseWheel(120);
    EXPECT_EQ(m.TopIndex(), 0);
    EXPECT_EQ(m.Caret(), 5);
    CHexEditModel none;
    EXPECT_FALSE(none.OnMouseWheel(120));
}

TEST_F(InputTest, ScrollThatCarriesTheCaretPastTheDataClampsIt)
{
    Load(Seq(30 * 16 + 20)); // 32 rows in a 30-row view
    Key(K::End, false, true);
    ASSERT_EQ(m.Caret(), 499);
    m.OnVScroll(CHexEditModel::SB_THUMBTRACK, 0);
    EXPECT_EQ(m.TopIndex(), 0);
    CaretTo(29 * 16 + 15); // last byte of the last visible row
    m.OnVScroll(CHexEditModel::SB_LINEDOWN);
    m.OnVScroll(CHexEditModel::SB_LINEDOWN);
    EXPECT_EQ(m.TopIndex(), 32);
    EXPECT_EQ(m.Caret(), 499); // 479 + 32 = 511 would be past the end
    EXPECT_TRUE(HexEditInvariantsHold(m));
    m.OnVScroll(CHexEditModel::SB_THUMBTRACK, 999); // not a row of the data
    EXPECT_EQ(m.TopIndex(), 32);
}

TEST_F(InputTest, PageDownStopsAtTheLastPage)
{
    Load(Seq(8192));
    int presses = 0;
    while (presses < 100) {
        const int top = m.TopIndex();
        Key(K::PageDown);
        ++presses;
        if (m.TopIndex() == top)
            break;
    }
    EXPECT_EQ(m.TopIndex(), 482 * 16);
    EXPECT_EQ(presses, 18); // 16 full pages, one partial, one that does nothing
    Key(K::PageUp);
    EXPECT_EQ(m.TopIndex(), 452 * 16);
}

TEST_F(InputTest, EmptyDataAcceptsOnlyInsertAndPaste)
{
    Load(Seq(16));
    m.OnEditSelectAll();
    Key(K::Delete);
    ASSERT_EQ(m.Length(), 0);
    Type("5a");
    m.OnChar(8, false);
    Key(K::Delete);
    Key(K::Right, true);
    Key(K::End, true, true);
    EXPECT_EQ(m.Length(), 0);
    EXPECT_TRUE(HexEditInvariantsHold(m));
    EXPECT_EQ(m.GetData(nullptr, 0), 0);
    Key(K::Insert);
    EXPECT_EQ(Data(), std::vector<std::uint8_t>{0});
    m.OnEditSelectAll();
    Key(K::Delete);
    clip.offers = {true, true, false};
    clip.raw = {0xAB, 0xCD};
    m.OnEditPaste();
    EXPECT_EQ(Data(), (std::vector<std::uint8_t>{0xAB, 0xCD}));
    EXPECT_EQ(m.Caret(), 0);
}

TEST_F(InputTest, CopyFormsFollowTheCaretColumn)
{
    Load({0x10, 0x48, 0x69, 0x00, 0xFF, 0x20});
    // Bytes 1..4 through a Shift-click on byte 4's high digit.
    CaretTo(1);
    Click(12 + 3 * 4, 0, true);
    ASSERT_EQ(m.SelLow(), 1);
    ASSERT_EQ(m.SelHigh(), 5);
    m.OnChar(3, true);
    EXPECT_EQ(clip.raw, (std::vector<std::uint8_t>{0x48, 0x69, 0x00, 0xFF}));
    EXPECT_EQ(clip.text, "48 69 00 FF ");
    Key(K::Tab); // the ASCII form depends on the column at copy time
    m.OnEditCopy();
    EXPECT_EQ(clip.text, "Hi..");
    EXPECT_EQ(m.Length(), 6); // copy changes nothing
    EXPECT_EQ(m.SelLow(), 1);
}

TEST_F(InputTest, BackwardSelectionCopiesCutsAndDeletesLikeForward)
{
    for (int op = 0; op < 3; ++op) {
        SCOPED_TRACE(op);
        Load(Seq(20));
        clip.raw.clear();
        CaretTo(9);
        for (int i = 0; i < 12; ++i)
            Key(K::Left, true); // 6 bytes back: caret 3, anchor 9
        ASSERT_EQ(m.SelStart(), 9);
        ASSERT_EQ(m.SelEnd(), 3);
        std::vector<std::uint8_t> expect = Seq(20);
        if (op == 0) {
            m.OnEditCopy();
        } else if (op == 1) {
            m.OnChar(24, true);
            expect.erase(expect.begin() + 3, expect.begin() + 9);
        } else {
            Key(K::Delete);
            expect.erase(expect.begin() + 3, expect.begin() + 9);
            EXPECT_EQ(m.Caret(), 3);
        }
        if (op < 2) {
            EXPECT_EQ(clip.raw, (std::vector<std::uint8_t>{3, 4, 5, 6, 7, 8}));
        }
        EXPECT_EQ(Data(), expect);
        EXPECT_TRUE(HexEditInvariantsHold(m));
    }
}

TEST_F(InputTest, PasteInsertsAfterTheCaretByteOnALowDigit)
{
    Load(Seq(8192));
    CaretTo(10);
    Key(K::Right);
    ASSERT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_LOW);
    clip.offers = {true, true, true};
    clip.raw = {0xA1, 0xA2, 0xA3, 0xA4};
    clip.text = "ignored";
    m.OnChar(22, true);
    EXPECT_EQ(m.Length(), 8196);
    EXPECT_EQ(At(10), 10);
    EXPECT_EQ(At(11), 0xA1);
    EXPECT_EQ(At(14), 0xA4);
    EXPECT_EQ(At(15), 11);
    EXPECT_EQ(m.Caret(), 10);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_LOW);
    std::vector<std::uint8_t> back(8192);
    EXPECT_EQ(m.GetData(back.data(), 8192), 8196);
}

TEST_F(InputTest, PasteReplacesASelection)
{
    Load(Seq(12));
    CaretTo(2);
    Click(12 + 3 * 5, 0, true); // bytes 2 to 5
    ASSERT_EQ(m.SelLow(), 2);
    ASSERT_EQ(m.SelHigh(), 6);
    clip.offers = {true, true, false};
    clip.raw = {0xEE, 0xEF};
    m.OnEditPaste();
    EXPECT_EQ(Data(), (std::vector<std::uint8_t>{0, 1, 0xEE, 0xEF, 6, 7, 8, 9, 10, 11}));
    EXPECT_FALSE(m.HasSelection());
    EXPECT_EQ(m.Caret(), 5);
}

TEST_F(InputTest, PastedTextKeepsItsBytesAndNul)
{
    Load(Seq(4));
    clip.offers = {true, false, true};
    clip.text = "0A b";
    m.OnEditPaste();
    EXPECT_EQ(Data(), (std::vector<std::uint8_t>{'0', 'A', ' ', 'b', 0, 0, 1, 2, 3}));
    // Nothing to paste, or an unreadable clipboard: no change.
    clip.offers = {true, false, false};
    m.OnEditPaste();
    clip.offers = {false, true, true};
    m.OnEditPaste();
    EXPECT_EQ(m.Length(), 9);
}

// Clipboard text becomes the bytes typing its characters would write: Latin-1 up to U+00FF,
// '?' above; text that is not UTF-8 at all is Latin-1 already and stays byte for byte.
TEST(TextClipboardBytes, OneBytePerCharacter)
{
    struct SCase {
        const char* name;
        std::string text;
        std::string bytes;
    };
    const SCase cases[] = {
        {"ascii", "Hi 09", "Hi 09"},
        {"latin-1 letter", "caf\xC3\xA9", "caf\xE9"},
        {"top of latin-1", "\xC3\xBF\xC3\xBE\xC2\x80", "\xFF\xFE\x80"},
        {"euro sign", "\xE2\x82\xAC" "5", "?5"},
        {"beyond the basic plane is one character", "\xF0\x9F\x98\x80!", "?!"},
        {"control codes", std::string("a\0\r\x7F", 4), std::string("a\0\r\x7F", 4)},
        {"raw bytes, not utf-8", "\xFF\xFE\x80", "\xFF\xFE\x80"},
        {"latin-1 text", "caf\xE9", "caf\xE9"},
        {"truncated sequence", "ab\xC3", "ab\xC3"},
        {"overlong slash", "\xC0\xAF", "\xC0\xAF"},
        {"encoded surrogate", "\xED\xA0\x80", "\xED\xA0\x80"},
        {"empty", "", ""},
    };
    for (const SCase& c : cases)
        EXPECT_EQ(TextClipboardBytes(c.text), c.bytes) << c.name;
}

TEST_F(InputTest, FailedPasteOrCopyLosesNothing)
{
    Load(Seq(10));
    m.SetMaxLength(11);
    CaretTo(2);
    Key(K::Right, true);
    clip.offers = {true, true, false};
    clip.raw = {1, 2, 3};
    m.OnEditPaste(); // would grow to 12
    EXPECT_EQ(Data(), Seq(10));
    m.SetClipboard(nullptr);
    m.OnEditCut(); // no clipboard to copy to: nothing is cut
    EXPECT_EQ(Data(), Seq(10));
}

TEST_F(InputTest, ContextMenuGreysRowsByStateAndClipboard)
{
    Load(Seq(10));
    clip.offers = {true, false, false}; // a bitmap only
    auto s = m.ContextMenuState();
    EXPECT_FALSE(s.undo);
    EXPECT_FALSE(s.cut);
    EXPECT_FALSE(s.copy);
    EXPECT_FALSE(s.paste);
    EXPECT_FALSE(s.clear);
    EXPECT_TRUE(s.selectAll);
    clip.offers = {false, false, false}; // cannot be inspected: Paste stays enabled
    EXPECT_TRUE(m.ContextMenuState().paste);
    clip.offers = {true, false, true};
    m.OnEditSelectAll();
    s = m.ContextMenuState();
    EXPECT_TRUE(s.cut && s.copy && s.paste && s.clear && s.selectAll);
    EXPECT_FALSE(s.undo);
    EXPECT_FALSE(m.GetCaretState().exists); // Select All hides the caret
}

TEST_F(InputTest, ClipboardControlCodesNeedCtrlAndASelection)
{
    Load(Seq(10));
    m.OnChar(3, true);
    m.OnChar(24, true);
    m.OnChar(26, true);
    EXPECT_EQ(clip.writes, 0);
    EXPECT_EQ(Data(), Seq(10));
    Click(63, 0); // ASCII column: code 3 without Ctrl is typed
    m.OnChar(3, false);
    EXPECT_EQ(At(0), 3);
}

TEST_F(InputTest, FocusRecreatesTheCaretByRememberedPosition)
{
    Load(Seq(100));
    m.OnKillFocus();
    EXPECT_FALSE(m.GetCaretState().exists);
    m.OnSetFocus();
    EXPECT_TRUE(m.GetCaretState().visible);
    EXPECT_EQ(m.GetCaretState().width, 8 * CW); // x is 0 after SetData
    Key(K::Right);
    m.OnKillFocus();
    m.OnSetFocus();
    EXPECT_EQ(m.GetCaretState().width, CW);
    EXPECT_EQ(m.GetCaretState().x, 13 * CW);
    m.OnEditSelectAll();
    m.OnKillFocus();
    m.OnSetFocus(); // with a selection the caret stays away
    EXPECT_FALSE(m.GetCaretState().exists);
}

TEST_F(InputTest, NoDataMeansEveryHandlerDoesNothing)
{
    CHexEditModel none(&view);
    none.SetClipboard(&clip);
    none.SetFontMetrics(CW, LH);
    none.SetClientSize(640, 400);
    none.OnKeyDown(K::Insert, false, false);
    none.OnChar('a', false);
    none.OnEditPaste();
    none.OnEditSelectAll();
    EXPECT_FALSE(none.OnLButtonDown(false, 100, 10));
    none.OnVScroll(CHexEditModel::SB_LINEDOWN);
    EXPECT_FALSE(none.HasData());
    EXPECT_EQ(none.Length(), 0);
    EXPECT_FALSE(none.HasSelection());
    EXPECT_EQ(view.redraws, 0);
}

// A seeded random sequence of every kind of input keeps the invariants.
TEST(InputRandom, InvariantsHoldAfterRandomInput)
{
    for (unsigned seed : {3u, 11u, 99u}) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        FakeView view;
        FakeClipboard clip;
        CHexEditModel m(&view);
        view.model = &m;
        m.SetClipboard(&clip);
        m.SetFontMetrics(CW, LH);
        m.SetClientSize(600, 10 * LH + 5);
        auto data = Seq(pick(0, 400));
        ASSERT_TRUE(m.SetData(data.data(), static_cast<int>(data.size())));
        const char typed[] = "0123456789abcdefABCxyz\r\x1b\b";
        for (int step = 0; step < 4000; ++step) {
            switch (pick(0, 9)) {
            case 0:
            case 1:
                m.OnKeyDown(static_cast<K>(pick(0, 10)), pick(0, 1) != 0, pick(0, 1) != 0);
                break;
            case 2:
                m.OnChar(static_cast<unsigned char>(typed[pick(0, static_cast<int>(sizeof typed) - 2)]), false);
                break;
            case 3:
                m.OnChar(static_cast<unsigned>(std::vector<int>{3, 22, 24, 26}[static_cast<std::size_t>(pick(0, 3))]),
                         true);
                break;
            case 4:
                if (m.OnLButtonDown(pick(0, 1) != 0, pick(-10, 620), pick(-10, 160)))
                    m.OnDragDecided(pick(0, 1) != 0);
                break;
            case 5:
                m.OnMouseMove(pick(0, 3) != 0, pick(-10, 620), pick(-30, 180));
                break;
            case 6:
                m.OnMouseWheel(pick(0, 1) ? 120 : -240);
                break;
            case 7:
                m.OnVScroll(pick(0, 8), pick(-2, 40));
                break;
            case 8:
                switch (pick(0, 4)) {
                case 0: m.OnEditSelectAll(); break;
                case 1: m.OnEditClear(); break;
                case 2: m.OnEditCut(); break;
                case 3: m.OnEditCopy(); break;
                default: m.OnEditPaste(); break;
                }
                break;
            default:
                if (pick(0, 30) == 0) {
                    data = Seq(pick(0, 400));
                    ASSERT_TRUE(m.SetData(data.data(), static_cast<int>(data.size())));
                }
                break;
            }
            ASSERT_TRUE(HexEditInvariantsHold(m)) << "step " << step;
            ASSERT_FALSE(m.LayoutDirty()) << "step " << step; // every change repainted
            if (m.GetCaretState().visible) {
                ASSERT_LT(m.GetCaretState().y, m.ClientHeight()) << "step " << step;
                ASSERT_GE(m.GetCaretState().y, 0) << "step " << step;
            }
        }
    }
}

} // namespace
