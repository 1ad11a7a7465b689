// SPDX-License-Identifier: MIT
// Offscreen tests of the CHexEdit widget: Qt events in, model state, pixels and clipboard out.
#include "hexedit/hexedit.h"
#include "hexedit_invariants.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using M = CHexEditModel;

std::vector<std::uint8_t> Seq(int n)
{
    std::vector<std::uint8_t> v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        v[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return v;
}

struct WidgetTest : ::testing::Test {
    CHexEdit w;

    // Shows the editor with a view of exactly `rows` whole rows plus `extra` pixels.
    void Show(int rows, int extra = 0)
    {
        w.resize(700, 400);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        const int lh = QFontMetrics(w.EditorFont()).height();
        w.resize(700, w.height() + rows * lh + extra - w.viewport()->height());
        QApplication::processEvents();
        ASSERT_EQ(w.viewport()->height(), rows * lh + extra);
    }
    void Load(const std::vector<std::uint8_t>& v)
    {
        ASSERT_TRUE(w.SetData(v.data(), static_cast<int>(v.size())));
        w.Redraw();
    }
    const M& m() const { return w.Model(); }
    std::uint8_t At(int i) const { return m().Data()[i]; }
    std::vector<std::uint8_t> Data() const { return {m().Data(), m().Data() + m().Length()}; }
    QPoint Cell(int cell, int row) const { return w.CellRect(cell, row).center(); }
    void Click(int cell, int row, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::mouseClick(w.viewport(), Qt::LeftButton, mods, Cell(cell, row));
    }
    void Key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(&w, k, mods); }
    QImage Grab() { return w.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    void Wheel(int delta)
    {
        const QPointF pos = Cell(20, 2);
        QWheelEvent e(pos, w.viewport()->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(w.viewport(), &e);
    }
};

// Every pixel of a rectangle has exactly this colour.
::testing::AssertionResult Filled(const QImage& img, const QRect& r, const QColor& c)
{
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (img.pixelColor(x, y) != c)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << "," << y << ") is " << img.pixelColor(x, y).name().toStdString()
                       << ", want " << c.name().toStdString();
    return ::testing::AssertionSuccess();
}

// Ink of one hue in a cell: some pixel well away from white, and every non-white pixel a blend
// of the colour with white (anti-aliasing only moves along that line).
::testing::AssertionResult InkOf(const QImage& img, const QRect& r, const QColor& ink)
{
    bool dark = false;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor p = img.pixelColor(x, y);
            if (p == QColor(Qt::white))
                continue;
            // p = white - a * (white - ink) for one coverage a.
            const double a = (255.0 - p.red() + 255.0 - p.green() + 255.0 - p.blue()) /
                             (255.0 - ink.red() + 255.0 - ink.green() + 255.0 - ink.blue());
            for (int ch = 0; ch < 3; ++ch) {
                const int want = static_cast<int>(255 - a * (255 - (ch == 0 ? ink.red() : ch == 1 ? ink.green() : ink.blue())) + 0.5);
                const int got = ch == 0 ? p.red() : ch == 1 ? p.green() : p.blue();
                if (std::abs(want - got) > 3)
                    return ::testing::AssertionFailure() << "pixel (" << x << "," << y << ") " << p.name().toStdString()
                                                         << " is not ink " << ink.name().toStdString();
            }
            if (a > 0.6)
                dark = true;
        }
    if (!dark)
        return ::testing::AssertionFailure() << "no ink in the cell";
    return ::testing::AssertionSuccess();
}

TEST_F(WidgetTest, UsesAFixedPitchTwelvePixelFont)
{
    EXPECT_TRUE(QFontInfo(w.EditorFont()).fixedPitch());
    EXPECT_EQ(w.EditorFont().pixelSize(), 12);
    Show(30);
    Load(Seq(32));
    const QFontMetrics fm(w.EditorFont());
    EXPECT_EQ(m().CharWidth(), fm.horizontalAdvance(QLatin1Char('0')));
    EXPECT_EQ(m().LineHeight(), fm.height());
}

TEST_F(WidgetTest, TypingThroughKeyEvents)
{
    Show(30);
    Load(Seq(64));
    QTest::keyClicks(&w, "7c");
    EXPECT_EQ(At(0), 0x7C);
    EXPECT_EQ(m().Caret(), 1);
    EXPECT_EQ(m().CaretColumn(), M::COL_HEX_HIGH);
    QTest::keyClick(&w, 'C'); // upper case is no digit
    EXPECT_EQ(At(1), 0x01);
    EXPECT_EQ(m().Caret(), 1);
    QTest::keyClick(&w, Qt::Key_F5); // a key no rule lists
    EXPECT_EQ(m().Caret(), 1);
    EXPECT_EQ(Data().size(), 64u);

    Click(63 + 5, 0);
    ASSERT_EQ(m().CaretColumn(), M::COL_ASCII);
    Key(Qt::Key_Return);
    EXPECT_EQ(At(5), 0x0D);
    EXPECT_EQ(m().Caret(), 6);
    Key(Qt::Key_Escape);
    EXPECT_EQ(At(6), 27);
    Key(Qt::Key_Backspace); // removes the byte before the caret
    EXPECT_EQ(m().Caret(), 6);
    EXPECT_EQ(At(5), 13);
    EXPECT_EQ(At(6), 7);
    EXPECT_EQ(m().Length(), 63);
}

TEST(WidgetFocus, TabTogglesColumnsAndKeepsTheFocus)
{
    QWidget win;
    auto* ed = new CHexEdit(&win);
    auto* other = new QLineEdit(&win);
    ed->setGeometry(0, 0, 600, 300);
    other->setGeometry(0, 310, 100, 20);
    win.resize(600, 340);
    win.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    win.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&win));
    const auto data = Seq(64);
    ed->SetData(data.data(), 64);
    ed->setFocus();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), ed);
    QTest::keyClick(ed, Qt::Key_Tab);
    EXPECT_EQ(ed->Model().CaretColumn(), M::COL_ASCII);
    EXPECT_EQ(QApplication::focusWidget(), ed);
    QTest::keyClick(ed, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(ed->Model().CaretColumn(), M::COL_HEX_HIGH);
    EXPECT_EQ(QApplication::focusWidget(), ed);
}

