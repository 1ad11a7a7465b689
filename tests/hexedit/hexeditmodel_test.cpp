// SPDX-License-Identifier: MIT
// Tests of the hex editor's data model and editing primitives, without a window.
#include "hexedit/hexeditmodel.h"
#include "hexedit_invariants.h"

#include <gtest/gtest.h>

#include <climits>
#include <numeric>
#include <random>
#include <vector>

namespace {

struct FakeView : IHexEditView {
    CHexEditModel* model = nullptr;
    int redraws = 0;
    int caretChanges = 0;
    int scrollChanges = 0;
    // Paints at once, so the layout runs here as in a shown window.
    void Redraw() override
    {
        ++redraws;
        if (model)
            model->EnsureLayout();
    }
    void CaretChanged() override { ++caretChanges; }
    void ScrollBarsChanged() override { ++scrollChanges; }
};

std::vector<std::uint8_t> Bytes(int n, int seed = 0)
{
    std::vector<std::uint8_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 7 + seed);
    return v;
}

std::vector<std::uint8_t> Contents(const CHexEditModel& m)
{
    std::vector<std::uint8_t> out(static_cast<std::size_t>(m.Length()));
    m.GetData(out.data(), m.Length());
    return out;
}

// A model laid out like the buffer page's editor: cell 7 x 14 pixels, 30 whole rows.
struct ModelTest : ::testing::Test {
    FakeView view;
    CHexEditModel m{&view};
    void SetUp() override
    {
        view.model = &m;
        m.SetFontMetrics(7, 14);
        m.SetClientSize(600, 30 * 14 + 5);
    }
    void Load(const std::vector<std::uint8_t>& v) { ASSERT_TRUE(m.SetData(v.data(), static_cast<int>(v.size()))); }
};

TEST_F(ModelTest, SetDataPutsCaretOnFirstDigitAndGetDataCopiesBack)
{
    auto src = Bytes(8192);
    Load(src);
    EXPECT_EQ(m.Caret(), 0);
    EXPECT_EQ(m.CaretColumn(), CHexEditModel::COL_HEX_HIGH);
    EXPECT_EQ(m.SelStart(), -1);
    EXPECT_EQ(m.SelEnd(), -1);
    EXPECT_EQ(m.TopIndex(), 0);
    EXPECT_EQ(m.CaretX(), 0);
    EXPECT_EQ(m.CaretY(), 0);
    EXPECT_GE(view.redraws, 1);

    // The editor holds a copy: later changes to the caller's buffer do not reach it.
    src[0] ^= 0xFF;
    std::vector<std::uint8_t> back(8192, 0xEE);
    EXPECT_EQ(m.GetData(back.data(), 8192), 8192);
    src[0] ^= 0xFF;
    EXPECT_EQ(back, src);
}

TEST_F(ModelTest, GetDataCopiesAtMostMaximumButReportsFullLength)
{
    Load(Bytes(10));
    std::vector<std::uint8_t> dest(20, 0xEE);
    EXPECT_EQ(m.GetData(dest.data(), 4), 10);
    EXPECT_EQ(std::vector<std::uint8_t>(dest.begin(), dest.begin() + 4), std::vector<std::uint8_t>(Bytes(4)));
    EXPECT_EQ(dest[4], 0xEE);
    EXPECT_EQ(m.GetData(dest.data(), 20), 10);
    EXPECT_EQ(dest[9], Bytes(10)[9]);
    EXPECT_EQ(dest[10], 0xEE);
    EXPECT_EQ(m.GetData(dest.data(), -5), 10);
}

TEST_F(ModelTest, DeleteOneByteShrinksWhatGetDataCopies)
{
    auto src = Bytes(8192);
    Load(src);
    ASSERT_TRUE(m.DeleteRange(100, 101));
    std::vector<std::uint8_t> dest(8192, 0xEE);
    EXPECT_EQ(m.GetData(dest.data(), 8192), 8191);
    src.erase(src.begin() + 100);
    EXPECT_EQ(std::vector<std::uint8_t>(dest.begin(), dest.begin() + 8191), src);
    EXPECT_EQ(dest[8191], 0xEE);
}

