// SPDX-License-Identifier: MIT
// CHexEditModel: keyboard, mouse, wheel and clipboard rules of the hex editor.
#include "hexedit/hexeditmodel.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

// Only '0'-'9' and lower-case 'a'-'f' are typed digits; -1 for anything else.
int TypedDigit(unsigned ch)
{
    if (ch >= '0' && ch <= '9')
        return static_cast<int>(ch - '0');
    if (ch >= 'a' && ch <= 'f')
        return static_cast<int>(ch - 'a' + 10);
    return -1;
}

// The code point of the UTF-8 sequence at text[i], advancing i; -1 for a malformed sequence
// (overlong forms, surrogates and values beyond U+10FFFF included).
long DecodeUtf8(const std::string& text, std::size_t& i)
{
    const auto b0 = static_cast<unsigned char>(text[i]);
    int n = 0;
    long cp = 0;
    long min = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        n = 1, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 2, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 3, cp = b0 & 0x07, min = 0x10000;
    } else {
        return -1;
    }
    if (text.size() - i - 1 < static_cast<std::size_t>(n))
        return -1;
    for (int k = 1; k <= n; ++k) {
        const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80)
            return -1;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return -1;
    i += static_cast<std::size_t>(n) + 1;
    return cp;
}

} // namespace

std::string TextClipboardBytes(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const long cp = DecodeUtf8(text, i);
        if (cp < 0)
            return text;
        out.push_back(cp <= 0xFF ? static_cast<char>(cp) : '?');
    }
    return out;
}

void CHexEditModel::OnKeyDown(Key key, bool shift, bool ctrl)
{
    if (!m_pData)
        return;
    const bool savedKeyboardScroll = m_bKeyboardScroll;
    m_bKeyboardScroll = true;

    if (key == Key::Tab) {
        m_nCaretColumn = (m_nCaretColumn == COL_ADDRESS || m_nCaretColumn == COL_ASCII) ? COL_HEX_HIGH : COL_ASCII;
        MoveCaret(0, 0);
    } else if (key == Key::Insert) {
        const int count = HasSelection() ? std::max(SelHigh() - SelLow(), 1) : 1;
        InsertZeros(m_nCaret, count);
        Redraw();
    } else if (key == Key::Delete) {
        if (HasSelection())
            OnEditClear();
        else if (m_nLength > 0)
            DeleteRange(m_nCaret, m_nCaret + 1);
        Redraw();
    } else {
        // Movement keys: Shift extends the selection, anything else collapses it first.
        if (shift) {
            if (!HasSelection())
                m_nSelStart = m_nSelEnd = m_nCaret; // the end follows below
        } else {
            SetSelection(-1, -1);
        }
        const int bpr = m_nBytesPerRow;
        bool endPlusOne = false;
        switch (key) {
        case Key::Down:
            MoveCaret(0, 1);
            endPlusOne = true;
            break;
        case Key::Up:
            MoveCaret(0, -1);
            break;
        case Key::Right:
            MoveCaret(1, 0);
            endPlusOne = true;
            break;
        case Key::Left:
            MoveCaret(-1, 0);
            break;
        case Key::PageDown:
        case Key::PageUp:
            // Paging carries the caret along with the view.
            m_bKeyboardScroll = false;
            OnVScroll(key == Key::PageDown ? SB_PAGEDOWN : SB_PAGEUP);
            MoveCaret(0, 0);
            break;
        case Key::Home:
            if (ctrl) {
                ScrollToRow(0);
                m_nCaret = 0;
            } else {
                m_nCaret = (m_nCaret / bpr) * bpr;
            }
            MoveCaret(0, 0);
            break;
        case Key::End:
            if (ctrl) {
                m_nCaret = std::max(m_nLength - 1, 0);
                ScrollToRow(m_bPartialLastRow ? 0 : (m_nLength + bpr / 2) / bpr - m_nRowsPerPage);
            } else {
                m_nCaret = std::min((m_nCaret / bpr + 1) * bpr - 1, std::max(m_nLength - 1, 0));
            }
            MoveCaret(0, 0);
            break;
        default:
            break;
        }
        if (shift) {
            // Capped at the length: on empty data the end must not pass the last byte.
            m_nSelEnd = std::min(m_nCaret + (endPlusOne && InHexColumn() ? 1 : 0), m_nLength);
            Redraw();
        }
    }
    m_bKeyboardScroll = savedKeyboardScroll;
}

