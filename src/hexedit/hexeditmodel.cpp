// SPDX-License-Identifier: MIT
// CHexEditModel: data, editing primitives, layout and caret placement of the hex editor.
#include "hexedit/hexeditmodel.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Floor division: a caret above the top row must land on a negative row, not on row 0.
int FloorDiv(int a, int b)
{
    int q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

} // namespace

CHexEditModel::CHexEditModel(IHexEditView* view) : m_pView(view) {}

std::unique_ptr<std::uint8_t[]> CHexEditModel::Allocate(long long n, bool zero) const
{
    if (n < 0 || n > m_nMaxLength)
        return nullptr;
    // new[] of 0 bytes still gives a distinct pointer, so empty data stays "data present".
    std::unique_ptr<std::uint8_t[]> p(zero ? new (std::nothrow) std::uint8_t[static_cast<std::size_t>(n)]()
                                           : new (std::nothrow) std::uint8_t[static_cast<std::size_t>(n)]);
    return p;
}

void CHexEditModel::Redraw()
{
    if (m_pView)
        m_pView->Redraw();
}

void CHexEditModel::CaretChanged()
{
    if (m_pView)
        m_pView->CaretChanged();
}

bool CHexEditModel::SetData(const std::uint8_t* data, int length)
{
    if (length < 0 || (length > 0 && !data))
        return false;
    auto p = Allocate(length, false);
    if (!p)
        return false;
    if (length > 0)
        std::memcpy(p.get(), data, static_cast<std::size_t>(length));
    m_pData = std::move(p);
    m_nLength = length;
    m_nCaret = 0;
    m_nCaretX = m_nCaretY = 0;
    m_nCaretColumn = COL_HEX_HIGH;
    m_nTopIndex = 0;
    m_nEditedEnd = 0;
    m_bLayoutDirty = true;
    SetSelection(-1, -1);
    return true;
}

int CHexEditModel::GetData(std::uint8_t* dest, int maximum) const
{
    const int n = std::min(std::max(maximum, 0), m_nLength);
    if (n > 0 && dest)
        std::memcpy(dest, m_pData.get(), static_cast<std::size_t>(n));
    return m_nLength;
}

void CHexEditModel::SetOptions(bool showAddress, bool showHex, bool showAscii, bool wideAddress)
{
    m_bShowAddress = showAddress;
    m_bShowHex = showHex;
    m_bShowAscii = showAscii;
    m_bWideAddress = wideAddress;
    m_bLayoutDirty = true;
}

bool CHexEditModel::DeleteRange(int start, int end)
{
    if (!m_pData || start < 0 || start > end || end > m_nLength)
        return false;
    const int newLength = m_nLength - (end - start);
    auto p = Allocate(newLength, false);
    if (!p)
        return false;
    if (start > 0)
        std::memcpy(p.get(), m_pData.get(), static_cast<std::size_t>(start));
    if (end < m_nLength)
        std::memcpy(p.get() + start, m_pData.get() + end, static_cast<std::size_t>(m_nLength - end));
    m_pData = std::move(p);
    m_nLength = newLength;
    m_bLayoutDirty = true;
    Edited(newLength);
    SetSelection(-1, -1);
    if (m_nCaret >= m_nLength) {
        m_nCaret = m_nLength > 0 ? m_nLength - 1 : 0;
        PlaceCaret(m_nCaret);
    }
    return true;
}

bool CHexEditModel::InsertZeros(int position, int count)
{
    if (!m_pData || position < 0 || position > m_nLength || count < 0)
        return false;
    auto p = Allocate(static_cast<long long>(m_nLength) + count, true);
    if (!p)
        return false;
    if (position > 0)
        std::memcpy(p.get(), m_pData.get(), static_cast<std::size_t>(position));
    if (position < m_nLength)
        std::memcpy(p.get() + position + count, m_pData.get() + position,
                    static_cast<std::size_t>(m_nLength - position));
    m_pData = std::move(p);
    m_nLength += count;
    m_bLayoutDirty = true;
    Edited(m_nLength);
    SetSelection(-1, -1);
    return true;
}

void CHexEditModel::SetSelection(int start, int end)
{
    // Both ends -1, or both inside the data: anything else would let a paint or a copy
    // reach past the buffer.
    if (start < 0 || end < 0 || start > m_nLength || end > m_nLength)
        start = end = -1;
    DestroyCaret();
    m_nSelStart = start;
    m_nSelEnd = end;
    Redraw();
    RecreateCaret();
}

void CHexEditModel::RecreateCaret()
{
    if (m_nCaretX == 0 && m_bShowAddress)
        CreateAddressCaret();
    else
        CreateCellCaret();
    SetCaretPos(m_nCaretX, m_nCaretY);
    ShowCaret();
}