TEST(WidgetFocus, ClipboardKeysBeatShortcutsOtherCtrlKeysDoNot)
{
    QWidget win;
    auto* ed = new CHexEdit(&win);
    ed->setGeometry(0, 0, 600, 300);
    int opened = 0;
    int windowCopies = 0;
    auto* open = new QShortcut(QKeySequence(QStringLiteral("Ctrl+O")), &win);
    auto* copy = new QShortcut(QKeySequence::Copy, &win);
    QObject::connect(open, &QShortcut::activated, [&] { ++opened; });
    QObject::connect(copy, &QShortcut::activated, [&] { ++windowCopies; });
    win.resize(600, 300);
    win.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
    win.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&win));
    const auto data = Seq(64);
    ed->SetData(data.data(), 64);
    ed->setFocus();
    QApplication::processEvents();
    QTest::keyClick(ed, Qt::Key_Tab); // ASCII column, where a stray control code would be typed
    QTest::keyClick(ed, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(ed->Model().Data()[0], 0);
    QTest::keyClick(ed, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(ed, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(windowCopies, 0);
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("BinaryData"), QByteArray(1, '\0'));
}

TEST(WidgetLayout, DataSetWhileHiddenIsLaidOutAtTheFirstPaint)
{
    CHexEdit w;
    const auto data = Seq(8192);
    w.SetData(data.data(), 8192); // as the page does during its initialisation
    w.Redraw();
    w.resize(700, 500);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QApplication::processEvents();
    EXPECT_EQ(w.Model().RowsPerPage(), w.viewport()->height() / w.Model().LineHeight());
    EXPECT_GT(w.Model().RowsPerPage(), 20);
}

TEST_F(WidgetTest, CtrlEndAndCtrlHomeInThirtyRows)
{
    Show(30);
    Load(Seq(8192));
    EXPECT_EQ(m().RowsPerPage(), 30);
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(m().Caret(), 8191);
    EXPECT_EQ(m().TopIndex(), 7712);
    EXPECT_EQ(w.verticalScrollBar()->value(), 482);
    Key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(m().Caret(), 0);
    EXPECT_EQ(m().TopIndex(), 0);
    EXPECT_EQ(w.verticalScrollBar()->value(), 0);
}

TEST_F(WidgetTest, ClicksHitTheDescribedCells)
{
    Show(30);
    Load(Seq(200));
    Click(63 + 2, 2);
    EXPECT_EQ(m().Caret(), 34);
    EXPECT_EQ(m().CaretColumn(), M::COL_ASCII);
    Click(12 + 3 * 7 + 2, 0); // blank after byte 7's pair
    EXPECT_EQ(m().Caret(), 8);
    EXPECT_EQ(m().CaretColumn(), M::COL_HEX_HIGH);
    Click(12 + 3 * 15 + 2, 0); // blank after the row's last pair: no column
    Click(10, 1);              // between the address and the hex column
    Click(63 + 4, 13);         // past the data
    EXPECT_EQ(m().Caret(), 8);
    EXPECT_EQ(m().CaretColumn(), M::COL_HEX_HIGH);
    // A double click does nothing at all.
    QMouseEvent dbl(QEvent::MouseButtonDblClick, Cell(63, 3), w.viewport()->mapToGlobal(Cell(63, 3)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.viewport(), &dbl);
    EXPECT_EQ(m().Caret(), 8);
}

TEST_F(WidgetTest, ShiftClickSelectsAndInsertAddsThatManyZeros)
{
    Show(30);
    Load(Seq(32));
    Click(12 + 3 * 2, 0);
    Click(12 + 3 * 4, 0, Qt::ShiftModifier);
    ASSERT_EQ(m().SelLow(), 2);
    ASSERT_EQ(m().SelHigh(), 5);
    Key(Qt::Key_Insert);
    EXPECT_EQ(m().Length(), 35);
    EXPECT_EQ(At(7), 4);
    EXPECT_EQ(At(4), 0);
    EXPECT_FALSE(m().HasSelection());
}

TEST_F(WidgetTest, DragSelectsAndScrollsWhenLeavingTheView)
{
    Show(30);
    Load(Seq(8192));
    Key(Qt::Key_PageDown);
    ASSERT_EQ(m().TopIndex(), 480);
    QTest::mousePress(w.viewport(), Qt::LeftButton, Qt::NoModifier, Cell(12 + 3 * 2, 1));
    QTest::mouseMove(w.viewport(), Cell(12 + 3 * 6, 3));
    EXPECT_EQ(m().SelStart(), 498);
    EXPECT_EQ(m().SelEnd(), 480 + 3 * 16 + 6 + 1);
    QTest::mouseMove(w.viewport(), QPoint(Cell(12 + 3 * 6, 0).x(), -4));
    EXPECT_EQ(m().TopIndex(), 464);
    QTest::mouseRelease(w.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(Cell(12, 0).x(), -4));
    EXPECT_TRUE(m().HasSelection());
    EXPECT_TRUE(HexEditInvariantsHold(m()));
    // A click without a drag clears it again.
    Click(12, 2);
    EXPECT_FALSE(m().HasSelection());
    EXPECT_EQ(m().Caret(), 464 + 32);
}

TEST_F(WidgetTest, WheelAndScrollBars)
{
    Show(30);
    Load(Seq(8192));
    Wheel(-240);
    EXPECT_EQ(m().TopIndex(), 16);
    Wheel(-120);
    EXPECT_EQ(m().TopIndex(), 32);
    EXPECT_EQ(m().Caret(), 32);
    EXPECT_EQ(w.verticalScrollBar()->value(), 2);
    w.verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(m().TopIndex(), 32 + 480);
    EXPECT_EQ(w.verticalScrollBar()->value(), 32);
    w.verticalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum); // no change
    EXPECT_EQ(m().TopIndex(), 512);
    w.verticalScrollBar()->setSliderPosition(100); // thumb tracking
    EXPECT_EQ(m().TopIndex(), 1600);
    EXPECT_EQ(w.verticalScrollBar()->maximum(), 512 - 30);
    // Horizontal requests never move the view.
    w.horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(w.horizontalScrollBar()->value(), 0);
    EXPECT_EQ(w.horizontalScrollBar()->maximum(), 72 * m().CharWidth());
    EXPECT_EQ(m().TopIndex(), 1600);
}

TEST_F(WidgetTest, CopyOffersBinaryDataAndTextByCaretColumn)
{
    Show(30);
    Load({0x00, 0x48, 0x69, 0x00, 0xFF, 0x41});
    Click(12 + 3, 0);
    Click(12 + 3 * 4, 0, Qt::ShiftModifier);
    Key(Qt::Key_C, Qt::ControlModifier);
    const QMimeData* md = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(md, nullptr);
    EXPECT_EQ(md->data("BinaryData"), QByteArray("\x48\x69\x00\xFF", 4));
    EXPECT_EQ(md->text(), QStringLiteral("48 69 00 FF "));
    Key(Qt::Key_Tab);
    w.OnEditCopy();
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->text(), QStringLiteral("Hi.."));
    EXPECT_EQ(m().Length(), 6);

    // Cut takes the bytes out; a paste puts them back where they were.
    Key(Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(Data(), (std::vector<std::uint8_t>{0x00, 0x41}));
}

TEST_F(WidgetTest, PastePrefersBinaryDataAndInsertsAfterALowDigit)
{
    Show(30);
    Load(Seq(8192));
    auto* md = new QMimeData;
    md->setData("BinaryData", QByteArray("\xA1\xA2\xA3\xA4", 4));
    md->setText(QStringLiteral("zz"));
    QGuiApplication::clipboard()->setMimeData(md);
    Click(12 + 3 * 10 + 1, 0); // low digit of byte 10
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(m().Length(), 8196);
    EXPECT_EQ(At(11), 0xA1);
    EXPECT_EQ(At(15), 11);
    EXPECT_EQ(m().Caret(), 10);
    std::vector<std::uint8_t> out(8192);
    EXPECT_EQ(w.GetData(out.data(), 8192), 8196);
    EXPECT_EQ(out[14], 0xA4);

    // Text from another program: its bytes and a NUL.
    QGuiApplication::clipboard()->setText(QStringLiteral("AB"));
    Click(12, 0);
    w.OnEditPaste();
    EXPECT_EQ(At(0), 'A');
    EXPECT_EQ(At(1), 'B');
    EXPECT_EQ(At(2), 0);
    EXPECT_EQ(At(3), 0);
    EXPECT_EQ(m().Length(), 8199);
}

// Pasted text inserts the bytes typing its characters into the ASCII column writes, then
// its NUL; copy then paste of bytes no text can hold goes through "BinaryData" unchanged.
TEST_F(WidgetTest, PastedTextInsertsTheBytesItsCharactersType)
{
    Show(30);
    struct SCase {
        const char* name;
        QMimeData* (*make)();
        QByteArray bytes;
    };
    const SCase cases[] = {
        {"latin-1 letter", [] { auto* md = new QMimeData; md->setText(QString::fromUtf8("\xC3\xA9")); return md; },
         QByteArray("\xE9\0", 2)},
        {"above latin-1", [] { auto* md = new QMimeData; md->setText(QString::fromUtf8("\xE2\x82\xAC\xF0\x9F\x98\x80")); return md; },
         QByteArray("??\0", 3)},
        {"raw text bytes", [] { auto* md = new QMimeData; md->setData("text/plain", QByteArray("\xFF\xFE\x80")); return md; },
         QByteArray("\xFF\xFE\x80\0", 4)},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        Load(Seq(32));
        QGuiApplication::clipboard()->setMimeData(c.make());
        Click(12 + 3 * 4, 0); // high digit of byte 4
        w.OnEditPaste();
        ASSERT_EQ(m().Length(), 32 + c.bytes.size());
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(m().Data()) + 4, c.bytes.size()), c.bytes);
        EXPECT_EQ(At(4 + int(c.bytes.size())), 4);
    }

    // Bytes FF FE 80 copied from the ASCII column and pasted back: three bytes, not nine.
    Load({0xFF, 0xFE, 0x80, 0x41});
    Click(63, 0);
    Click(63 + 3, 0, Qt::ShiftModifier);
    ASSERT_EQ(m().SelLow(), 0);
    ASSERT_EQ(m().SelHigh(), 3);
    w.OnEditCopy();
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->text(), QStringLiteral("..."));
    Click(63 + 3, 0);
    w.OnEditPaste();
    EXPECT_EQ(Data(), (std::vector<std::uint8_t>{0xFF, 0xFE, 0x80, 0xFF, 0xFE, 0x80, 0x41}));
}