void CHexEditModel::OnChar(unsigned ch, bool ctrl)
{
    if (!m_pData || ch == 9)
        return;
    if (ctrl) {
        switch (ch) {
        case 3:
            if (HasSelection())
                OnEditCopy();
            return;
        case 22:
            OnEditPaste();
            return;
        case 24:
            if (HasSelection())
                OnEditCut();
            return;
        case 26:
            OnEditUndo();
            return;
        default:
            break;
        }
    }
    if (ch == 8) {
        if (m_nCaret > 0) {
            m_nCaret -= 1;
            if (!DeleteRange(m_nCaret, m_nCaret + 1)) {
                m_nCaret += 1;
                return;
            }
            PlaceCaret(m_nCaret);
            Redraw();
        }
        return;
    }
    SetSelection(-1, -1);
    if (m_nLength == 0 || m_nCaretColumn == COL_ADDRESS)
        return;
    std::uint8_t& byte = m_pData[static_cast<std::size_t>(m_nCaret)];
    if (m_nCaretColumn == COL_ASCII) {
        byte = static_cast<std::uint8_t>(ch & 0xFF);
        Edited(m_nCaret + 1);
        MoveCaret(1, 0);
        Redraw();
        return;
    }
    const int v = TypedDigit(ch);
    if (v >= 0) {
        if (m_nCaretColumn == COL_HEX_HIGH)
            byte = static_cast<std::uint8_t>(v * 16 + byte % 16);
        else
            byte = static_cast<std::uint8_t>((byte & 0xF0) + v);
        Edited(m_nCaret + 1);
        MoveCaret(1, 0);
    }
    Redraw();
}

void CHexEditModel::OnSetFocus()
{
    if (m_pData && !HasSelection())
        RecreateCaret();
}

void CHexEditModel::OnKillFocus()
{
    DestroyCaret();
}

bool CHexEditModel::OnMouseWheel(int delta)
{
    if (!m_pData)
        return false;
    const int oldTop = m_nTopIndex;
    if (delta > 0 && m_nTopIndex > 0) {
        m_nTopIndex -= m_nBytesPerRow;
        Redraw();
    } else if (delta < 0 && m_nTopIndex < m_nLength - m_nRowsPerPage * m_nBytesPerRow) {
        m_nTopIndex += m_nBytesPerRow;
        Redraw();
    }
    FollowScroll(oldTop);
    return true;
}

bool CHexEditModel::HitTest(int x, int y)
{
    if (m_nLineHeight <= 0 || m_nCharWidth <= 0)
        return false;
    const int bpr = m_nBytesPerRow;
    const int row = y / m_nLineHeight;
    if (row < 0 || row > m_nRowsPerPage)
        return false;
    const int cell = x / m_nCharWidth;
    const int rowStart = m_nTopIndex + row * bpr;
    int column = -1;
    int byte = -1;
    int k = 0;
    if (m_bShowAddress && cell < AddressDigits()) {
        column = COL_ADDRESS;
        byte = rowStart;
    } else if (m_bShowHex && (k = cell - m_nHexLeft / m_nCharWidth) >= 0 && k < 3 * bpr - 1) {
        // The blank after a pair belongs to the next byte's high digit.
        column = (k % 3 == 1) ? COL_HEX_LOW : COL_HEX_HIGH;
        byte = rowStart + k / 3 + (k % 3 == 2 ? 1 : 0);
    } else if (m_bShowAscii && (k = cell - m_nAsciiLeft / m_nCharWidth) >= 0 && k < bpr) {
        column = COL_ASCII;
        byte = rowStart + k;
    }
    // Gaps between columns and cells past the last byte are not hits: the caret stays on a byte.
    if (column < 0 || byte < 0 || byte >= m_nLength)
        return false;
    m_nCaret = byte;
    m_nCaretColumn = column;
    return true;
}

bool CHexEditModel::OnLButtonDown(bool shift, int x, int y)
{
    if (!m_pData)
        return false;
    const int before = m_nCaret;
    if (HitTest(x, y)) {
        // The anchor is only set on a hit, so a missed Shift-click never leaves half a selection.
        if (shift)
            m_nSelStart = before;
        if (m_nCaretColumn == COL_ADDRESS)
            CreateAddressCaret();
        else
            CreateCellCaret();
        CaretCellPos(m_nCaret, m_nCaretX, m_nCaretY);
        SetCaretPos(m_nCaretX, m_nCaretY);
        if (shift) {
            m_nSelEnd = m_nCaret + (InHexColumn() ? 1 : 0);
            Redraw();
        }
    }
    if (!shift)
        return true;
    if (!HasSelection())
        ShowCaret();
    return false;
}

void CHexEditModel::OnDragDecided(bool dragged)
{
    if (!m_pData)
        return;
    if (dragged) {
        m_nSelStart = m_nSelEnd = m_nCaret;
    } else if (HasSelection()) {
        m_nSelStart = m_nSelEnd = -1;
        Redraw();
    }
    if (!HasSelection())
        ShowCaret();
}

void CHexEditModel::OnMouseMove(bool leftHeld, int x, int y)
{
    if (!m_pData || !leftHeld || !HasSelection())
        return;
    if (y < 0) {
        OnVScroll(SB_LINEUP);
        y = 0;
    } else if (y > m_nClientHeight) {
        OnVScroll(SB_LINEDOWN);
        y = m_nClientHeight - 1;
    }
    const int oldEnd = m_nSelEnd;
    if (HitTest(x, y))
        m_nSelEnd = m_nCaret + (InHexColumn() ? 1 : 0);
    DestroyCaret();
    if (m_nSelEnd != oldEnd)
        Redraw();
}