TEST_F(ModelTest, DeletingTheBytesUnderTheCaretPullsItToTheNewLastByte)
{
    Load(Bytes(40));
    m.MoveCaret(0, 2);
    for (int i = 0; i < 12; ++i)
        m.MoveCaret(1, 0); // two nibble steps per byte
    ASSERT_EQ(m.Caret(), 38);
    ASSERT_TRUE(m.DeleteRange(30, 40));
    EXPECT_EQ(m.Length(), 30);
    EXPECT_EQ(m.Caret(), 29);
    EXPECT_EQ(m.CaretY(), 14); // placed again on the new last byte's row
    ASSERT_TRUE(m.DeleteRange(0, 29));
    EXPECT_EQ(m.Caret(), 0);
    EXPECT_TRUE(HexEditInvariantsHold(m));
}

TEST_F(ModelTest, InsertZerosShiftsTheTailAndKeepsTheCaretIndex)
{
    Load({0, 1, 2, 3, 4, 5, 6});
    const int caret = m.Caret();
    ASSERT_TRUE(m.InsertZeros(5, 2));
    EXPECT_EQ(Contents(m), (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 0, 0, 5, 6}));
    EXPECT_EQ(m.Caret(), caret);
    ASSERT_TRUE(m.InsertZeros(9, 1)); // at the end
    EXPECT_EQ(Contents(m).back(), 0);
    EXPECT_EQ(m.Length(), 10);
}

TEST_F(ModelTest, DeletingEverythingLeavesEmptyDataThatStillAcceptsInserts)
{
    Load(Bytes(5));
    ASSERT_TRUE(m.DeleteRange(0, 5));
    EXPECT_TRUE(m.HasData());
    EXPECT_EQ(m.Length(), 0);
    EXPECT_EQ(m.Caret(), 0);
    std::uint8_t d = 0xEE;
    EXPECT_EQ(m.GetData(&d, 1), 0);
    EXPECT_EQ(d, 0xEE);
    EXPECT_TRUE(HexEditInvariantsHold(m));
    ASSERT_TRUE(m.InsertZeros(0, 1));
    EXPECT_EQ(Contents(m), std::vector<std::uint8_t>{0});
    EXPECT_TRUE(HexEditInvariantsHold(m));
}

TEST_F(ModelTest, SetDataWithZeroLengthGivesEmptyData)
{
    Load(Bytes(50));
    m.SetSelection(3, 9);
    ASSERT_TRUE(m.SetData(nullptr, 0));
    EXPECT_TRUE(m.HasData());
    EXPECT_EQ(m.Length(), 0);
    EXPECT_EQ(m.Caret(), 0);
    EXPECT_FALSE(m.HasSelection());
    EXPECT_EQ(m.RowsPerPage(), 0);
    EXPECT_EQ(m.VScroll().max, -1);
    EXPECT_TRUE(HexEditInvariantsHold(m));
}

TEST_F(ModelTest, InvalidArgumentsChangeNothing)
{
    Load(Bytes(20));
    m.SetSelection(2, 6);
    const int redraws = view.redraws;
    EXPECT_FALSE(m.DeleteRange(5, 3));
    EXPECT_FALSE(m.DeleteRange(-1, 2));
    EXPECT_FALSE(m.DeleteRange(10, 21));
    EXPECT_FALSE(m.InsertZeros(21, 1));
    EXPECT_FALSE(m.InsertZeros(-1, 1));
    EXPECT_FALSE(m.InsertZeros(3, -2));
    EXPECT_FALSE(m.SetData(nullptr, 4));
    EXPECT_FALSE(m.SetData(Bytes(1).data(), -1));
    EXPECT_EQ(Contents(m), Bytes(20));
    EXPECT_EQ(m.SelStart(), 2); // a refused operation does not even clear the selection
    EXPECT_EQ(view.redraws, redraws);

    CHexEditModel none;
    EXPECT_FALSE(none.DeleteRange(0, 0));
    EXPECT_FALSE(none.InsertZeros(0, 1));
    EXPECT_EQ(none.GetData(nullptr, 10), 0);
}

TEST_F(ModelTest, FailedAllocationKeepsTheOldData)
{
    Load(Bytes(100));
    m.SetSelection(4, 8);
    m.SetMaxLength(120);
    EXPECT_FALSE(m.InsertZeros(50, 21));
    EXPECT_FALSE(m.SetData(Bytes(121).data(), 121));
    EXPECT_EQ(Contents(m), Bytes(100));
    EXPECT_EQ(m.SelStart(), 4);
    EXPECT_TRUE(m.InsertZeros(50, 20)); // exactly at the limit still works
    EXPECT_EQ(m.Length(), 120);

    m.SetMaxLength(INT_MAX);
    // A length past INT_MAX must not wrap around into a small buffer.
    EXPECT_FALSE(m.InsertZeros(0, INT_MAX));
    EXPECT_EQ(m.Length(), 120);
}

