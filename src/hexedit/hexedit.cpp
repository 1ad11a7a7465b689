// SPDX-License-Identifier: MIT
// CHexEdit: Qt events in, CHexEditModel rules, whole-view painting and the block caret out.
#include "hexedit/hexedit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <optional>

namespace {

const char kBinaryFormat[] = "BinaryData";
const char kHexDigits[] = "0123456789ABCDEF";
// Cells of a strip: blank (0x20) to '~'.
constexpr int kStripChars = 0x7F - 0x20;

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
    const int key = e->key();
    if (e->modifiers() & Qt::ControlModifier) {
        // With Ctrl only the control codes are characters; Ctrl+digit and the like type
        // nothing, or an unclaimed shortcut would overwrite a byte.
        if (key >= Qt::Key_A && key <= Qt::Key_Z)
            return key - Qt::Key_A + 1;
        switch (key) {
        case Qt::Key_BracketLeft:
        case Qt::Key_Escape: return 27;
        case Qt::Key_Backslash: return 28;
        case Qt::Key_BracketRight: return 29;
        case Qt::Key_Backspace: return 127;
        case Qt::Key_Return:
        case Qt::Key_Enter: return 10;
        case Qt::Key_Space: return ' ';
        default: return -1;
        }
    }
    switch (key) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Escape: return 27;
    default: break;
    }
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
        // The raw form keeps text that is not UTF-8 whole; decoding it first would turn
        // every such byte into a replacement character.
        QByteArray raw = md->data(QStringLiteral("text/plain"));
        if (raw.isEmpty())
            raw = md->text().toUtf8();
        return TextClipboardBytes(std::string(raw.constData(), static_cast<std::size_t>(raw.size())));
    }
};

CHexEdit::CHexEdit(QWidget* parent)
    : QAbstractScrollArea(parent), m_clipboard(std::make_unique<Clipboard>()), m_model(this)
{
    m_model.SetClipboard(m_clipboard.get());

    m_font = QFont(QStringLiteral("Courier New"));
    m_font.setPixelSize(12);
    m_font.setStyleHint(QFont::Monospace);
    m_font.setFixedPitch(true);
    const QFontMetrics fm(m_font);
    m_model.SetFontMetrics(fm.horizontalAdvance(QLatin1Char('0')), fm.height());
    m_ascent = fm.ascent();

    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent); // painting covers everything: no erase
    viewport()->setCursor(Qt::IBeamCursor);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Always there, so the rows counted at layout never lose height to a bar that appears later.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &CHexEdit::OnVerticalAction);
    // The bar would scroll several rows per wheel step on its own.
    verticalScrollBar()->installEventFilter(this);
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
    // A shown editor lays out now, as a synchronous repaint would; a hidden one waits for
    // its first paint, when its real size is known.
    if (viewport()->isVisible()) {
        SyncClientSize();
        m_model.EnsureLayout();
    }
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

int CHexEdit::FullRowWidth() const
{
    const int cw = QFontMetrics(m_font).horizontalAdvance(QLatin1Char('0'));
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    return m_model.RowCells() * cw + bar + 2 * frameWidth();
}

// --- painting ---
//
// The view is composed in a frame image from pre-rendered character cells (one strip per
// colour pair), then drawn in one go: per paint that costs a copy per visible cell, whatever
// the size of the data, and much less than blending every glyph anew.

const QImage& CHexEdit::Strip(const QColor& fg, const QColor& bg)
{
    for (const CellStrip& s : m_strips)
        if (s.fg == fg.rgb() && s.bg == bg.rgb())
            return s.image;
    const int cw = m_model.CharWidth();
    const int lh = m_model.LineHeight();
    QImage img(kStripChars * cw, lh, QImage::Format_RGB32);
    img.fill(bg);
    QPainter p(&img);
    p.setFont(m_font);
    p.setPen(fg);
    for (int c = 0x21; c < 0x7F; ++c) {
        const QRect cell((c - 0x20) * cw, 0, cw, lh);
        p.setClipRect(cell);
        p.drawText(cell.left(), m_ascent, QString(QChar(c)));
    }
    p.end();
    m_strips.push_back(CellStrip{fg.rgb(), bg.rgb(), img});
    return m_strips.back().image;
}