bool CHexEditModel::MakeCopyForms(std::vector<std::uint8_t>& raw, std::string& text) const
{
    if (!m_pData || !HasSelection())
        return false;
    const int lo = SelLow();
    const int hi = SelHigh();
    const auto n = static_cast<std::size_t>(hi - lo);
    const std::uint8_t* p = m_pData.get() + lo;
    try {
        raw.assign(p, p + n);
        text.clear();
        if (m_nCaretColumn == COL_ASCII) {
            text.reserve(n);
            for (std::size_t i = 0; i < n; ++i)
                text.push_back(p[i] >= 0x20 && p[i] <= 0x7E ? static_cast<char>(p[i]) : '.');
        } else {
            text.reserve(3 * n);
            for (std::size_t i = 0; i < n; ++i) {
                text.push_back(kHexDigits[p[i] >> 4]);
                text.push_back(kHexDigits[p[i] & 0x0F]);
                text.push_back(' ');
            }
        }
    } catch (const std::bad_alloc&) {
        raw.clear();
        text.clear();
        return false;
    }
    return true;
}

bool CHexEditModel::OnEditCopy()
{
    if (!m_pClipboard)
        return false;
    std::vector<std::uint8_t> raw;
    std::string text;
    if (!MakeCopyForms(raw, text))
        return false;
    m_pClipboard->Write(raw, text);
    return true;
}

void CHexEditModel::OnEditCut()
{
    // Without a copy on the clipboard the bytes would be lost: a failed copy cuts nothing.
    if (!OnEditCopy())
        return;
    DeleteRange(SelLow(), SelHigh());
    Redraw();
}

void CHexEditModel::OnEditClear()
{
    if (!m_pData || !HasSelection())
        return;
    const int lo = SelLow();
    const int hi = SelHigh();
    m_nCaret = lo;
    DeleteRange(lo, hi);
    ClampCaret();
    PlaceCaret(m_nCaret);
    Redraw();
}

void CHexEditModel::OnEditSelectAll()
{
    if (!m_pData)
        return;
    m_nSelStart = 0;
    m_nSelEnd = m_nLength;
    DestroyCaret();
    Redraw();
}

bool CHexEditModel::ReplaceRange(int lo, int hi, const std::uint8_t* src, std::size_t n)
{
    const long long newLength = static_cast<long long>(m_nLength) - (hi - lo) + static_cast<long long>(n);
    auto p = Allocate(newLength, false);
    if (!p)
        return false;
    std::memcpy(p.get(), m_pData.get(), static_cast<std::size_t>(lo));
    if (n > 0)
        std::memcpy(p.get() + lo, src, n);
    std::memcpy(p.get() + lo + n, m_pData.get() + hi, static_cast<std::size_t>(m_nLength - hi));
    const bool moved = newLength != m_nLength;
    m_pData = std::move(p);
    m_nLength = static_cast<int>(newLength);
    m_bLayoutDirty = true;
    Edited(moved ? m_nLength : lo + static_cast<int>(n));
    return true;
}

void CHexEditModel::OnEditPaste()
{
    if (!m_pData || !m_pClipboard)
        return;
    const IHexClipboard::Offers offers = m_pClipboard->Inspect();
    if (!offers.readable)
        return;
    std::vector<std::uint8_t> block;
    try {
        if (offers.binary) {
            block = m_pClipboard->ReadBinary();
        } else if (offers.text) {
            // Text goes in as the bytes its characters type, then its terminating NUL; digits
            // are not interpreted.
            const std::string t = m_pClipboard->ReadText();
            block.assign(t.begin(), t.end());
            block.push_back(0);
        } else {
            return;
        }
    } catch (const std::bad_alloc&) {
        return;
    }
    const int remembered = m_nCaret;
    if (m_nSelStart > m_nSelEnd)
        std::swap(m_nSelStart, m_nSelEnd);
    int lo = 0;
    int hi = 0;
    if (HasSelection()) {
        lo = m_nSelStart;
        hi = m_nSelEnd;
    } else {
        lo = hi = std::min(m_nCaret + (m_nCaretColumn == COL_HEX_LOW ? 1 : 0), m_nLength);
    }
    // One allocation for the whole replacement: when memory runs out nothing is lost.
    if (!ReplaceRange(lo, hi, block.data(), block.size()))
        return;
    m_nCaret = remembered;
    ClampCaret();
    SetSelection(-1, -1);
    Redraw();
}

CHexEditModel::MenuState CHexEditModel::ContextMenuState() const
{
    MenuState s;
    const bool sel = HasSelection();
    s.undo = false;
    s.cut = s.copy = s.clear = sel;
    s.paste = true;
    if (m_pClipboard) {
        const IHexClipboard::Offers offers = m_pClipboard->Inspect();
        if (offers.readable && !offers.binary && !offers.text)
            s.paste = false;
    }
    s.selectAll = true;
    return s;
}