// A click on the partly visible row under the last whole row shows the caret there, and
// typing changes the byte under it.
TEST_F(WidgetTest, CaretShowsInThePartlyVisibleRow)
{
    Show(10, 5);
    Load(Seq(8192));
    Click(63 + 2, 10);
    EXPECT_EQ(m().Caret(), 162);
    EXPECT_EQ(m().CaretColumn(), M::COL_ASCII);
    ASSERT_TRUE(m().GetCaretState().visible);
    EXPECT_EQ(m().GetCaretState().y, 10 * m().LineHeight());
    // The block is drawn: inverted white, inside the 5 pixels of the row that show.
    const QRect cell = w.CellRect(63 + 2, 10);
    EXPECT_EQ(Grab().pixelColor(cell.left() + 1, cell.top() + 2), QColor(Qt::black));
    QTest::keyClicks(&w, "Z");
    EXPECT_EQ(At(162), 'Z');
}

// The wheel over the vertical bar moves one row per step, as over the view.
TEST_F(WidgetTest, WheelOverTheScrollBarMovesOneRow)
{
    Show(30);
    Load(Seq(8192));
    QScrollBar* bar = w.verticalScrollBar();
    ASSERT_TRUE(bar->isVisible());
    for (int delta : {-120, -240}) {
        const int top = m().TopIndex();
        const QPointF pos(bar->width() / 2.0, bar->height() / 2.0);
        QWheelEvent e(pos, bar->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(bar, &e);
        EXPECT_EQ(m().TopIndex(), top + 16) << delta;
        EXPECT_EQ(bar->value(), m().TopIndex() / 16);
    }
    const QPointF pos(bar->width() / 2.0, bar->height() / 2.0);
    QWheelEvent up(pos, bar->mapToGlobal(pos), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(bar, &up);
    EXPECT_EQ(m().TopIndex(), 16);
}

// Shift+F10 opens the context menu where the Menu key does: just inside the view's corner.
TEST_F(WidgetTest, ShiftF10OpensTheContextMenuAtTheKeyboardPlace)
{
    Show(30);
    Load(Seq(100));
    QPoint at;
    int rows = 0;
    QTimer::singleShot(50, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            at = menu->pos();
            rows = int(menu->actions().size());
            menu->close();
        }
    });
    const std::vector<std::uint8_t> before = Data();
    Key(Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(rows, 8);
    EXPECT_EQ(at, w.viewport()->mapToGlobal(QPoint(5, 5)));
    EXPECT_EQ(Data(), before);
}

TEST_F(WidgetTest, SelectAllDeleteLeavesEmptyDataThatStillPastes)
{
    Show(30);
    Load(Seq(100));
    w.OnEditSelectAll();
    Key(Qt::Key_Delete);
    EXPECT_EQ(m().Length(), 0);
    QTest::keyClicks(&w, "12");
    Key(Qt::Key_Backspace);
    EXPECT_EQ(w.GetData(nullptr, 0), 0);
    auto* md = new QMimeData;
    md->setData("BinaryData", QByteArray("\x01\x02", 2));
    QGuiApplication::clipboard()->setMimeData(md);
    w.OnEditPaste();
    EXPECT_EQ(Data(), (std::vector<std::uint8_t>{1, 2}));
    EXPECT_TRUE(Filled(Grab(), QRect(0, 3 * m().LineHeight(), 300, 20), Qt::white));
}

TEST_F(WidgetTest, ContextMenuGreysRowsWithABitmapOnlyClipboard)
{
    Show(30);
    Load(Seq(100));
    QImage bitmap(4, 4, QImage::Format_RGB32);
    bitmap.fill(Qt::red);
    QGuiApplication::clipboard()->setImage(bitmap);
    ASSERT_FALSE(QGuiApplication::clipboard()->mimeData()->hasText());

    // Right click opens the real menu; a timer reads it and closes it.
    QStringList seen;
    QTimer::singleShot(50, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* a : menu->actions())
                seen << (a->isSeparator() ? QStringLiteral("-") : a->text() + (a->isEnabled() ? "+" : "/"));
            menu->close();
        }
    });
    QContextMenuEvent e(QContextMenuEvent::Mouse, Cell(20, 3), w.viewport()->mapToGlobal(Cell(20, 3)));
    QApplication::sendEvent(w.viewport(), &e);
    EXPECT_EQ(seen, (QStringList{"&Undo/", "-", "Cu&t/", "&Copy/", "&Paste/", "&Delete/", "-", "Select &All+"}));

    // With a selection and text on the clipboard, from the keyboard's menu key.
    w.OnEditSelectAll();
    QGuiApplication::clipboard()->setText(QStringLiteral("x"));
    seen.clear();
    QPoint at;
    QTimer::singleShot(50, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            at = menu->pos();
            for (QAction* a : menu->actions())
                if (!a->isSeparator())
                    seen << a->text() + (a->isEnabled() ? "+" : "/");
            menu->close();
        }
    });
    QContextMenuEvent k(QContextMenuEvent::Keyboard, QPoint(0, 0), w.mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(&w, &k);
    EXPECT_EQ(seen, (QStringList{"&Undo/", "Cu&t+", "&Copy+", "&Paste+", "&Delete+", "Select &All+"}));
    EXPECT_EQ(at, w.viewport()->mapToGlobal(QPoint(5, 5)));

    // The rows run their commands.
    auto menu = w.CreateContextMenu();
    for (QAction* a : menu->actions())
        if (a->data().toInt() == CHexEdit::ID_EDIT_CLEAR)
            a->trigger();
    EXPECT_EQ(m().Length(), 0);
}

