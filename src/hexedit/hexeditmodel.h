// SPDX-License-Identifier: MIT
// CHexEditModel: the hex editor's bytes, caret, selection and view rows, with its editing rules, free of any window system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the model asks of the window that shows it. The model keeps the caret and scroll-bar
// state itself; the view only repaints and mirrors that state.
class IHexEditView {
public:
    virtual ~IHexEditView() = default;
    // Repaint the whole view from the model's state. A view that paints at once runs
    // CHexEditModel::EnsureLayout here, as its paint would; a hidden one leaves it to its first paint.
    virtual void Redraw() = 0;
    // The caret was created, destroyed, moved, shown or hidden.
    virtual void CaretChanged() = 0;
    // Range, page or position of a scroll bar changed.
    virtual void ScrollBarsChanged() = 0;
};

// The clipboard as the editor sees it: a raw form ("BinaryData") and a text form.
class IHexClipboard {
public:
    struct Offers {
        bool readable = false; // the clipboard could be inspected at all
        bool binary = false;
        bool text = false;
    };
    virtual ~IHexClipboard() = default;
    virtual Offers Inspect() = 0;
    // Replaces the clipboard's contents with both forms.
    virtual void Write(const std::vector<std::uint8_t>& raw, const std::string& text) = 0;
    virtual std::vector<std::uint8_t> ReadBinary() = 0;
    // The text form's bytes, without a terminator: the bytes typing its characters into the
    // ASCII column would write (see TextClipboardBytes).
    virtual std::string ReadText() = 0;
};

// The bytes of clipboard text as the editor takes them: one byte per character up to U+00FF
// (Latin-1, what typing the character writes) and '?' for any character above, as a
// single-byte text clipboard gives it. text is UTF-8; text that is not valid UTF-8 is taken
// as Latin-1 already, byte for byte, which is what older X clients put on the clipboard.
std::string TextClipboardBytes(const std::string& text);

// The bytes a search looks for: hex digits in pairs (blanks, commas and "0x" between bytes
// allowed; a lone digit between blanks is one byte), or a text taken byte for byte as typing it
// into the ASCII column would write it. False with `error` set for nothing to find or a
// character that is no hex digit.
bool ParseFindPattern(const std::string& text, bool hex, std::vector<std::uint8_t>& pattern, std::string& error);

class CHexEditModel {
public:
    enum Column { COL_ADDRESS = 0, COL_ASCII = 1, COL_HEX_HIGH = 2, COL_HEX_LOW = 3 };
    // Vertical scroll requests, numbered as the scroll bar reports them.
    enum ScrollCode {
        SB_LINEUP = 0,
        SB_LINEDOWN = 1,
        SB_PAGEUP = 2,
        SB_PAGEDOWN = 3,
        SB_THUMBPOSITION = 4,
        SB_THUMBTRACK = 5,
        SB_TOP = 6,
        SB_BOTTOM = 7,
        SB_ENDSCROLL = 8
    };

    // The block caret the view draws: position and size in client pixels.
    struct CaretState {
        bool exists = false;
        bool visible = false;
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };

    // A scroll bar's settings: positions run from min to max - page + 1.
    struct ScrollBarState {
        int min = 0;
        int max = 0;
        int page = 0;
        int pos = 0;
    };

    // Keys the key-down rules know; every other key does nothing.
    enum class Key { Tab, Down, Up, Right, Left, PageDown, PageUp, Home, End, Insert, Delete };

    // Enabled state of the context menu's rows.
    struct MenuState {
        bool undo = false;
        bool cut = false;
        bool copy = false;
        bool paste = false;
        bool clear = false;
        bool selectAll = false;
    };

    explicit CHexEditModel(IHexEditView* view = nullptr);
    CHexEditModel(const CHexEditModel&) = delete;
    CHexEditModel& operator=(const CHexEditModel&) = delete;

    void SetView(IHexEditView* view) { m_pView = view; }
    void SetClipboard(IHexClipboard* clipboard) { m_pClipboard = clipboard; }

    // --- interface of the buffer page ---
    // Copy of length bytes from data; length 0 gives empty data. Returns false (old data kept)
    // when the copy cannot be allocated or the arguments are invalid.
    bool SetData(const std::uint8_t* data, int length);
    // Copies min(maximum, length) bytes to dest and returns the full current length.
    int GetData(std::uint8_t* dest, int maximum) const;
    void SetOptions(bool showAddress, bool showHex, bool showAscii, bool wideAddress);

