// CHexEdit: Qt events in, CHexEditModel rules, whole-view painting and the block caret out.
#include "hexedit/hexedit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

const char kBinaryFormat[] = "BinaryData";
const char kHexDigits[] = "0123456789ABCDEF";

// COLORREF values of the three columns, as RGB.
const QColor kAddressColor(0, 0, 255);
const QColor kHexColor(0, 0, 0);
const QColor kAsciiColor(128, 0, 0);

std::optional<CHexEditModel::Key> KeyOf(int qtKey)
{
    using K = CHexEditModel::Key;
    switch (qtKey) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab: // Shift+Tab arrives as Backtab
        return K::Tab;
    case Qt::Key_Down: return K::Down;
    case Qt::Key_Up: return K::Up;
    case Qt::Key_Right: return K::Right;
    case Qt::Key_Left: return K::Left;
    case Qt::Key_PageDown: return K::PageDown;
    case Qt::Key_PageUp: return K::PageUp;
    case Qt::Key_Home: return K::Home;
    case Qt::Key_End: return K::End;
    case Qt::Key_Insert: return K::Insert;
    case Qt::Key_Delete: return K::Delete;
    default: return std::nullopt;
    }
}

// The character code a key produces, as the character rules expect it; -1 for none.
int CharOf(const QKeyEvent* e)
{
    const bool ctrl = e->modifiers() & Qt::ControlModifier;
    switch (e->key()) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    default: break;
    }
    if (ctrl && e->key() >= Qt::Key_A && e->key() <= Qt::Key_Z)
        return e->key() - Qt::Key_A + 1;
    const QString text = e->text();
    if (text.isEmpty())
        return -1;
    // Characters beyond Latin-1 have no byte of their own; they are not typed.
    const char16_t c = text.at(0).unicode();
    return c <= 0xFF ? static_cast<int>(c) : -1;
}

} // namespace

// The system clipboard with "BinaryData" for the raw form and text/plain for the text form.
class CHexEdit::Clipboard : public IHexClipboard {
public:
    Offers Inspect() override
    {
        const QMimeData* md = QGuiApplication::clipboard()->mimeData();
        if (!md)
            return {};
        return {true, md->hasFormat(kBinaryFormat), md->hasText()};
    }
    void Write(const std::vector<std::uint8_t>& raw, const std::string& text) override
    {
        auto* md = new QMimeData;
        md->setData(kBinaryFormat, QByteArray(reinterpret_cast<const char*>(raw.data()), static_cast<qsizetype>(raw.size())));
        md->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
        QGuiApplication::clipboard()->setMimeData(md); // the clipboard owns it
    }
    std::vector<std::uint8_t> ReadBinary() override
    {
        const QMimeData* md = QGuiApplication::clipboard()->mimeData();
        if (!md)
            return {};
        const QByteArray b = md->data(kBinaryFormat);
        return {b.begin(), b.end()};
    }
    std::string ReadText() override
    {
        const QMimeData* md = QGuiApplication::clipboard()->mimeData();
        if (!md)
            return {};
        return md->text().toStdString();
    }
};

// Glyphs of one colour, drawn with a single call.
struct CHexEdit::GlyphBatch {
    QList<quint32> glyphs;
    QList<QPointF> positions;
};

CHexEdit::CHexEdit(QWidget* parent)
    : QAbstractScrollArea(parent), m_clipboard(std::make_unique<Clipboard>()), m_model(this)
{
    m_model.SetClipboard(m_clipboard.get());

    m_font = QFont(QStringLiteral("Courier New"));
    m_font.setPixelSize(12);
    m_font.setStyleHint(QFont::Monospace);
    m_font.setFixedPitch(true);
    setFont(m_font);
    const QFontMetrics fm(m_font);
    m_model.SetFontMetrics(fm.horizontalAdvance(QLatin1Char('0')), fm.height());
    m_ascent = fm.ascent();

    // Cells sit on a fixed grid, so glyphs are placed by index rather than shaped per paint.
    m_rawFont = QRawFont::fromFont(m_font);
    QString printable;
    for (int c = 0x20; c < 0x7F; ++c)
        printable.append(QChar(c));
    const QList<quint32> indexes = m_rawFont.glyphIndexesForString(printable);
    for (int c = 0x20; c < 0x7F && c - 0x20 < indexes.size(); ++c)
        m_glyphs[static_cast<std::size_t>(c)] = indexes[c - 0x20];

    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent); // painting covers everything: no erase
    viewport()->setCursor(Qt::IBeamCursor);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Always there, so the rows counted at layout never lose height to a bar that appears later.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &CHexEdit::OnVerticalAction);
    connect(horizontalScrollBar(), &QScrollBar::actionTriggered, this, &CHexEdit::OnHorizontalAction);
    ScrollBarsChanged();
    SyncClientSize();
}