TEST_F(ModelTest, PrimitivesClearTheSelectionAndRedraw)
{
    Load(Bytes(64));
    m.SetSelection(5, 1);
    EXPECT_EQ(m.SelLow(), 1);
    EXPECT_EQ(m.SelHigh(), 5);
    int r = view.redraws;
    ASSERT_TRUE(m.InsertZeros(0, 3));
    EXPECT_FALSE(m.HasSelection());
    EXPECT_GT(view.redraws, r);
    m.SetSelection(0, 67);
    r = view.redraws;
    ASSERT_TRUE(m.DeleteRange(0, 1));
    EXPECT_FALSE(m.HasSelection());
    EXPECT_GT(view.redraws, r);
    // Ends outside the data are refused as a whole.
    m.SetSelection(0, 1000);
    EXPECT_EQ(m.SelStart(), -1);
    EXPECT_EQ(m.SelEnd(), -1);
}

TEST_F(ModelTest, SetSelectionRecreatesTheCaretByRememberedPosition)
{
    Load(Bytes(64));
    // Right after SetData the remembered x is 0: the caret is address-wide at the top left.
    EXPECT_TRUE(m.GetCaretState().exists);
    EXPECT_TRUE(m.GetCaretState().visible);
    EXPECT_EQ(m.GetCaretState().width, 8 * 7);
    EXPECT_EQ(m.GetCaretState().height, 14);
    m.PlaceCaret(17);
    EXPECT_EQ(m.CaretX(), 12 * 7 + 3 * 7);
    EXPECT_EQ(m.CaretY(), 14);
    m.SetSelection(-1, -1);
    EXPECT_EQ(m.GetCaretState().width, 7);
    EXPECT_EQ(m.GetCaretState().x, m.CaretX());
    EXPECT_EQ(m.GetCaretState().y, 14);
}

TEST_F(ModelTest, SetOptionsMarksLayoutDirtyWithoutRepainting)
{
    Load(Bytes(64));
    EXPECT_FALSE(m.LayoutDirty());
    const int r = view.redraws;
    m.SetOptions(true, true, false, false);
    EXPECT_TRUE(m.LayoutDirty());
    EXPECT_EQ(view.redraws, r);
    EXPECT_FALSE(m.ShowAscii());
    EXPECT_FALSE(m.WideAddress());
    m.EnsureLayout();
    EXPECT_EQ(m.HexLeft(), 5 * 7);
    EXPECT_EQ(m.AsciiLeft(), 5 * 7 + 17 * 3 * 7);
    m.SetOptions(false, false, true, true);
    m.EnsureLayout();
    EXPECT_EQ(m.HexLeft(), 0);
    EXPECT_EQ(m.AsciiLeft(), 0);
    EXPECT_EQ(m.HScroll().max, 16 * 7);
}

TEST_F(ModelTest, LayoutCountsRowsAndScrollRanges)
{
    Load(Bytes(20));
    EXPECT_EQ(m.RowsPerPage(), 2);
    EXPECT_TRUE(m.PartialLastRow());
    EXPECT_EQ(m.HexLeft(), 12 * 7);
    EXPECT_EQ(m.AsciiLeft(), 63 * 7);
    EXPECT_EQ(m.VScroll().max, 1);
    EXPECT_EQ(m.VScroll().page, 2);
    EXPECT_EQ(m.HScroll().max, (8 + 48 + 16) * 7);

    Load(Bytes(8192));
    EXPECT_EQ(m.RowsPerPage(), 30);
    EXPECT_FALSE(m.PartialLastRow());
    EXPECT_EQ(m.VScroll().max, 511);
    EXPECT_EQ(m.VScroll().page, 30);

    // A size change alone does not re-run the layout.
    m.SetClientSize(600, 10 * 14);
    m.SetSelection(-1, -1);
    EXPECT_EQ(m.RowsPerPage(), 30);
    EXPECT_EQ(m.PaintBottom(), 10 * 14);
}