TEST_F(WidgetTest, PixelsColumnsColoursAndGaps)
{
    Show(10, 5); // 10 whole rows and a partial one
    std::vector<std::uint8_t> v(400, 0x88);
    Load(v);
    Click(12 + 3 * 15, 9); // caret away from the sampled cells
    const QImage img = Grab();
    const int lh = m().LineHeight();
    const QRect addr0 = w.CellRect(7, 0); // last digit of address 00000000
    EXPECT_TRUE(InkOf(img, addr0, QColor(0, 0, 255)));
    EXPECT_TRUE(InkOf(img, w.CellRect(12, 1), QColor(0, 0, 0)));
    EXPECT_TRUE(InkOf(img, w.CellRect(63, 1), QColor(128, 0, 0)));
    // White gaps: between address and hex, hex and ASCII, right of ASCII, and the partial row.
    const int cw = m().CharWidth();
    EXPECT_TRUE(Filled(img, QRect(8 * cw + 5, 0, 12 * cw - (8 * cw + 5), 10 * lh), Qt::white));
    EXPECT_TRUE(Filled(img, QRect(60 * cw, 0, 3 * cw, 10 * lh), Qt::white));
    EXPECT_TRUE(Filled(img, QRect(79 * cw + 2, 0, 20, 10 * lh), Qt::white));
    EXPECT_TRUE(Filled(img, QRect(0, 10 * lh, 80 * cw, 5), Qt::white));
}

