// SPDX-License-Identifier: MIT
// CHexEdit: the hex editor widget. Translates Qt events for CHexEditModel, paints the view and the caret.
#pragma once

#include "hexedit/hexeditmodel.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QPoint>
#include <QImage>
#include <QPainter>

#include <cstdint>
#include <memory>
#include <deque>
#include <vector>

class QMenu;

class CHexEdit : public QAbstractScrollArea, private IHexEditView {
    Q_OBJECT

public:
    // Command ids of the context menu's rows.
    enum Command {
        ID_EDIT_CLEAR = 57632,
        ID_EDIT_COPY = 57634,
        ID_EDIT_CUT = 57635,
        ID_EDIT_PASTE = 57637,
        ID_EDIT_SELECT_ALL = 57642,
        ID_EDIT_UNDO = 57643
    };

    explicit CHexEdit(QWidget* parent = nullptr);
    ~CHexEdit() override;

    // The buffer page's interface; see CHexEditModel.
    bool SetData(const std::uint8_t* data, int length);
    int GetData(std::uint8_t* dest, int maximum) const;
    void SetOptions(bool showAddress, bool showHex, bool showAscii, bool wideAddress);
    // Repaints the whole view.
    void Redraw() override;

    // Bytes start..end-1 of the editor's copy become value (see CHexEditModel::FillRange).
    void FillRange(int start, int end, std::uint8_t value);
    CHexEditModel::FindResult FindNext(const std::vector<std::uint8_t>& pattern);
    void GoTo(int n);

    void OnEditCopy();
    void OnEditCut();
    void OnEditPaste();
    void OnEditClear();
    void OnEditSelectAll();
    void OnEditUndo();

    // The context menu with its seven rows enabled or greyed for the current state; each
    // enabled row runs its command on this editor. The caller owns it.
    std::unique_ptr<QMenu> CreateContextMenu();

    const CHexEditModel& Model() const { return m_model; }
    const QFont& EditorFont() const { return m_font; }
    // A character cell of the view in viewport coordinates (needs a layout, i.e. data).
    QRect CellRect(int cell, int row) const;
    // The width that shows a whole row of every shown column with the vertical bar beside it.
    int FullRowWidth() const;

signals:
    // The user changed bytes of the editor's copy (typing, Delete, Insert, the clipboard, a fill).
    void edited();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    class Clipboard;
    // Pre-rendered character cells in one colour pair, blank to '~'.
    struct CellStrip {
        QRgb fg;
        QRgb bg;
        QImage image;
    };

    void CaretChanged() override;
    // Says edited() when the model counted an edit since `before`.
    void NotifyEdits(unsigned before);
    // One row per wheel message, over the view and over its vertical bar alike.
    bool Wheel(QWheelEvent* e);
    // The menu at the keyboard's place: just inside the view's top-left corner.
    void KeyboardContextMenu();
    void ScrollBarsChanged() override;
    void OnVerticalAction(int action);
    void OnHorizontalAction(int action);
    void SyncClientSize();
    const QImage& Strip(const QColor& fg, const QColor& bg);
    void BlitText(const QImage& strip, const char* text, int count, int x, int y);
    void FillFrame(const QRect& r, const QColor& color);
    void PaintFrame();
    // Where the viewport lies in the painter's device when that is a 32-bit raster image
    // the view can be composed in directly; an invalid rectangle otherwise.
    QRect DirectTarget(const QPainter& p, const QSize& size) const;
    void PaintColumnPlain(bool hex);
    void PaintColumnHighlighted(bool hex);

    std::unique_ptr<Clipboard> m_clipboard;
    CHexEditModel m_model;
    QFont m_font;
    std::deque<CellStrip> m_strips; // a deque: references to strips stay valid as more are added
    QImage m_frame;
    uchar* m_frameBits = nullptr; // m_frame's pixels while a paint composes it
    int m_ascent = 0;
    bool m_dragPending = false;
    QPoint m_pressPos;
    bool m_syncingBars = false;
};