void CHexEdit::BlitText(const QImage& strip, const char* text, int count, int x, int y)
{
    const int cw = m_model.CharWidth();
    const int rows = std::min(m_model.LineHeight(), m_frame.height() - y);
    if (rows <= 0 || y < 0)
        return;
    // Raw rows: QImage's per-line accessors cost more than the copies themselves.
    const qsizetype dstStride = m_frame.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    const qsizetype srcStride = strip.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    QRgb* dstRow = reinterpret_cast<QRgb*>(m_frameBits) + y * dstStride;
    const QRgb* srcBase = reinterpret_cast<const QRgb*>(strip.constBits());
    for (int i = 0; i < count; ++i, x += cw) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c <= 0x20 || c >= 0x7F || x < 0)
            continue; // blanks are the background already there
        const int w = std::min(cw, m_frame.width() - x);
        if (w <= 0)
            return;
        const QRgb* src = srcBase + (c - 0x20) * cw;
        QRgb* dst = dstRow + x;
        for (int r = 0; r < rows; ++r, src += srcStride, dst += dstStride)
            std::copy_n(src, w, dst);
    }
}

void CHexEdit::FillFrame(const QRect& r, const QColor& color)
{
    const QRect c = r.intersected(m_frame.rect());
    const QRgb v = color.rgb();
    const qsizetype stride = m_frame.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
    QRgb* line = reinterpret_cast<QRgb*>(m_frameBits) + c.top() * stride;
    for (int y = c.top(); y <= c.bottom(); ++y, line += stride)
        std::fill(line + c.left(), line + c.right() + 1, v);
}

void CHexEdit::PaintColumnPlain(bool hex)
{
    const CHexEditModel& m = m_model;
    const int bpr = m.BytesPerRow();
    const int lh = m.LineHeight();
    const int bottom = m.PaintBottom();
    const std::uint8_t* d = m.Data();
    const QImage& strip = Strip(hex ? kHexColor : kAsciiColor, Qt::white);
    char row[3 * 256];
    for (int i = m.TopIndex(), y = 0; i < m.Length() && y < bottom; i += bpr, y += lh) {
        const int n = std::min(bpr, m.Length() - i);
        if (hex) {
            for (int k = 0; k < n; ++k) {
                row[3 * k] = kHexDigits[d[i + k] >> 4];
                row[3 * k + 1] = kHexDigits[d[i + k] & 0x0F];
                row[3 * k + 2] = ' ';
            }
            BlitText(strip, row, 3 * n, m.HexLeft(), y);
        } else {
            for (int k = 0; k < n; ++k)
                row[k] = (d[i + k] >= 0x20 && d[i + k] <= 0x7E) ? static_cast<char>(d[i + k]) : '.';
            BlitText(strip, row, n, m.AsciiLeft(), y);
        }
    }
}

void CHexEdit::PaintColumnHighlighted(bool hex)
{
    const CHexEditModel& m = m_model;
    const QPalette& pal = palette();
    const QColor base = pal.color(QPalette::Active, QPalette::Base);
    const QColor hiBase = pal.color(QPalette::Active, QPalette::Highlight);
    const QImage& plain = Strip(pal.color(QPalette::Active, QPalette::Text), base);
    const QImage& lit = Strip(pal.color(QPalette::Active, QPalette::HighlightedText), hiBase);
    const int bpr = m.BytesPerRow();
    const int lh = m.LineHeight();
    const int cw = m.CharWidth();
    const int cells = hex ? 3 : 1;
    const int left = hex ? m.HexLeft() : m.AsciiLeft();
    const int bottom = m.PaintBottom();
    const int lo = m.SelLow();
    const int hi = m.SelHigh();
    const std::uint8_t* d = m.Data();
    for (int i = m.TopIndex(), y = 0; i < m.Length() && y < bottom; i += bpr, y += lh) {
        const int end = std::min(i + bpr, m.Length());
        for (int b = i; b < end; ++b) {
            const int x = left + (b - i) * cells * cw;
            const bool selected = b >= lo && b < hi;
            FillFrame(QRect(x, y, cells * cw, lh), selected ? hiBase : base);
            char cell[3];
            if (hex) {
                cell[0] = kHexDigits[d[b] >> 4];
                cell[1] = kHexDigits[d[b] & 0x0F];
                cell[2] = ' ';
            } else {
                cell[0] = (d[b] >= 0x20 && d[b] <= 0x7E) ? static_cast<char>(d[b]) : '.';
            }
            BlitText(selected ? lit : plain, cell, cells, x, y);
        }
    }
}