TEST_F(WidgetTest, SelectionFillsOnlyTheCaretColumn)
{
    Show(10);
    Load(Seq(64));
    Click(12 + 3 * 3, 0);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier); // bytes 3 and 4 selected
    ASSERT_EQ(m().SelLow(), 3);
    ASSERT_EQ(m().SelHigh(), 5);
    // Without the caret, so that only the highlight is compared below.
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&w, &out);
    const QColor hi = w.palette().color(QPalette::Active, QPalette::Highlight);
    const QColor base = w.palette().color(QPalette::Active, QPalette::Base);
    QImage img = Grab();
    // The blank after a selected byte is pure highlight; after an unselected one, window colour.
    EXPECT_TRUE(Filled(img, w.CellRect(12 + 3 * 3 + 2, 0), hi));
    EXPECT_TRUE(Filled(img, w.CellRect(12 + 3 * 4 + 2, 0), hi));
    EXPECT_TRUE(Filled(img, w.CellRect(12 + 3 * 5 + 2, 0), base));
    EXPECT_TRUE(Filled(img, w.CellRect(12 + 3 * 2 + 2, 0), base));
    const QImage forward = img.copy(0, 0, 80 * m().CharWidth(), 4 * m().LineHeight());

    // The same bytes selected backwards look the same.
    Click(12 + 3 * 5, 0);
    Key(Qt::Key_Left, Qt::ShiftModifier);
    Key(Qt::Key_Left, Qt::ShiftModifier);
    Key(Qt::Key_Left, Qt::ShiftModifier); // anchor 5, end 3
    ASSERT_EQ(m().SelStart(), 5);
    ASSERT_EQ(m().SelEnd(), 3);
    QApplication::sendEvent(&w, &out);
    EXPECT_EQ(Grab().copy(0, 0, 80 * m().CharWidth(), 4 * m().LineHeight()), forward);

    // In the ASCII column: three ASCII cells lit, no hex cell.
    Click(63 + 3, 0);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    img = Grab();
    auto litPixels = [&](const QRect& r) {
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += img.pixelColor(x, y) == hi;
        return n;
    };
    const int lh = m().LineHeight();
    const int cw = m().CharWidth();
    EXPECT_EQ(litPixels(QRect(0, 0, 62 * cw, 4 * lh)), 0);
    EXPECT_GT(litPixels(w.CellRect(63 + 3, 0)), 0);
    EXPECT_GT(litPixels(w.CellRect(63 + 5, 0)), 0);
    EXPECT_EQ(litPixels(w.CellRect(63 + 6, 0)), 0);

    // Select All with the caret in the address column: nothing lit.
    Click(2, 1);
    w.OnEditSelectAll();
    img = Grab();
    EXPECT_EQ(litPixels(img.rect()), 0);
}