CHexEdit::~CHexEdit()
{
    m_model.SetView(nullptr);
}

bool CHexEdit::SetData(const std::uint8_t* data, int length)
{
    SyncClientSize();
    return m_model.SetData(data, length);
}

int CHexEdit::GetData(std::uint8_t* dest, int maximum) const
{
    return m_model.GetData(dest, maximum);
}

void CHexEdit::SetOptions(bool showAddress, bool showHex, bool showAscii, bool wideAddress)
{
    m_model.SetOptions(showAddress, showHex, showAscii, wideAddress);
}

void CHexEdit::Redraw()
{
    viewport()->update();
}

void CHexEdit::CaretChanged()
{
    viewport()->update();
}

void CHexEdit::ScrollBarsChanged()
{
    m_syncingBars = true;
    const auto& v = m_model.VScroll();
    QScrollBar* vb = verticalScrollBar();
    vb->setRange(0, std::max(v.max - v.page + 1, 0));
    vb->setPageStep(std::max(v.page, 1));
    vb->setSingleStep(1);
    vb->setValue(v.pos);
    const auto& h = m_model.HScroll();
    QScrollBar* hb = horizontalScrollBar();
    hb->setRange(0, std::max(h.max - h.page + 1, 0));
    hb->setPageStep(std::max(h.page, 1));
    hb->setValue(h.pos);
    m_syncingBars = false;
}

void CHexEdit::OnVerticalAction(int action)
{
    if (m_syncingBars)
        return;
    QScrollBar* vb = verticalScrollBar();
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: m_model.OnVScroll(CHexEditModel::SB_LINEUP); break;
    case QAbstractSlider::SliderSingleStepAdd: m_model.OnVScroll(CHexEditModel::SB_LINEDOWN); break;
    case QAbstractSlider::SliderPageStepSub: m_model.OnVScroll(CHexEditModel::SB_PAGEUP); break;
    case QAbstractSlider::SliderPageStepAdd: m_model.OnVScroll(CHexEditModel::SB_PAGEDOWN); break;
    case QAbstractSlider::SliderMove: m_model.OnVScroll(CHexEditModel::SB_THUMBTRACK, vb->sliderPosition()); break;
    case QAbstractSlider::SliderToMinimum: m_model.OnVScroll(CHexEditModel::SB_TOP); break;
    case QAbstractSlider::SliderToMaximum: m_model.OnVScroll(CHexEditModel::SB_BOTTOM); break;
    default: break;
    }
    // The bar shows where the model put the view, not where the action alone would go.
    vb->setSliderPosition(m_model.VScroll().pos);
}

void CHexEdit::OnHorizontalAction(int)
{
    // Horizontal scrolling is ignored: the bar never moves the view.
    horizontalScrollBar()->setSliderPosition(m_model.HScroll().pos);
}

void CHexEdit::scrollContentsBy(int, int)
{
    // The model decides what the view shows; the viewport is never shifted.
}

void CHexEdit::SyncClientSize()
{
    m_model.SetClientSize(viewport()->width(), viewport()->height());
}

QRect CHexEdit::CellRect(int cell, int row) const
{
    const int cw = m_model.CharWidth();
    const int lh = m_model.LineHeight();
    return {cell * cw, row * lh, cw, lh};
}

// --- painting ---

void CHexEdit::AddText(GlyphBatch& batch, const char* text, int count, int x, int y) const
{
    const int cw = m_model.CharWidth();
    for (int i = 0; i < count; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c <= 0x20 || c >= 0x7F)
            continue; // blanks are background
        batch.glyphs.append(m_glyphs[c]);
        batch.positions.append(QPointF(x + i * cw, y + m_ascent));
    }
}

void CHexEdit::DrawBatch(QPainter& p, const GlyphBatch& batch, const QColor& color) const
{
    if (batch.glyphs.isEmpty())
        return;
    QGlyphRun run;
    run.setRawFont(m_rawFont);
    run.setGlyphIndexes(batch.glyphs);
    run.setPositions(batch.positions);
    p.setPen(color);
    p.drawGlyphRun(QPointF(0, 0), run);
}