TEST_F(ModelTest, CaretOutsideTheViewIsHidden)
{
    Load(Bytes(8192));
    m.PlaceCaret(30 * 16 - 1); // last byte of the last whole row
    EXPECT_TRUE(m.GetCaretState().visible);
    // The partly visible row under the last whole one (5 pixels of it) is in the client
    // area: typing there must show where it goes.
    for (int n : {30 * 16, 30 * 16 + 15}) {
        m.PlaceCaret(n);
        EXPECT_TRUE(m.GetCaretState().visible) << n;
        EXPECT_EQ(m.GetCaretState().y, 30 * 14) << n;
    }
    m.PlaceCaret(31 * 16); // first byte below the client area
    EXPECT_FALSE(m.GetCaretState().visible);
    EXPECT_EQ(m.CaretY(), 31 * 14);

    // Above the top row, less than a row away: still hidden, not drawn on the top row.
    if (m.OnLButtonDown(false, (63 + 5) * 7 + 3, 7))
        m.OnDragDecided(false);
    ASSERT_EQ(m.CaretColumn(), CHexEditModel::COL_ASCII);
    ASSERT_EQ(m.Caret(), 5);
    EXPECT_TRUE(m.GetCaretState().visible);
    m.ScrollToRow(1);
    EXPECT_FALSE(m.GetCaretState().visible);
    EXPECT_LT(m.CaretY(), 0);
}

// Randomised operations checked against a plain vector after every step.
TEST(ModelRandom, MatchesReferenceVectorAndKeepsInvariants)
{
    for (unsigned seed : {1u, 7u, 42u, 2024u}) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        FakeView view;
        CHexEditModel m(&view);
        view.model = &m;
        m.SetFontMetrics(7, 14);
        m.SetClientSize(640, 200);
        std::vector<std::uint8_t> ref = Bytes(pick(0, 300), static_cast<int>(seed));
        ASSERT_TRUE(m.SetData(ref.data(), static_cast<int>(ref.size())));
        for (int step = 0; step < 3000; ++step) {
            const int len = static_cast<int>(ref.size());
            switch (pick(0, 6)) {
            case 0: {
                int a = pick(-2, len + 2), b = pick(-2, len + 2);
                const bool valid = a >= 0 && a <= b && b <= len;
                EXPECT_EQ(m.DeleteRange(a, b), valid);
                if (valid)
                    ref.erase(ref.begin() + a, ref.begin() + b);
                break;
            }
            case 1: {
                int p = pick(-1, len + 1), c = pick(-1, 40);
                const bool valid = p >= 0 && p <= len && c >= 0;
                EXPECT_EQ(m.InsertZeros(p, c), valid);
                if (valid)
                    ref.insert(ref.begin() + p, static_cast<std::size_t>(c), 0);
                break;
            }
            case 2:
                m.SetSelection(pick(-1, len + 1), pick(-1, len + 1));
                break;
            case 3:
                if (len > 0)
                    m.PlaceCaret(pick(0, len - 1));
                break;
            case 4:
                if (pick(0, 20) == 0) {
                    ref = Bytes(pick(0, 300), step);
                    ASSERT_TRUE(m.SetData(ref.data(), static_cast<int>(ref.size())));
                }
                break;
            case 5:
                m.SetClientSize(pick(0, 800), pick(0, 400));
                break;
            default:
                m.SetSelection(-1, -1);
                break;
            }
            ASSERT_TRUE(HexEditInvariantsHold(m)) << "step " << step;
            ASSERT_EQ(m.Length(), static_cast<int>(ref.size())) << "step " << step;
            ASSERT_EQ(Contents(m), ref) << "step " << step;
        }
    }
}

} // namespace