void CHexEdit::paintEvent(QPaintEvent*)
{
    SyncClientSize();
    const QSize size = viewport()->size();
    QPainter p(viewport());
    // With a raster backing store the view is composed right in its pixels, which saves a
    // full-size copy per paint; any other device gets the frame image drawn onto it.
    const QRect direct = DirectTarget(p, size);
    if (direct.isValid()) {
        // The painter already holds the device's buffer; read-only access cannot detach it
        // from under the painter.
        const auto* device = static_cast<const QImage*>(p.paintEngine()->paintDevice());
        auto* pixels = const_cast<uchar*>(device->constScanLine(direct.top())) + direct.left() * 4;
        m_frame = QImage(pixels, size.width(), size.height(), device->bytesPerLine(), QImage::Format_RGB32);
    } else if (m_frame.size() != size) {
        m_frame = QImage(size, QImage::Format_RGB32);
    }
    m_frame.fill(Qt::white);
    m_frameBits = m_frame.bits();
    if (m_model.HasData()) {
        m_model.EnsureLayout();
        PaintFrame();
    }
    if (direct.isValid())
        m_frame = QImage(); // never keep a view of the device's memory
    else
        p.drawImage(0, 0, m_frame);
}

QRect CHexEdit::DirectTarget(const QPainter& p, const QSize& size) const
{
    const QPaintEngine* engine = p.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster)
        return {};
    const QPaintDevice* pd = engine->paintDevice();
    if (!pd || pd->devType() != QInternal::Image)
        return {};
    const auto* img = static_cast<const QImage*>(pd);
    if ((img->format() != QImage::Format_RGB32 && img->format() != QImage::Format_ARGB32_Premultiplied) ||
        img->devicePixelRatio() != 1.0)
        return {};
    const QTransform t = p.deviceTransform();
    if (t.type() > QTransform::TxTranslate)
        return {};
    const QRect target(QPoint(qRound(t.dx()), qRound(t.dy())), size);
    if (!img->rect().contains(target))
        return {};
    return target;
}