void CHexEdit::PaintColumnPlain(QPainter& p, bool hex)
{
    const CHexEditModel& m = m_model;
    const int bpr = m.BytesPerRow();
    const int lh = m.LineHeight();
    const int bottom = m.PaintBottom();
    const std::uint8_t* d = m.Data();
    char row[3 * 256];
    GlyphBatch batch;
    for (int i = m.TopIndex(), y = 0; i < m.Length() && y < bottom; i += bpr, y += lh) {
        const int n = std::min(bpr, m.Length() - i);
        if (hex) {
            for (int k = 0; k < n; ++k) {
                row[3 * k] = kHexDigits[d[i + k] >> 4];
                row[3 * k + 1] = kHexDigits[d[i + k] & 0x0F];
                row[3 * k + 2] = ' ';
            }
            AddText(batch, row, 3 * n, m.HexLeft(), y);
        } else {
            for (int k = 0; k < n; ++k)
                row[k] = (d[i + k] >= 0x20 && d[i + k] <= 0x7E) ? static_cast<char>(d[i + k]) : '.';
            AddText(batch, row, n, m.AsciiLeft(), y);
        }
    }
    DrawBatch(p, batch, hex ? kHexColor : kAsciiColor);
}

void CHexEdit::PaintColumnHighlighted(QPainter& p, bool hex)
{
    const CHexEditModel& m = m_model;
    const QPalette& pal = palette();
    const QColor text = pal.color(QPalette::Active, QPalette::Text);
    const QColor base = pal.color(QPalette::Active, QPalette::Base);
    const QColor hiText = pal.color(QPalette::Active, QPalette::HighlightedText);
    const QColor hiBase = pal.color(QPalette::Active, QPalette::Highlight);
    const int bpr = m.BytesPerRow();
    const int lh = m.LineHeight();
    const int cw = m.CharWidth();
    const int cells = hex ? 3 : 1;
    const int left = hex ? m.HexLeft() : m.AsciiLeft();
    const int bottom = m.PaintBottom();
    const int lo = m.SelLow();
    const int hi = m.SelHigh();
    const std::uint8_t* d = m.Data();
    GlyphBatch plain;
    GlyphBatch lit;
    for (int i = m.TopIndex(), y = 0; i < m.Length() && y < bottom; i += bpr, y += lh) {
        const int end = std::min(i + bpr, m.Length());
        for (int b = i; b < end; ++b) {
            const int x = left + (b - i) * cells * cw;
            const bool selected = b >= lo && b < hi;
            p.fillRect(QRect(x, y, cells * cw, lh), selected ? hiBase : base);
            char cell[3];
            if (hex) {
                cell[0] = kHexDigits[d[b] >> 4];
                cell[1] = kHexDigits[d[b] & 0x0F];
                cell[2] = ' ';
            } else {
                cell[0] = (d[b] >= 0x20 && d[b] <= 0x7E) ? static_cast<char>(d[b]) : '.';
            }
            AddText(selected ? lit : plain, cell, cells, x, y);
        }
    }
    DrawBatch(p, plain, text);
    DrawBatch(p, lit, hiText);
}

void CHexEdit::paintEvent(QPaintEvent*)
{
    SyncClientSize();
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), Qt::white);
    if (!m_model.HasData())
        return;
    m_model.EnsureLayout();
    const CHexEditModel& m = m_model;
    const int bpr = m.BytesPerRow();
    const int lh = m.LineHeight();
    const int bottom = m.PaintBottom();

    if (m.ShowAddress()) {
        GlyphBatch batch;
        char buf[16];
        for (int i = m.TopIndex(), y = 0; i < m.Length() && y < bottom; i += bpr, y += lh) {
            // Narrow addresses draw the first four characters of "%04lX".
            std::snprintf(buf, sizeof buf, m.WideAddress() ? "%08lX" : "%04lX", static_cast<unsigned long>(i));
            AddText(batch, buf, m.WideAddress() ? 8 : 4, m.AddressLeft(), y);
        }
        DrawBatch(p, batch, kAddressColor);
    }
    const int lit = m.HighlightColumn();
    if (m.ShowHex()) {
        if (lit == CHexEditModel::COL_HEX_HIGH)
            PaintColumnHighlighted(p, true);
        else
            PaintColumnPlain(p, true);
    }
    if (m.ShowAscii()) {
        if (lit == CHexEditModel::COL_ASCII)
            PaintColumnHighlighted(p, false);
        else
            PaintColumnPlain(p, false);
    }

    const auto& caret = m.GetCaretState();
    if (caret.exists && caret.visible) {
        // A solid block that inverts what lies under it, so the digit stays readable.
        p.setCompositionMode(QPainter::CompositionMode_Difference);
        p.fillRect(QRect(caret.x, caret.y, caret.width, caret.height), Qt::white);
    }
}

void CHexEdit::resizeEvent(QResizeEvent* e)
{
    // A size change does not make the layout dirty; painting always fills the new height.
    QAbstractScrollArea::resizeEvent(e);
    SyncClientSize();
}

// --- keyboard ---

bool CHexEdit::event(QEvent* e)
{
    // The editor wants its own keys before any shortcut of the window claims them.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (!(k->modifiers() & Qt::AltModifier) && (KeyOf(k->key()) || CharOf(k) >= 0)) {
            e->accept();
            return true;
        }
    }
    return QAbstractScrollArea::event(e);
}