namespace {

// What the page downloads: the count grows to cover every byte an edit changed, and no further.
TEST_F(ModelTest, EditedEndCoversTypedBytesAndWhatAnInsertionMoves)
{
    Load(Bytes(512));
    EXPECT_EQ(m.EditedEnd(), 0);
    EXPECT_EQ(m.CoveredCount(16), 16u);
    const unsigned before = m.EditCount();
    m.GoTo(300);
    m.OnChar('a', false); // the high digit of byte 300
    EXPECT_EQ(Contents(m)[300] >> 4, 0xA);
    EXPECT_EQ(m.EditedEnd(), 301);
    EXPECT_GT(m.EditCount(), before);
    EXPECT_EQ(m.CoveredCount(16), 301u);
    EXPECT_EQ(m.CoveredCount(400), 400u);
    // Moving the caret is no edit.
    const unsigned moved = m.EditCount();
    m.OnKeyDown(CHexEditModel::Key::Down, false, false);
    EXPECT_EQ(m.EditCount(), moved);
    // An insertion moves every byte after it: all of them count.
    m.GoTo(10);
    m.OnKeyDown(CHexEditModel::Key::Insert, false, false);
    EXPECT_EQ(m.Length(), 513);
    EXPECT_EQ(m.EditedEnd(), 513);
    // New data forgets the edits.
    Load(Bytes(512));
    EXPECT_EQ(m.EditedEnd(), 0);
    m.FillRange(500, 600, 0x5A); // clipped to the data
    EXPECT_EQ(m.EditedEnd(), 512);
    EXPECT_EQ(Contents(m)[499], Bytes(512)[499]);
    EXPECT_EQ(Contents(m)[511], 0x5A);
}

TEST_F(ModelTest, FindSelectsFromTheCaretOnAndWrapsOnce)
{
    std::vector<std::uint8_t> data(4096, 0);
    const std::vector<std::uint8_t> needle{0xDE, 0xAD, 0xBE};
    for (int at : {100, 2000, 4000})
        std::copy(needle.begin(), needle.end(), data.begin() + at);
    Load(data);
    m.GoTo(150);
    CHexEditModel::FindResult r = m.FindNext(needle);
    ASSERT_TRUE(r.found);
    EXPECT_FALSE(r.wrapped);
    EXPECT_EQ(r.position, 2000);
    EXPECT_EQ(m.SelLow(), 2000);
    EXPECT_EQ(m.SelHigh(), 2003);
    EXPECT_EQ(m.Caret(), 2000);
    // Scrolled so that the match shows.
    EXPECT_LE(m.TopIndex(), 2000);
    EXPECT_GT(m.TopIndex() + m.RowsPerPage() * m.BytesPerRow(), 2000);
    // The next search goes past the selected match, then wraps to the first.
    EXPECT_EQ(m.FindNext(needle).position, 4000);
    r = m.FindNext(needle);
    EXPECT_TRUE(r.wrapped);
    EXPECT_EQ(r.position, 100);
    EXPECT_FALSE(m.FindNext({0x01, 0x02}).found);
    EXPECT_EQ(m.SelLow(), 100); // a failed search leaves the selection
    // A match across the caret is found on the wrap.
    m.GoTo(2001);
    r = m.FindNext(needle);
    EXPECT_EQ(r.position, 4000);
    EXPECT_EQ(m.FindNext(needle).position, 100);
    EXPECT_EQ(m.FindNext(needle).position, 2000);
}

TEST(FindPattern, HexBytesOrText)
{
    std::vector<std::uint8_t> p;
    std::string error;
    ASSERT_TRUE(ParseFindPattern("12 ab,3F 0x7f", true, p, error)) << error;
    EXPECT_EQ(p, (std::vector<std::uint8_t>{0x12, 0xAB, 0x3F, 0x7F}));
    ASSERT_TRUE(ParseFindPattern("DEADBEEF", true, p, error));
    EXPECT_EQ(p, (std::vector<std::uint8_t>{0xDE, 0xAD, 0xBE, 0xEF}));
    ASSERT_TRUE(ParseFindPattern("1 2", true, p, error));
    EXPECT_EQ(p, (std::vector<std::uint8_t>{0x01, 0x02}));
    EXPECT_FALSE(ParseFindPattern("12 G4", true, p, error));
    EXPECT_NE(error.find("'G'"), std::string::npos) << error;
    EXPECT_FALSE(ParseFindPattern("123", true, p, error));
    EXPECT_FALSE(ParseFindPattern("  ", true, p, error));
    EXPECT_FALSE(ParseFindPattern("", false, p, error));
    ASSERT_TRUE(ParseFindPattern("Boot v1", false, p, error));
    EXPECT_EQ(std::string(p.begin(), p.end()), "Boot v1");
    ASSERT_TRUE(ParseFindPattern("\xC3\xA9", false, p, error)); // é: one Latin-1 byte, as typed
    EXPECT_EQ(p, (std::vector<std::uint8_t>{0xE9}));
}

} // namespace