    // --- what changed ---
    // One past the highest byte an edit changed since the last SetData, at most the length; 0
    // for none. Typing, Delete, Insert, paste, cut and FillRange count; an insertion or deletion
    // moves every byte after it, so it counts up to the end of the data.
    int EditedEnd() const { return m_nEditedEnd < m_nLength ? m_nEditedEnd : m_nLength; }
    // Goes up with every edit: a view compares it before and after an event.
    unsigned EditCount() const { return m_nEditCount; }
    // The count of bytes a download takes back: `count`, grown to cover every edited byte.
    std::uint64_t CoveredCount(std::uint64_t count) const;
    // Bytes start..end-1, as far as the data reaches, become value.
    void FillRange(int start, int end, std::uint8_t value);

    // --- search ---
    struct FindResult {
        bool found = false;
        bool wrapped = false;  // found only by starting again at the first byte
        int position = -1;
    };
    // Looks for pattern from the caret on (from just after the start of a selection, so that
    // the next search goes past the match it selected), then once from the first byte. A match
    // is selected with the caret on its first byte and scrolled into view.
    FindResult FindNext(const std::vector<std::uint8_t>& pattern);
    // Puts the caret on byte n (kept in the data), with no selection, and scrolls it into view.
    void GoTo(int n);

    // --- editing primitives ---
    // Removes bytes start..end-1. False (nothing changed) for a range outside the data or a
    // failed allocation.
    bool DeleteRange(int start, int end);
    // Inserts count zero bytes before position. False (nothing changed) for invalid arguments,
    // a length that would overflow, or a failed allocation.
    bool InsertZeros(int position, int count);
    // Sets both selection ends, repaints and re-creates the caret at its remembered position.
    void SetSelection(int start, int end);
    // Positions and shapes the caret for byte n in the caret's current column.
    void PlaceCaret(int n);
    // Steps the caret by dx columns (nibbles in the hex column) and dy rows, keeping it in the data.
    void MoveCaret(int dx, int dy);

    // --- scrolling ---
    // A vertical scroll request; trackPos is the thumb's tracking position for SB_THUMBTRACK.
    void OnVScroll(int code, int trackPos = 0);
    // Puts the given row at the top of the view.
    void ScrollToRow(int row);

    // --- keyboard, focus, mouse ---
    void OnKeyDown(Key key, bool shift, bool ctrl);
    // A typed character code (8 Backspace, 13 Enter, 3/22/24/26 with Ctrl for the clipboard).
    void OnChar(unsigned ch, bool ctrl);
    void OnSetFocus();
    void OnKillFocus();
    // One row per wheel message; false (not handled) without data.
    bool OnMouseWheel(int delta);
    // Moves the caret to the byte and column under a client point; false when nothing is hit.
    bool HitTest(int x, int y);
    // Left button pressed. True when the press waits for the view to decide whether it starts
    // a drag (then OnDragDecided follows).
    bool OnLButtonDown(bool shift, int x, int y);
    void OnDragDecided(bool dragged);
    void OnMouseMove(bool leftHeld, int x, int y);

    // --- edit commands ---
    // Both clipboard forms of the selection; false without a selection or when memory runs out.
    bool MakeCopyForms(std::vector<std::uint8_t>& raw, std::string& text) const;
    bool OnEditCopy();
    void OnEditCut();
    void OnEditPaste();
    void OnEditClear();
    void OnEditSelectAll();
    void OnEditUndo() {}
    MenuState ContextMenuState() const;

    // --- metrics and layout ---
    // What the font measures: advance of '0' and height of "0". Taken over at the next layout.
    void SetFontMetrics(int charWidth, int lineHeight);
    // Client area of the view; does not make the layout dirty.
    void SetClientSize(int width, int height);
    // Recomputes metrics, columns, rows and scroll bars when they are dirty.
    void EnsureLayout();

    // Largest length any buffer may have; a larger request fails like a failed allocation.
    void SetMaxLength(int maxLength) { m_nMaxLength = maxLength; }