bool CHexEdit::focusNextPrevChild(bool)
{
    return false; // Tab stays in the editor
}

void CHexEdit::keyPressEvent(QKeyEvent* e)
{
    const Qt::KeyboardModifiers mods = e->modifiers();
    if (mods & Qt::AltModifier) {
        e->ignore(); // Alt combinations belong to the window's menus
        return;
    }
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    // One Qt key event stands for the key-down and, when the key makes one, the character.
    if (const auto key = KeyOf(e->key())) {
        m_model.OnKeyDown(*key, shift, ctrl);
    } else {
        const int ch = CharOf(e);
        if (ch >= 0)
            m_model.OnChar(static_cast<unsigned>(ch), ctrl);
    }
    e->accept();
}

// --- mouse ---

void CHexEdit::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    SyncClientSize();
    const QPoint pos = e->position().toPoint();
    m_dragPending = m_model.OnLButtonDown(e->modifiers() & Qt::ShiftModifier, pos.x(), pos.y());
    m_pressPos = pos;
}

void CHexEdit::mouseMoveEvent(QMouseEvent* e)
{
    if (!(e->buttons() & Qt::LeftButton))
        return;
    const QPoint pos = e->position().toPoint();
    if (m_dragPending) {
        if ((pos - m_pressPos).manhattanLength() < QApplication::startDragDistance())
            return;
        m_dragPending = false;
        m_model.OnDragDecided(true);
    }
    m_model.OnMouseMove(true, pos.x(), pos.y());
}

void CHexEdit::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    if (m_dragPending) {
        m_dragPending = false;
        m_model.OnDragDecided(false);
    }
}

void CHexEdit::mouseDoubleClickEvent(QMouseEvent*)
{
    // A double click does nothing (not even a second press).
}

void CHexEdit::wheelEvent(QWheelEvent* e)
{
    const int delta = e->angleDelta().y();
    if (delta == 0 || !m_model.OnMouseWheel(delta))
        e->ignore();
    else
        e->accept();
}

void CHexEdit::focusInEvent(QFocusEvent* e)
{
    m_model.OnSetFocus();
    QAbstractScrollArea::focusInEvent(e);
}

void CHexEdit::focusOutEvent(QFocusEvent* e)
{
    m_model.OnKillFocus();
    QAbstractScrollArea::focusOutEvent(e);
}

// --- clipboard and context menu ---

void CHexEdit::OnEditCopy() { m_model.OnEditCopy(); }
void CHexEdit::OnEditCut() { m_model.OnEditCut(); }
void CHexEdit::OnEditPaste() { m_model.OnEditPaste(); }
void CHexEdit::OnEditClear() { m_model.OnEditClear(); }
void CHexEdit::OnEditSelectAll() { m_model.OnEditSelectAll(); }
void CHexEdit::OnEditUndo() { m_model.OnEditUndo(); }

std::unique_ptr<QMenu> CHexEdit::CreateContextMenu()
{
    const CHexEditModel::MenuState s = m_model.ContextMenuState();
    auto menu = std::make_unique<QMenu>(this);
    auto add = [&](const QString& text, Command id, bool enabled, void (CHexEdit::*handler)()) {
        QAction* a = menu->addAction(text);
        a->setData(static_cast<int>(id));
        a->setEnabled(enabled);
        connect(a, &QAction::triggered, this, handler);
    };
    add(QStringLiteral("&Undo"), ID_EDIT_UNDO, s.undo, &CHexEdit::OnEditUndo);
    menu->addSeparator();
    add(QStringLiteral("Cu&t"), ID_EDIT_CUT, s.cut, &CHexEdit::OnEditCut);
    add(QStringLiteral("&Copy"), ID_EDIT_COPY, s.copy, &CHexEdit::OnEditCopy);
    add(QStringLiteral("&Paste"), ID_EDIT_PASTE, s.paste, &CHexEdit::OnEditPaste);
    add(QStringLiteral("&Delete"), ID_EDIT_CLEAR, s.clear, &CHexEdit::OnEditClear);
    menu->addSeparator();
    add(QStringLiteral("Select &All"), ID_EDIT_SELECT_ALL, s.selectAll, &CHexEdit::OnEditSelectAll);
    return menu;
}

void CHexEdit::contextMenuEvent(QContextMenuEvent* e)
{
    // From the keyboard: just inside the top-left corner of the view.
    const QPoint at = e->reason() == QContextMenuEvent::Keyboard ? viewport()->mapToGlobal(QPoint(5, 5))
                                                                  : e->globalPos();
    std::unique_ptr<QMenu> menu = CreateContextMenu();
    menu->exec(at);
    e->accept();
}