TEST_F(WidgetTest, RowsAddressesAndDots)
{
    Show(30);
    // Each candidate between blanks: glyphs may reach a pixel into the next cell.
    std::vector<std::uint8_t> v = {0x20, 0x00, 0x20, 0x7F, 0x20, 0xE9, 0x20, 0x2E, 0x20, 0x41,
                                   0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x41, 0x41, 0x41, 0x2E};
    Load(v);
    EXPECT_EQ(m().RowsPerPage(), 2);
    EXPECT_TRUE(m().PartialLastRow());
    const QImage img = Grab();
    auto cell = [&](int c, int r) { return img.copy(w.CellRect(c, r)); };
    // 00, 7F and E9 show the same dot as a real '.', unlike 'A'; 20 is blank.
    EXPECT_EQ(cell(63 + 1, 0), cell(63 + 7, 0));
    EXPECT_EQ(cell(63 + 3, 0), cell(63 + 7, 0));
    EXPECT_EQ(cell(63 + 5, 0), cell(63 + 7, 0));
    EXPECT_NE(cell(63 + 9, 0), cell(63 + 7, 0));
    EXPECT_TRUE(Filled(img, w.CellRect(63 + 12, 0), Qt::white));
    // The second row has 4 bytes: hex cells after them and ASCII cells after them are blank.
    EXPECT_TRUE(Filled(img, QRect(w.CellRect(12 + 12, 1).topLeft(), w.CellRect(59, 1).bottomRight()), Qt::white));
    EXPECT_TRUE(Filled(img, QRect(w.CellRect(63 + 4, 1).topLeft(), w.CellRect(79, 1).bottomRight()), Qt::white));

    // After scrolling one row down the top row's address is the old second row's.
    CHexEdit& e = w;
    Load(Seq(8192));
    const QImage before = Grab();
    const QRect addrRow0(0, 0, 12 * m().CharWidth(), m().LineHeight());
    const QRect addrRow1 = addrRow0.translated(0, m().LineHeight());
    EXPECT_NE(before.copy(addrRow0), before.copy(addrRow1));
    e.verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(Grab().copy(addrRow0), before.copy(addrRow1));
}