    // --- state ---
    bool HasData() const { return m_pData != nullptr; }
    const std::uint8_t* Data() const { return m_pData.get(); }
    int Length() const { return m_nLength; }
    int TopIndex() const { return m_nTopIndex; }
    int Caret() const { return m_nCaret; }
    int CaretColumn() const { return m_nCaretColumn; }
    int SelStart() const { return m_nSelStart; }
    int SelEnd() const { return m_nSelEnd; }
    bool HasSelection() const { return m_nSelStart != -1; }
    int SelLow() const { return m_nSelStart < m_nSelEnd ? m_nSelStart : m_nSelEnd; }
    int SelHigh() const { return m_nSelStart < m_nSelEnd ? m_nSelEnd : m_nSelStart; }
    int BytesPerRow() const { return m_nBytesPerRow; }
    int RowsPerPage() const { return m_nRowsPerPage; }
    bool ShowAddress() const { return m_bShowAddress; }
    bool ShowAscii() const { return m_bShowAscii; }
    bool ShowHex() const { return m_bShowHex; }
    bool WideAddress() const { return m_bWideAddress; }
    bool KeyboardScroll() const { return m_bKeyboardScroll; }
    bool PartialLastRow() const { return m_bPartialLastRow; }
    bool LayoutDirty() const { return m_bLayoutDirty; }
    int LineHeight() const { return m_nLineHeight; }
    int CharWidth() const { return m_nCharWidth; }
    int HexLeft() const { return m_nHexLeft; }
    int AsciiLeft() const { return m_nAsciiLeft; }
    int AddressLeft() const { return m_nAddressLeft; }
    int CaretX() const { return m_nCaretX; }
    int CaretY() const { return m_nCaretY; }
    int ClientWidth() const { return m_nClientWidth; }
    int ClientHeight() const { return m_nClientHeight; }
    const CaretState& GetCaretState() const { return m_caret; }
    const ScrollBarState& VScroll() const { return m_vScroll; }
    const ScrollBarState& HScroll() const { return m_hScroll; }

    // Number of address digits drawn (8 or 4), 0 without the address column.
    int AddressDigits() const;
    // Rows the data occupies, a partial last row counted.
    int DataRows() const;
    // Character cells from the left edge to the end of the last shown column, by the options
    // alone (no layout needed): 79 with every column and 8-digit addresses.
    int RowCells() const;
    // Rows are painted while their top lies above this y.
    int PaintBottom() const;
    // The column that shows the selection, or -1: COL_HEX_HIGH for the hex column, COL_ASCII.
    int HighlightColumn() const;

private:
    // Allocates n bytes (zero-filled when asked); null on failure or above the maximum length.
    std::unique_ptr<std::uint8_t[]> Allocate(long long n, bool zero) const;
    void Redraw();
    void CaretChanged();
    void Layout();
    void UpdateScrollBars();
    void DestroyCaret();
    void CreateAddressCaret();
    void CreateCellCaret();
    void SetCaretPos(int x, int y);
    void ShowCaret();
    // Re-creates the caret from m_nCaretX / m_nCaretY and shows it.
    void RecreateCaret();
    bool InClientRect(int x, int y) const;
    // Sets the vertical bar's position to the top row.
    void SetScrollPos();
    // Keeps a caret that a scroll carried along on a byte of the data.
    void ClampCaret();
    void FollowScroll(int oldTop);
    // Where the caret of byte n stands in the current column.
    void CaretCellPos(int n, int& x, int& y) const;
    bool InHexColumn() const { return m_nCaretColumn == COL_HEX_HIGH || m_nCaretColumn == COL_HEX_LOW; }
    // Replaces bytes lo..hi-1 by n bytes from src in one allocation; false leaves all unchanged.
    bool ReplaceRange(int lo, int hi, const std::uint8_t* src, std::size_t n);
    // An edit changed bytes up to end - 1.
    void Edited(int end);
    // Scrolls so that byte n's row is shown.
    void ScrollIntoView(int n);

    IHexEditView* m_pView = nullptr;
    IHexClipboard* m_pClipboard = nullptr;

    std::unique_ptr<std::uint8_t[]> m_pData;
    int m_nLength = 0;
    int m_nTopIndex = 0;
    int m_nCaret = 0;
    int m_nCaretColumn = COL_ADDRESS;
    int m_nSelStart = -1;
    int m_nSelEnd = -1;
    int m_nBytesPerRow = 16;
    int m_nRowsPerPage = 1;
    bool m_bShowAddress = true;
    bool m_bShowAscii = true;
    bool m_bShowHex = true;
    bool m_bWideAddress = true;
    bool m_bKeyboardScroll = false;
    bool m_bPartialLastRow = true;
    int m_nLineHeight = 0;
    int m_nCharWidth = 0;
    bool m_bLayoutDirty = true;
    int m_nHexLeft = 0;
    int m_nAsciiLeft = 0;
    int m_nAddressLeft = 5;
    int m_nCaretX = 5;
    int m_nCaretY = 0;

    int m_nFontCharWidth = 1;
    int m_nFontLineHeight = 1;
    int m_nClientWidth = 0;
    int m_nClientHeight = 0;
    int m_nMaxLength = 0x7FFFFFFF;
    int m_nEditedEnd = 0;
    unsigned m_nEditCount = 0;
    CaretState m_caret;
    ScrollBarState m_vScroll;
    ScrollBarState m_hScroll;
};