bool CHexEditModel::InClientRect(int x, int y) const
{
    // The partly visible row under the last whole row counts: a click puts the caret there,
    // and typing then must show where it goes even though that row's bytes are not painted.
    return x >= 0 && y >= 0 && x < m_nClientWidth && y < m_nClientHeight;
}

void CHexEditModel::CaretCellPos(int n, int& x, int& y) const
{
    const int bpr = m_nBytesPerRow;
    const int row = FloorDiv(n - m_nTopIndex, bpr);
    const int k = (n - m_nTopIndex) - row * bpr;
    switch (m_nCaretColumn) {
    case COL_ADDRESS:
        x = 0;
        break;
    case COL_ASCII:
        x = m_nAsciiLeft + k * m_nCharWidth;
        break;
    case COL_HEX_HIGH:
        x = m_nHexLeft + 3 * k * m_nCharWidth;
        break;
    default:
        x = m_nHexLeft + (3 * k + 1) * m_nCharWidth;
        break;
    }
    y = row * m_nLineHeight;
}

void CHexEditModel::PlaceCaret(int n)
{
    if (m_nCaretColumn == COL_ADDRESS)
        CreateAddressCaret();
    else
        CreateCellCaret();
    int x = 0;
    int y = 0;
    CaretCellPos(n, x, y);
    m_nCaretX = x;
    m_nCaretY = y;
    if (InClientRect(x, y)) {
        SetCaretPos(x, y);
        ShowCaret();
    }
}

void CHexEditModel::DestroyCaret()
{
    if (!m_caret.exists)
        return;
    m_caret = CaretState{};
    CaretChanged();
}

void CHexEditModel::CreateAddressCaret()
{
    m_caret = CaretState{true, false, m_caret.x, m_caret.y, (m_bWideAddress ? 8 : 4) * m_nCharWidth,
                         m_nLineHeight};
    CaretChanged();
}

void CHexEditModel::CreateCellCaret()
{
    m_caret = CaretState{true, false, m_caret.x, m_caret.y, m_nCharWidth, m_nLineHeight};
    CaretChanged();
}

void CHexEditModel::SetCaretPos(int x, int y)
{
    m_caret.x = x;
    m_caret.y = y;
    CaretChanged();
}

void CHexEditModel::ShowCaret()
{
    // Outside the client area the caret would not be seen; the state says so.
    if (!m_caret.exists || m_caret.visible || !InClientRect(m_caret.x, m_caret.y))
        return;
    m_caret.visible = true;
    CaretChanged();
}

void CHexEditModel::SetFontMetrics(int charWidth, int lineHeight)
{
    m_nFontCharWidth = std::max(charWidth, 1);
    m_nFontLineHeight = std::max(lineHeight, 1);
    m_bLayoutDirty = true;
}

void CHexEditModel::SetClientSize(int width, int height)
{
    m_nClientWidth = std::max(width, 0);
    m_nClientHeight = std::max(height, 0);
}

void CHexEditModel::EnsureLayout()
{
    if (m_bLayoutDirty && m_pData)
        Layout();
}

int CHexEditModel::AddressDigits() const
{
    return m_bShowAddress ? (m_bWideAddress ? 8 : 4) : 0;
}

int CHexEditModel::DataRows() const
{
    return m_nLength / m_nBytesPerRow + (m_nLength % m_nBytesPerRow != 0 ? 1 : 0);
}

int CHexEditModel::RowCells() const
{
    const int base = m_bShowAddress ? (m_bWideAddress ? 12 : 5) : 0;
    if (m_bShowAscii)
        return base + (m_bShowHex ? (m_nBytesPerRow + 1) * 3 : 0) + m_nBytesPerRow;
    if (m_bShowHex)
        return base + 3 * m_nBytesPerRow - 1; // the last blank shows nothing
    return AddressDigits();
}

int CHexEditModel::PaintBottom() const
{
    const int lh = std::max(m_nLineHeight, 1);
    return (m_nClientHeight / lh) * lh;
}

int CHexEditModel::HighlightColumn() const
{
    if (!HasSelection())
        return -1;
    if (m_nCaretColumn == COL_ASCII)
        return m_bShowAscii ? COL_ASCII : -1;
    if (m_nCaretColumn == COL_HEX_HIGH || m_nCaretColumn == COL_HEX_LOW)
        return m_bShowHex ? COL_HEX_HIGH : -1;
    return -1;
}