void CHexEdit::PaintFrame()
{
    const CHexEditModel& m = m_model;
    const int bpr = m.BytesPerRow();
    const int lh = m.LineHeight();
    const int bottom = m.PaintBottom();

    if (m.ShowAddress()) {
        const QImage& strip = Strip(kAddressColor, Qt::white);
        char buf[16];
        for (int i = m.TopIndex(), y = 0; i < m.Length() && y < bottom; i += bpr, y += lh) {
            // Narrow addresses draw the first four characters of "%04lX".
            std::snprintf(buf, sizeof buf, m.WideAddress() ? "%08lX" : "%04lX", static_cast<unsigned long>(i));
            BlitText(strip, buf, m.WideAddress() ? 8 : 4, m.AddressLeft(), y);
        }
    }
    const int lit = m.HighlightColumn();
    if (m.ShowHex()) {
        if (lit == CHexEditModel::COL_HEX_HIGH)
            PaintColumnHighlighted(true);
        else
            PaintColumnPlain(true);
    }
    if (m.ShowAscii()) {
        if (lit == CHexEditModel::COL_ASCII)
            PaintColumnHighlighted(false);
        else
            PaintColumnPlain(false);
    }

    const auto& caret = m.GetCaretState();
    if (caret.exists && caret.visible) {
        // A solid block that inverts what lies under it, so the digit stays readable.
        const QRect r = QRect(caret.x, caret.y, caret.width, caret.height).intersected(m_frame.rect());
        const qsizetype stride = m_frame.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb));
        QRgb* line = reinterpret_cast<QRgb*>(m_frameBits) + r.top() * stride;
        for (int y = r.top(); y <= r.bottom(); ++y, line += stride)
            for (int x = r.left(); x <= r.right(); ++x)
                line[x] ^= 0x00FFFFFF;
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
    // The editor's own keys come before the window's shortcuts: its key table, plain
    // characters and the four clipboard codes. Other Ctrl combinations stay the window's
    // (Ctrl+O opens a file even here) and reach the character rules only when unclaimed.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* k = static_cast<QKeyEvent*>(e);
        const Qt::KeyboardModifiers mods = k->modifiers();
        const bool ctrl = mods & Qt::ControlModifier;
        const int key = k->key();
        const bool clipboardKey = key == Qt::Key_C || key == Qt::Key_V || key == Qt::Key_X || key == Qt::Key_Z;
        if (!(mods & Qt::AltModifier) && (KeyOf(key) || (ctrl ? clipboardKey : CharOf(k) >= 0))) {
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
    // Shift+F10 is the other key for the context menu; Qt only knows the Menu key.
    if (e->key() == Qt::Key_F10 && (mods & ~Qt::KeypadModifier) == Qt::ShiftModifier) {
        e->accept();
        KeyboardContextMenu();
        return;
    }
    // One Qt key event stands for the key-down and, when the key makes one, the character.
    const unsigned before = m_model.EditCount();
    if (const auto key = KeyOf(e->key())) {
        m_model.OnKeyDown(*key, shift, ctrl);
    } else {
        const int ch = CharOf(e);
        if (ch >= 0)
            m_model.OnChar(static_cast<unsigned>(ch), ctrl);
    }
    e->accept();
    NotifyEdits(before);
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

bool CHexEdit::Wheel(QWheelEvent* e)
{
    const int delta = e->angleDelta().y();
    if (delta == 0 || !m_model.OnMouseWheel(delta)) {
        e->ignore();
        return false;
    }
    e->accept();
    return true;
}

void CHexEdit::wheelEvent(QWheelEvent* e)
{
    Wheel(e);
}

bool CHexEdit::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == verticalScrollBar() && e->type() == QEvent::Wheel && Wheel(static_cast<QWheelEvent*>(e)))
        return true;
    return QAbstractScrollArea::eventFilter(watched, e);
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

void CHexEdit::NotifyEdits(unsigned before)
{
    if (m_model.EditCount() != before)
        emit edited();
}

void CHexEdit::FillRange(int start, int end, std::uint8_t value)
{
    const unsigned before = m_model.EditCount();
    m_model.FillRange(start, end, value);
    NotifyEdits(before);
}

CHexEditModel::FindResult CHexEdit::FindNext(const std::vector<std::uint8_t>& pattern)
{
    SyncClientSize();
    return m_model.FindNext(pattern);
}

void CHexEdit::GoTo(int n)
{
    SyncClientSize();
    m_model.GoTo(n);
}

void CHexEdit::OnEditCopy() { m_model.OnEditCopy(); }
void CHexEdit::OnEditCut()
{
    const unsigned before = m_model.EditCount();
    m_model.OnEditCut();
    NotifyEdits(before);
}
void CHexEdit::OnEditPaste()
{
    const unsigned before = m_model.EditCount();
    m_model.OnEditPaste();
    NotifyEdits(before);
}
void CHexEdit::OnEditClear()
{
    const unsigned before = m_model.EditCount();
    m_model.OnEditClear();
    NotifyEdits(before);
}
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

void CHexEdit::KeyboardContextMenu()
{
    CreateContextMenu()->exec(viewport()->mapToGlobal(QPoint(5, 5)));
}

void CHexEdit::contextMenuEvent(QContextMenuEvent* e)
{
    e->accept();
    if (e->reason() == QContextMenuEvent::Keyboard) {
        KeyboardContextMenu();
        return;
    }
    CreateContextMenu()->exec(e->globalPos());
}