TEST_F(WidgetTest, CaretIsAnInvertedBlockThatFocusRecreates)
{
    Show(10);
    Load(Seq(64));
    w.setFocus();
    Click(12 + 3 * 2 + 1, 1); // low digit of byte 18
    const QRect c = w.CellRect(12 + 3 * 2 + 1, 1);
    QImage img = Grab();
    EXPECT_EQ(img.pixelColor(c.left(), c.top()), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(c.right(), c.bottom()), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(c.left() - 1, c.top()), QColor(Qt::white));
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(&w, &out);
    EXPECT_FALSE(m().GetCaretState().exists);
    EXPECT_EQ(Grab().pixelColor(c.left(), c.top()), QColor(Qt::white));
    QFocusEvent in(QEvent::FocusIn);
    QApplication::sendEvent(&w, &in);
    EXPECT_EQ(Grab().pixelColor(c.left(), c.top()), QColor(Qt::black));
}

TEST_F(WidgetTest, WindowShowsWhatAGrabShows)
{
    // A real repaint composes the view in the window's backing store; a grab draws it into
    // a pixmap. Both must give the same pixels.
    Show(12, 6);
    Load(Seq(300));
    Click(12 + 3 * 4, 2);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    w.viewport()->repaint();
    const QImage screen = w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(screen.isNull());
    const QRect inWindow(w.viewport()->mapTo(&w, QPoint(0, 0)), w.viewport()->size());
    EXPECT_EQ(screen.copy(inWindow), Grab());
}

