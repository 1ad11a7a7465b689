// SPDX-License-Identifier: MIT
// CMainFrame: the main window with its menus, tool bar, emulator bar, status bar and command flags.
#pragma once

#include "pages/bufferpage.h"

#include <QMainWindow>
#include <QMap>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class CHexEdit;
class CMessageBoxSink;
class CMyPropertySheet;
class CTarvexView;
class CUsbTransport;
class QAction;
class QComboBox;
class QKeyEvent;
class QLabel;
class QMenu;
class QPushButton;
class QToolBar;

// The emulator bar: Target, ROM Type and Data Bits lists and the "Find Emul..." button.
class CEmulatorBar : public QWidget {
    Q_OBJECT
public:
    explicit CEmulatorBar(QWidget* pParent = nullptr);
    // Widens what this font leaves too narrow for its text or entries, once the lists are filled.
    void FitToEntries();
    QComboBox* m_pTarget = nullptr;
    QComboBox* m_pRomType = nullptr;
    QComboBox* m_pDataBits = nullptr;
    QPushButton* m_pFind = nullptr;

private:
    // Width that shows the control's text, or a list's longest entry (or sample), whole.
    static int NeededWidth(QWidget* pControl, const QStringList& samples);
};

class CMainFrame : public QMainWindow, public CFrameLink {
    Q_OBJECT
public:
    // Builds the bars, runs the emulator search (its message comes before the window shows)
    // and the view. strSettingsPath: the buffer page's settings file, empty for the default.
    explicit CMainFrame(std::string strSettingsPath = {}, QWidget* pParent = nullptr);
    ~CMainFrame() override;

    void FindEmulators();
    void FillRomTypeList();
    void OnEmulatorNoop() {}
    void OnEmulatorRun();
    void OnEmulatorStop();
    void OnSelchangeRomType(int nIndex);
    // Enables the flag-driven commands by their flags and the edit commands by the focus.
    void UpdateCommandUI();

    // Fits the window into `area` (a screen's free area) with room for `frame`, the window
    // manager's border: where the whole form does not fit, the emulator bar joins the tool
    // bar's row and the page area scrolls. A screen with room changes nothing.
    void FitToScreen(const QRect& area, const QMargins& frame);
    // The same for the screen the window is on; the border is the one drawn around it, or a
    // common title bar's while it is not shown yet.
    void FitToScreen();
    // The size that shows the whole form with the bars as they are placed now.
    QSize NeededSize();
    bool EmulatorBarBesideToolBar() const { return m_bOneRow; }

    // The menu entries of the recent-file list (at most 4); empty shows the greyed placeholder.
    void SetRecentFiles(const QStringList& files);

    QAction* Action(int nCommandId) const { return m_actions.value(nCommandId); }
    CTarvexView* View() const { return m_pView; }
    // The buffer page through the active view's sheet; null when there is no sheet.
    CPageEmu0* BufferPage() const;

    // CFrameLink
    std::uint32_t CurRomSize() const override { return std::uint32_t(m_nCurRomSize); }
    void EnableRun() override;
    CUsbTransport* Transport() override { return m_pTransport.get(); }
    std::string SettingsPath() const override { return m_strSettingsPath; }
    void ShowStatus(const std::string& text) override;

    // A recent-file entry was chosen.
    std::function<void(const QString&)> m_onOpenRecent;

    int m_nCurRomSize = int(kDefaultRomSize);
    bool m_bSetUpEnable = false;
    bool m_bResetEnable = false;
    bool m_bStopEnable = false;
    bool m_bRunEnable = false;
    int m_nEmulatorCount = 0;
    QStatusBar* m_wndStatusBar = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    QToolBar* m_wndReBar = nullptr; // the second band, holding the emulator bar
    CEmulatorBar* m_wndEmulatorBar = nullptr;
    QLabel* m_pIndicators[3] = {}; // CAP, NUM, SCRL

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void closeEvent(QCloseEvent* pEvent) override;

private:
    QAction* AddAction(int nCommandId, const QString& strText);
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void UpdateIndicators(quint32 nNativeModifiers);
    // Shift+Delete, Ctrl+Insert or Shift+Insert: the key table's second keys for Cut, Copy, Paste.
    static bool IsEditAlternateKey(const QKeyEvent& key);
    // The hex editor of this window that has the focus, or null.
    CHexEdit* FocusedEditor() const;

    std::string m_strSettingsPath;
    std::unique_ptr<CUsbTransport> m_pTransport;
    QMap<int, QAction*> m_actions;
    QMenu* m_pFileMenu = nullptr;
    QAction* m_pRecentAnchor = nullptr; // the separator before Exit
    QList<QAction*> m_recentActions;
    QList<QObject*> m_noTipButtons; // tool-bar buttons of commands without a string
    CTarvexView* m_pView = nullptr;
    bool m_bOneRow = false;
};