void CHexEditModel::Layout()
{
    m_nCharWidth = m_nFontCharWidth;
    m_nLineHeight = m_nFontLineHeight;
    const int base = m_bShowAddress ? (m_bWideAddress ? 12 : 5) * m_nCharWidth : 0;
    m_nHexLeft = base;
    m_nAsciiLeft = base + (m_bShowHex ? (m_nBytesPerRow + 1) * 3 * m_nCharWidth : 0);

    m_bPartialLastRow = false;
    m_nRowsPerPage = m_nClientHeight / m_nLineHeight;
    if (static_cast<long long>(m_nRowsPerPage) * m_nBytesPerRow > m_nLength) {
        m_nRowsPerPage = DataRows();
        m_bPartialLastRow = m_nLength % m_nBytesPerRow != 0;
    }
    m_bLayoutDirty = false;
    UpdateScrollBars();
}

void CHexEditModel::UpdateScrollBars()
{
    m_vScroll = ScrollBarState{0, DataRows() - 1, m_nRowsPerPage, m_nTopIndex / m_nBytesPerRow};
    m_hScroll = ScrollBarState{
        0, (AddressDigits() + (m_bShowHex ? 3 * m_nBytesPerRow : 0) + (m_bShowAscii ? m_nBytesPerRow : 0)) * m_nCharWidth,
        1, 0};
    if (m_pView)
        m_pView->ScrollBarsChanged();
}

void CHexEditModel::MoveCaret(int dx, int dy)
{
    const int bpr = m_nBytesPerRow;
    switch (m_nCaretColumn) {
    case COL_ADDRESS:
        return;
    case COL_ASCII:
        m_nCaret += dx + dy * bpr;
        break;
    case COL_HEX_HIGH:
        if (dx != 0)
            m_nCaretColumn = COL_HEX_LOW;
        if (dx == -1)
            m_nCaret -= 1;
        m_nCaret += dy * bpr;
        break;
    default:
        if (dx != 0)
            m_nCaretColumn = COL_HEX_HIGH;
        if (dx == 1)
            m_nCaret += 1;
        m_nCaret += dy * bpr;
        break;
    }
    if (m_nCaret < 0)
        m_nCaret = 0;
    if (m_nCaret >= m_nLength)
        m_nCaret -= dy * bpr + dx;
    // Taking the step back can still leave the caret outside (an Up clamped to 0 on tiny
    // data, or empty data): keep it on a byte.
    ClampCaret();
    if (m_bKeyboardScroll) {
        if (m_nCaret < m_nTopIndex)
            OnVScroll(SB_LINEUP);
        else if (m_nCaret >= m_nTopIndex + m_nRowsPerPage * bpr)
            OnVScroll(SB_LINEDOWN);
        m_bKeyboardScroll = false;
    }
    PlaceCaret(m_nCaret);
}

void CHexEditModel::ClampCaret()
{
    if (m_nCaret >= m_nLength)
        m_nCaret = m_nLength - 1;
    if (m_nCaret < 0)
        m_nCaret = 0;
}

void CHexEditModel::SetScrollPos()
{
    m_vScroll.pos = m_nTopIndex / m_nBytesPerRow;
    if (m_pView)
        m_pView->ScrollBarsChanged();
}

void CHexEditModel::OnVScroll(int code, int trackPos)
{
    if (!m_pData)
        return;
    const int bpr = m_nBytesPerRow;
    const int page = m_nRowsPerPage * bpr;
    const int oldTop = m_nTopIndex;
    int top = oldTop;
    switch (code) {
    case SB_LINEUP:
        if (top > 0)
            top -= bpr;
        break;
    case SB_LINEDOWN:
        if (top < m_nLength - page)
            top += bpr;
        break;
    case SB_PAGEUP:
        if (top > 0)
            top = std::max(top - page, 0);
        break;
    case SB_PAGEDOWN:
        if (top < m_nLength - page)
            top = std::min(top + page, (DataRows() - m_nRowsPerPage) * bpr);
        break;
    case SB_THUMBTRACK:
        // The bar only reports positions inside its range; anything else is not a row of the data.
        if (trackPos < 0 || trackPos > std::max(DataRows() - 1, 0))
            return;
        top = bpr * trackPos;
        break;
    default:
        break;
    }
    if (top != oldTop) {
        m_nTopIndex = top;
        Redraw();
    }
    FollowScroll(oldTop);
}

// After the view moved from oldTop: the scroll bar follows, and so does the caret unless a key
// is scrolling (the key places the caret itself).
void CHexEditModel::FollowScroll(int oldTop)
{
    SetScrollPos();
    if (!m_bKeyboardScroll) {
        m_nCaret += m_nTopIndex - oldTop;
        ClampCaret();
    }
    PlaceCaret(m_nCaret);
}