TEST_F(WidgetTest, NoDataPaintsWhiteAndIgnoresInput)
{
    Show(10);
    Key(Qt::Key_Insert);
    QTest::keyClicks(&w, "ab");
    Click(20, 1);
    Wheel(-120);
    EXPECT_FALSE(m().HasData());
    EXPECT_TRUE(Filled(Grab(), w.viewport()->rect(), Qt::white));
}

// With Ctrl held a key types only the control code it makes: Ctrl+digit types nothing.
TEST_F(WidgetTest, CtrlKeysTypeOnlyControlCodes)
{
    Show(10);
    Load(Seq(64));
    QTest::keyClick(&w, Qt::Key_5, Qt::ControlModifier);
    QTest::keyClick(&w, '7', Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(At(0), 0x00);
    EXPECT_EQ(m().Caret(), 0);
    QTest::keyClick(&w, Qt::Key_5, Qt::KeypadModifier); // the keypad's digit is one
    EXPECT_EQ(At(0), 0x50);
    Key(Qt::Key_Tab);
    ASSERT_EQ(m().CaretColumn(), M::COL_ASCII);
    ASSERT_EQ(m().Caret(), 0);
    QTest::keyClick(&w, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_BracketLeft, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_Backspace, Qt::ControlModifier); // a character, not Backspace
    QTest::keyClick(&w, Qt::Key_Period, Qt::ControlModifier);  // nothing
    EXPECT_EQ(Data(), ([] {
                  auto v = Seq(64);
                  v[0] = 10;
                  v[1] = 27;
                  v[2] = 6;
                  v[3] = 127;
                  return v;
              }()));
    EXPECT_EQ(m().Caret(), 4);
    EXPECT_EQ(m().Length(), 64);
}

// Random keys, characters, clicks, drags and wheel turns through Qt keep the invariants.
TEST_F(WidgetTest, RandomInputKeepsInvariants)
{
    Show(12, 3);
    std::mt19937 rng(20261208);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Load(Seq(700));
    const Qt::Key keys[] = {Qt::Key_Tab,  Qt::Key_Down,     Qt::Key_Up,     Qt::Key_Right,  Qt::Key_Left,
                            Qt::Key_Home, Qt::Key_End,      Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Insert,
                            Qt::Key_Delete, Qt::Key_Backspace, Qt::Key_Return, Qt::Key_A,   Qt::Key_C,
                            Qt::Key_V,    Qt::Key_X,        Qt::Key_Z,      Qt::Key_5,      Qt::Key_F3};
    const int W = w.viewport()->width();
    const int H = w.viewport()->height();
    for (int step = 0; step < 1500; ++step) {
        switch (pick(0, 5)) {
        case 0:
        case 1: {
            Qt::KeyboardModifiers mods;
            if (pick(0, 3) == 0)
                mods |= Qt::ShiftModifier;
            if (pick(0, 4) == 0)
                mods |= Qt::ControlModifier;
            Key(keys[pick(0, static_cast<int>(std::size(keys)) - 1)], mods);
            break;
        }
        case 2:
            QTest::keyClicks(&w, QString(QChar("09afAFz. "[pick(0, 8)])));
            break;
        case 3:
            QTest::mouseClick(w.viewport(), Qt::LeftButton, pick(0, 2) ? Qt::NoModifier : Qt::ShiftModifier,
                              QPoint(pick(0, W - 1), pick(0, H - 1)));
            break;
        case 4:
            QTest::mousePress(w.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(pick(0, W - 1), pick(0, H - 1)));
            QTest::mouseMove(w.viewport(), QPoint(pick(0, W - 1), pick(-20, H + 20)));
            QTest::mouseMove(w.viewport(), QPoint(pick(0, W - 1), pick(-20, H + 20)));
            QTest::mouseRelease(w.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(pick(0, W - 1), pick(0, H - 1)));
            break;
        default:
            Wheel(pick(0, 1) ? 120 : -120);
            break;
        }
        ASSERT_TRUE(HexEditInvariantsHold(m())) << "step " << step;
        if (m().Length() < 50)
            Load(Seq(pick(50, 700)));
    }
    // Painting the end state reads only what is there (ASan watches this).
    EXPECT_FALSE(Grab().isNull());
}

} // namespace