void CHexEditModel::ScrollToRow(int row)
{
    m_nTopIndex = std::max(row, 0) * m_nBytesPerRow;
    Redraw();
    SetScrollPos();
    PlaceCaret(m_nCaret);
}

void CHexEditModel::Edited(int end)
{
    m_nEditedEnd = std::max(m_nEditedEnd, end);
    ++m_nEditCount;
}

std::uint64_t CHexEditModel::CoveredCount(std::uint64_t count) const
{
    return std::max<std::uint64_t>(count, static_cast<std::uint64_t>(EditedEnd()));
}

void CHexEditModel::FillRange(int start, int end, std::uint8_t value)
{
    start = std::max(start, 0);
    end = std::min(end, m_nLength);
    if (!m_pData || start >= end)
        return;
    std::memset(m_pData.get() + start, value, static_cast<std::size_t>(end - start));
    Edited(end);
    Redraw();
}

void CHexEditModel::ScrollIntoView(int n)
{
    EnsureLayout();
    const int bpr = m_nBytesPerRow;
    const int rows = std::max(m_nRowsPerPage, 1);
    if (n >= m_nTopIndex && n < m_nTopIndex + rows * bpr)
        return;
    // The row lands a third down the view, where the rows around it show too; never past the end.
    const int lastTop = std::max(DataRows() - rows, 0);
    ScrollToRow(std::min(std::max(n / bpr - rows / 3, 0), lastTop));
}

void CHexEditModel::GoTo(int n)
{
    if (!m_pData)
        return;
    m_nCaret = std::min(std::max(n, 0), std::max(m_nLength - 1, 0));
    if (m_nCaretColumn == COL_ADDRESS || m_nCaretColumn == COL_HEX_LOW)
        m_nCaretColumn = COL_HEX_HIGH;
    SetSelection(-1, -1);
    ScrollIntoView(m_nCaret);
    PlaceCaret(m_nCaret);
}

CHexEditModel::FindResult CHexEditModel::FindNext(const std::vector<std::uint8_t>& pattern)
{
    FindResult result;
    const int n = static_cast<int>(pattern.size());
    if (!m_pData || n == 0 || n > m_nLength)
        return result;
    const std::uint8_t* const begin = m_pData.get();
    const std::uint8_t* const end = begin + m_nLength;
    const int from = std::min(HasSelection() ? SelLow() + 1 : m_nCaret, m_nLength);
    const std::uint8_t* hit = std::search(begin + from, end, pattern.begin(), pattern.end());
    if (hit == end) {
        // Once more from the start, as far as a match that begins before `from` can reach.
        const std::uint8_t* const wrapEnd = begin + std::min(from + n - 1, m_nLength);
        hit = std::search(begin, wrapEnd, pattern.begin(), pattern.end());
        if (hit == wrapEnd)
            return result;
        result.wrapped = true;
    }
    result.found = true;
    result.position = static_cast<int>(hit - begin);
    m_nCaret = result.position;
    if (m_nCaretColumn == COL_ADDRESS || m_nCaretColumn == COL_HEX_LOW)
        m_nCaretColumn = COL_HEX_HIGH;
    ScrollIntoView(m_nCaret);
    PlaceCaret(m_nCaret);
    SetSelection(result.position, result.position + n);
    return result;
}

bool ParseFindPattern(const std::string& text, bool hex, std::vector<std::uint8_t>& pattern, std::string& error)
{
    pattern.clear();
    if (!hex) {
        const std::string bytes = TextClipboardBytes(text);
        pattern.assign(bytes.begin(), bytes.end());
    } else {
        auto digit = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        };
        std::size_t i = 0;
        while (i < text.size()) {
            const char c = text[i];
            if (c == ' ' || c == '\t' || c == ',') {
                ++i;
                continue;
            }
            // One token: an optional 0x, then its digits.
            if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X'))
                i += 2;
            std::string digits;
            for (; i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != ','; ++i) {
                if (digit(text[i]) < 0) {
                    error = std::string("'") + text[i] + "' is no hex digit: give bytes as 12 AB 3F, or search for a text.";
                    pattern.clear();
                    return false;
                }
                digits += text[i];
            }
            if (digits.size() == 1) {
                pattern.push_back(static_cast<std::uint8_t>(digit(digits[0])));
                continue;
            }
            if (digits.size() % 2 != 0) {
                error = "\"" + digits + "\" has an odd number of hex digits: give two digits a byte.";
                pattern.clear();
                return false;
            }
            for (std::size_t k = 0; k < digits.size(); k += 2)
                pattern.push_back(static_cast<std::uint8_t>(digit(digits[k]) * 16 + digit(digits[k + 1])));
        }
    }
    if (pattern.empty()) {
        error = "There is nothing to find.";
        return false;
    }
    return true;
}
