// SPDX-License-Identifier: MIT
// The main frame: bars, the emulator search, ROM type changes and the command flags.
#include "frame/mainframe.h"

#include "pages/messagebox.h"
#include "pages/propertysheet.h"
#include "emulink/findemulators.h"
#include "emulink/romtypes.h"
#include "emulink/usbtransport.h"
#include "frame/commandids.h"
#include "frame/toolbaricons.h"
#include "hexedit/hexedit.h"
#include "view/tarvexview.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QToolBar>

#include <algorithm>

namespace {

// Status-bar prompt and tool tip of each command that has them.
struct SPrompt {
    int nId;
    const char* pszPrompt;
    const char* pszTip;
};

const SPrompt s_prompts[] = {
    {ID_FILE_NEW, "Open new file", "New"},
    {ID_FILE_OPEN, "Open File", "Open"},
    {ID_FILE_SAVE, "Save currently opened file", "Save"},
    {ID_FILE_SAVE_AS, "Save as different file name", "Save As"},
    {ID_EDIT_FIND, "Find bytes or a text in the buffer", "Find"},
    {ID_EDIT_REPEAT, "Find the next place of the same bytes", "Find Next"},
    {ID_FILE_PRINT_SETUP, "Change the print options", "Print Setup"},
    {ID_FILE_PRINT, "Print opened file", "Print"},
    {ID_FILE_PRINT_PREVIEW, "View all pages", "Print Preview"},
    {ID_APP_EXIT, "Ask whether to save the current open file before exit", "Exit"},
    {ID_EDIT_CLEAR, "선택 영역을 지웁니다.", "지우기"},
    {ID_EDIT_COPY, "선택 영역을 복사하여 클립보드에 넣습니다.", "복사"},
    {ID_EDIT_CUT, "선택 영역을 잘라내어 클립보드에 넣습니다.", "잘라내기"},
    {ID_EDIT_PASTE, "클립보드의 내용을 삽입합니다.", "붙여넣기"},
    {ID_EDIT_SELECT_ALL, "전체 문서를 선택합니다.", "모두 선택"},
    {ID_EDIT_UNDO, "마지막 작업을 취소합니다.", "실행 취소"},
    {ID_APP_ABOUT, "프로그램 정보와 버전을 표시합니다.", "정보"},
};

const char* const s_recentPrompt = "이 문서를 엽니다";

} // namespace

CEmulatorBar::CEmulatorBar(QWidget* pParent) : QWidget(pParent)
{
    setFont(DialogFont());
    const CDialogUnits u(font());
    auto label = [&](const char* text, int x, int y, int cx) {
        auto* pLabel = new QLabel(QString::fromLatin1(text), this);
        pLabel->setGeometry(u.Rect(x, y, cx, 8).adjusted(0, 0, std::max(0, pLabel->sizeHint().width() - u.X(cx)), 2));
    };
    auto combo = [&](int x, int cx) {
        auto* pCombo = new QComboBox(this);
        pCombo->setEditable(false);
        pCombo->setGeometry(u.Rect(x, 1, cx, 14));
        return pCombo;
    };
    label("Target", 0, 3, 22);
    m_pTarget = combo(22, 55);
    label("ROM Type", 80, 4, 36);
    m_pRomType = combo(116, 97);
    label("Data Bits", 214, 3, 30);
    m_pDataBits = combo(245, 38);
    m_pFind = new QPushButton(QStringLiteral("Find Emul..."), this);
    m_pFind->setGeometry(u.Rect(285, 1, 45, 14));
    setFixedSize(u.X(330) + 2, u.Y(16));
}

int CEmulatorBar::NeededWidth(QWidget* pControl, const QStringList& samples)
{
    const QFontMetrics fm = pControl->fontMetrics();
    if (auto* pCombo = qobject_cast<QComboBox*>(pControl)) {
        QStringList texts = samples;
        for (int i = 0; i < pCombo->count(); ++i)
            texts << pCombo->itemText(i);
        int nWidest = 0;
        for (const QString& text : texts)
            nWidest = std::max(nWidest, fm.horizontalAdvance(text));
        QStyleOptionComboBox opt;
        opt.initFrom(pCombo);
        return pCombo->style()->sizeFromContents(QStyle::CT_ComboBox, &opt, QSize(nWidest, fm.height()), pCombo).width();
    }
    if (auto* pButton = qobject_cast<QPushButton*>(pControl))
        return fm.horizontalAdvance(pButton->text()) + 2 * pButton->style()->pixelMetric(QStyle::PM_ButtonMargin) +
               2 * pButton->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    return pControl->sizeHint().width();
}

void CEmulatorBar::FitToEntries()
{
    // Left to right: a control too narrow for its text or its longest entry widens, and
    // everything after it moves over by as much, keeping the reference gaps.
    const CDialogUnits u(font());
    QList<QWidget*> controls = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    std::sort(controls.begin(), controls.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
    int nShift = 0;
    for (QWidget* pControl : controls) {
        pControl->move(pControl->x() + nShift, pControl->y());
        // The Target list is filled by each search: room for an entry of the first instance.
        const QStringList samples =
            pControl == m_pTarget ? QStringList{QStringLiteral("Emulator-0")} : QStringList{};
        const int nGrow = NeededWidth(pControl, samples) - pControl->width();
        if (nGrow > 0) {
            pControl->resize(pControl->width() + nGrow, pControl->height());
            nShift += nGrow;
        }
    }
    setFixedSize(u.X(330) + 2 + nShift, u.Y(16));
}

CMainFrame::CMainFrame(std::string strSettingsPath, QWidget* pParent)
    : QMainWindow(pParent), m_strSettingsPath(std::move(strSettingsPath)),
      m_pTransport(std::make_unique<CUsbTransport>())
{
    // The caption is the fixed title alone, whatever document is open.
    setWindowTitle(QStringLiteral("Tarvex Emulator by the Tarvex developers "));
    resize(900, 800);

    CreateMenus();
    CreateToolBar();
    m_wndReBar = new QToolBar(QStringLiteral("Emulator"), this);
    m_wndReBar->setObjectName(QStringLiteral("EmulatorBar"));
    m_wndReBar->setAllowedAreas(Qt::TopToolBarArea);
    m_wndReBar->setFloatable(false);
    m_wndEmulatorBar = new CEmulatorBar(m_wndReBar);
    m_wndReBar->addWidget(m_wndEmulatorBar);
    // The emulator bar gets a row of its own: beside the tool bar it would not fit the form.
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, m_wndReBar);
    CreateStatusBar();

    FindEmulators();
    FillRomTypeList();
    m_wndEmulatorBar->m_pDataBits->addItems({QStringLiteral("8  Bits"), QStringLiteral("16 Bits")});
    m_wndEmulatorBar->m_pDataBits->setCurrentIndex(0);
    m_wndEmulatorBar->FitToEntries();
    connect(m_wndEmulatorBar->m_pFind, &QPushButton::clicked, this, &CMainFrame::FindEmulators);
    connect(m_wndEmulatorBar->m_pRomType, &QComboBox::currentIndexChanged, this, &CMainFrame::OnSelchangeRomType);

    // A form view scrolls when the window is smaller than the form, so that no control is out of reach.
    auto* pScroll = new QScrollArea(this);
    pScroll->setFrameShape(QFrame::NoFrame);
    pScroll->setFocusPolicy(Qt::NoFocus);
    pScroll->setWidgetResizable(true);
    m_pView = new CTarvexView(this);
    m_pView->setMinimumSize(m_pView->FormSize());
    pScroll->setWidget(m_pView);
    setCentralWidget(pScroll);
    UpdateCommandUI();

    connect(qApp, &QApplication::focusChanged, this, [this] { UpdateCommandUI(); });
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { UpdateCommandUI(); });
    qApp->installEventFilter(this);
}

CMainFrame::~CMainFrame()
{
    qApp->removeEventFilter(this);
    // The base destructor deletes the bars; a focus change then must not reach this half-gone frame.
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(QGuiApplication::clipboard(), nullptr, this, nullptr);
    // The view (and with it the buffer page, which saves its settings) goes while the
    // transport it may use still exists.
    delete m_pView;
    m_pView = nullptr;
}

void CMainFrame::closeEvent(QCloseEvent* pEvent)
{
    // The buffer page reads its fields back and saves them as the program ends: a field that
    // fails its check then says so over this window, while it is still on screen.
    if (CPageEmu0* pPage = BufferPage())
        pPage->OnDestroy();
    QMainWindow::closeEvent(pEvent);
}

QAction* CMainFrame::AddAction(int nCommandId, const QString& strText)
{
    auto* pAction = new QAction(strText, this);
    pAction->setData(nCommandId);
    m_actions.insert(nCommandId, pAction);
    for (const SPrompt& prompt : s_prompts) {
        if (prompt.nId == nCommandId) {
            pAction->setStatusTip(QString::fromUtf8(prompt.pszPrompt));
            pAction->setToolTip(QString::fromUtf8(prompt.pszTip));
        }
    }
    return pAction;
}

void CMainFrame::CreateMenus()
{
    m_pFileMenu = menuBar()->addMenu(QStringLiteral("File (&F)"));
    auto add = [this](QMenu* pMenu, int nId, const char* text, QList<QKeySequence> keys = {}) {
        QAction* pAction = AddAction(nId, QString::fromUtf8(text));
        if (!keys.isEmpty())
            pAction->setShortcuts(keys);
        pMenu->addAction(pAction);
        return pAction;
    };
    add(m_pFileMenu, ID_FILE_NEW, "New(&N)\tCtrl+N", {QKeySequence(Qt::CTRL | Qt::Key_N)});
    add(m_pFileMenu, ID_FILE_OPEN, "Open(&O)...\tCtrl+O", {QKeySequence(Qt::CTRL | Qt::Key_O)});
    add(m_pFileMenu, ID_FILE_SAVE, "Save(&S)\tCtrl+S", {QKeySequence(Qt::CTRL | Qt::Key_S)});
    add(m_pFileMenu, ID_FILE_SAVE_AS, "Save As(&A)...\tCtrl+Shift+S", {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)});
    m_pFileMenu->addSeparator();
    add(m_pFileMenu, ID_FILE_PRINT, "Print(&P)...\tCtrl+P", {QKeySequence(Qt::CTRL | Qt::Key_P)});
    add(m_pFileMenu, ID_FILE_PRINT_PREVIEW, "Print Preview(&V)");
    add(m_pFileMenu, ID_FILE_PRINT_SETUP, "Print Setup(&R)...");
    m_pFileMenu->addSeparator();
    QAction* pRecent = add(m_pFileMenu, ID_FILE_MRU_FILE1, "최근 파일");
    pRecent->setEnabled(false);
    pRecent->setStatusTip(QString::fromUtf8(s_recentPrompt));
    m_pRecentAnchor = m_pFileMenu->addSeparator();
    add(m_pFileMenu, ID_APP_EXIT, "Exit(&X)");
    connect(Action(ID_APP_EXIT), &QAction::triggered, this, &QMainWindow::close);
    // The document stores nothing: Save and Save As write the buffer, as the page's buttons do.
    connect(Action(ID_FILE_SAVE), &QAction::triggered, this, [this] {
        if (CPageEmu0* pPage = BufferPage())
            pPage->OnSave();
    });
    connect(Action(ID_FILE_SAVE_AS), &QAction::triggered, this, [this] {
        if (CPageEmu0* pPage = BufferPage())
            pPage->OnSaveAs();
    });

    // Find in the buffer, at the keys every desktop program uses; the Action menu's Find
    // searches for emulators.
    QMenu* pEdit = menuBar()->addMenu(QStringLiteral("Edit (&E)"));
    add(pEdit, ID_EDIT_FIND, "Find(&F)...\tCtrl+F", {QKeySequence(Qt::CTRL | Qt::Key_F)});
    add(pEdit, ID_EDIT_REPEAT, "Find Next(&N)\tF3", {QKeySequence(Qt::Key_F3)});
    connect(Action(ID_EDIT_FIND), &QAction::triggered, this, [this] {
        if (CPageEmu0* pPage = BufferPage())
            pPage->OnFind();
    });
    connect(Action(ID_EDIT_REPEAT), &QAction::triggered, this, [this] {
        if (CPageEmu0* pPage = BufferPage())
            pPage->OnFindNext();
    });

    QMenu* pAction = menuBar()->addMenu(QStringLiteral("Action (&A)"));
    add(pAction, IDC_FIND_EMULATOR, "Find(&F) \tEmulator");
    pAction->addSeparator();
    add(pAction, ID_EMULATOR_SETUP, "Set Up(&S) \tEmulator");
    add(pAction, ID_EMULATOR_RUN, "Run(&R) \tEmulator");
    add(pAction, ID_EMULATOR_STOP, "Stop(&T) \tEmulator");
    add(pAction, ID_TARGET_RESET, "Reset(&E) \tTarget");
    connect(Action(IDC_FIND_EMULATOR), &QAction::triggered, this, &CMainFrame::FindEmulators);
    connect(Action(ID_EMULATOR_SETUP), &QAction::triggered, this, &CMainFrame::OnEmulatorNoop);
    connect(Action(ID_EMULATOR_RUN), &QAction::triggered, this, &CMainFrame::OnEmulatorRun);
    connect(Action(ID_EMULATOR_STOP), &QAction::triggered, this, &CMainFrame::OnEmulatorStop);
    connect(Action(ID_TARGET_RESET), &QAction::triggered, this, &CMainFrame::OnEmulatorNoop);

    QMenu* pHelp = menuBar()->addMenu(QStringLiteral("Help (&H)"));
    add(pHelp, ID_APP_ABOUT, "About (&A) Tarvex ...");

    // Commands of the tool bar and the key table that have no menu item.
    auto keyed = [this](int nId, const char* text, QList<QKeySequence> keys) {
        QAction* pAct = AddAction(nId, QString::fromUtf8(text));
        pAct->setShortcuts(keys);
        addAction(pAct);
        return pAct;
    };
    keyed(ID_EDIT_UNDO, "Undo", {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)});
    keyed(ID_EDIT_CUT, "Cut", {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
    keyed(ID_EDIT_COPY, "Copy", {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
    keyed(ID_EDIT_PASTE, "Paste", {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    // One pane only: next and previous pane have nothing to go to.
    keyed(ID_NEXT_PANE, "Next Pane", {QKeySequence(Qt::Key_F6)})->setEnabled(false);
    keyed(ID_PREV_PANE, "Previous Pane", {QKeySequence(Qt::SHIFT | Qt::Key_F6)})->setEnabled(false);
    // The edit commands serve the hex editor that has the focus.
    auto onEditor = [this](int nId, void (CHexEdit::*handler)()) {
        connect(Action(nId), &QAction::triggered, this, [this, handler] {
            if (CHexEdit* pEditor = FocusedEditor()) {
                (pEditor->*handler)();
                UpdateCommandUI();
            }
        });
    };
    onEditor(ID_EDIT_UNDO, &CHexEdit::OnEditUndo);
    onEditor(ID_EDIT_CUT, &CHexEdit::OnEditCut);
    onEditor(ID_EDIT_COPY, &CHexEdit::OnEditCopy);
    onEditor(ID_EDIT_PASTE, &CHexEdit::OnEditPaste);
}

void CMainFrame::CreateToolBar()
{
    m_wndToolBar = new QToolBar(QStringLiteral("Standard"), this);
    m_wndToolBar->setObjectName(QStringLiteral("ToolBar"));
    // Movable within the top area only, so both bands show their gripper as a rebar's do.
    m_wndToolBar->setAllowedAreas(Qt::TopToolBarArea);
    m_wndToolBar->setFloatable(false);
    m_wndToolBar->setIconSize(QSize(16, 15));
    const int order[] = {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, 0, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE, 0,
                         ID_FILE_PRINT, 0, ID_EMULATOR_SETUP, ID_EMULATOR_RUN, ID_EMULATOR_STOP, ID_TARGET_RESET, 0,
                         ID_APP_ABOUT};
    for (int nId : order) {
        if (nId == 0) {
            m_wndToolBar->addSeparator();
            continue;
        }
        QAction* pAction = Action(nId);
        pAction->setIcon(ToolBarIcon(nId));
        m_wndToolBar->addAction(pAction);
    }
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    // The emulator commands have no string: their buttons show no tool tip (Qt would show the text).
    for (int nId : {ID_EMULATOR_SETUP, ID_EMULATOR_RUN, ID_EMULATOR_STOP, ID_TARGET_RESET})
        m_noTipButtons.append(m_wndToolBar->widgetForAction(Action(nId)));
}

void CMainFrame::CreateStatusBar()
{
    m_wndStatusBar = statusBar();
    m_wndStatusBar->addWidget(new QLabel(QStringLiteral("준비"), m_wndStatusBar), 1);
    const char* const names[3] = {"CAP", "NUM", "SCRL"};
    for (int i = 0; i < 3; ++i) {
        m_pIndicators[i] = new QLabel(m_wndStatusBar);
        m_pIndicators[i]->setObjectName(QString::fromLatin1(names[i]));
        m_pIndicators[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        m_pIndicators[i]->setMinimumWidth(m_pIndicators[i]->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 8);
        m_wndStatusBar->addPermanentWidget(m_pIndicators[i]);
    }
}

void CMainFrame::UpdateIndicators(quint32 nNativeModifiers)
{
    // X11 modifier state: Lock is Caps Lock, Mod2 Num Lock; Scroll Lock has no bit there.
    m_pIndicators[0]->setText((nNativeModifiers & 0x2) ? QStringLiteral("CAP") : QString());
    m_pIndicators[1]->setText((nNativeModifiers & 0x10) ? QStringLiteral("NUM") : QString());
}

bool CMainFrame::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::ToolTip && m_noTipButtons.contains(pWatched))
        return true;
    // The key table's Shift+Delete, Ctrl+Insert and Shift+Insert come before the editor's own
    // Delete and Insert keys, as accelerators do: the editor must not claim them. When the
    // command is greyed the key does nothing at all.
    if ((pEvent->type() == QEvent::ShortcutOverride || pEvent->type() == QEvent::KeyPress) &&
        IsEditAlternateKey(*static_cast<QKeyEvent*>(pEvent)) && pWatched == FocusedEditor())
        return true;
    if (pEvent->type() == QEvent::KeyPress || pEvent->type() == QEvent::KeyRelease) {
        auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (pKey->nativeModifiers() != 0 || QGuiApplication::platformName() == QLatin1String("xcb"))
            UpdateIndicators(pKey->nativeModifiers());
        if (pKey->key() == Qt::Key_ScrollLock && pEvent->type() == QEvent::KeyPress)
            m_pIndicators[2]->setText(m_pIndicators[2]->text().isEmpty() ? QStringLiteral("SCRL") : QString());
    }
    // The editor's selection changes with keys and the mouse: refresh what the edit commands offer.
    if ((pEvent->type() == QEvent::KeyRelease || pEvent->type() == QEvent::MouseButtonRelease) && FocusedEditor())
        UpdateCommandUI();
    return QMainWindow::eventFilter(pWatched, pEvent);
}

void CMainFrame::UpdateCommandUI()
{
    Action(ID_EMULATOR_SETUP)->setEnabled(m_bSetUpEnable);
    Action(ID_EMULATOR_RUN)->setEnabled(m_bRunEnable);
    Action(ID_EMULATOR_STOP)->setEnabled(m_bStopEnable);
    Action(ID_TARGET_RESET)->setEnabled(m_bResetEnable);
    // Edit commands are enabled as the focused editor's context menu would be, else greyed.
    CHexEditModel::MenuState state;
    if (const CHexEdit* pEditor = FocusedEditor())
        state = pEditor->Model().ContextMenuState();
    Action(ID_EDIT_UNDO)->setEnabled(state.undo);
    Action(ID_EDIT_CUT)->setEnabled(state.cut);
    Action(ID_EDIT_COPY)->setEnabled(state.copy);
    Action(ID_EDIT_PASTE)->setEnabled(state.paste);
}

bool CMainFrame::IsEditAlternateKey(const QKeyEvent& key)
{
    const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
    return (key.key() == Qt::Key_Delete && mods == Qt::ShiftModifier) ||
           (key.key() == Qt::Key_Insert && (mods == Qt::ShiftModifier || mods == Qt::ControlModifier));
}

CHexEdit* CMainFrame::FocusedEditor() const
{
    for (QWidget* pWidget = QApplication::focusWidget(); pWidget; pWidget = pWidget->parentWidget()) {
        if (auto* pEditor = qobject_cast<CHexEdit*>(pWidget))
            return pEditor->window() == this ? pEditor : nullptr;
    }
    return nullptr;
}

CPageEmu0* CMainFrame::BufferPage() const
{
    if (!m_pView || !m_pView->m_pPropertySheet)
        return nullptr;
    return &m_pView->m_pPropertySheet->m_pageEmu0;
}

void CMainFrame::FindEmulators()
{
    QComboBox* pTarget = m_wndEmulatorBar->m_pTarget;
    pTarget->clear();
    m_nEmulatorCount = 0;
    // Emulators attached but refused (no udev rules, held by another program) are named in the message.
    std::vector<STransferStatus> refused;
    for (int nInstance : ::FindEmulators(*m_pTransport, &refused)) {
        pTarget->addItem(QStringLiteral("Emulator-%1").arg(nInstance));
        ++m_nEmulatorCount;
    }
    if (pTarget->count() > 0)
        pTarget->setCurrentIndex(0);
    if (m_nEmulatorCount == 0) {
        TarvexMessageBox(this, QString::fromStdString(SearchFailedMessage(refused)));
        pTarget->setEnabled(false);
        m_bResetEnable = false;
        m_bSetUpEnable = false;
    } else {
        pTarget->setEnabled(true);
        m_bSetUpEnable = true;
        m_bResetEnable = true;
    }
    if (!m_actions.isEmpty())
        UpdateCommandUI();
}

void CMainFrame::FillRomTypeList()
{
    QComboBox* pRomType = m_wndEmulatorBar->m_pRomType;
    for (const SRomType& type : kRomTypes)
        pRomType->addItem(QString::fromLatin1(type.listEntry.data(), qsizetype(type.listEntry.size())));
    pRomType->setCurrentIndex(0);
}

void CMainFrame::OnEmulatorRun()
{
    m_bRunEnable = false;
    m_bStopEnable = true;
    UpdateCommandUI();
    if (CPageEmu0* pPage = BufferPage())
        pPage->SetRunState(true);
}

void CMainFrame::OnEmulatorStop()
{
    m_bRunEnable = true;
    m_bStopEnable = false;
    UpdateCommandUI();
    if (CPageEmu0* pPage = BufferPage())
        pPage->SetRunState(false);
}

void CMainFrame::OnSelchangeRomType(int nIndex)
{
    if (CPageEmu0* pPage = BufferPage()) {
        // The session sets the size and sends the command; the frame keeps what it chose.
        pPage->ChangeRomType(nIndex);
        m_nCurRomSize = int(pPage->RomSize());
    } else if (const SRomType* pType = RomTypeAt(nIndex)) {
        m_nCurRomSize = int(pType->nSize);
    }
}

void CMainFrame::ShowStatus(const std::string& text)
{
    if (m_pView)
        m_pView->ShowStatus(text);
    // The status bar too: on a short screen the message line may lie below the scrolled view.
    if (text.empty())
        m_wndStatusBar->clearMessage();
    else
        m_wndStatusBar->showMessage(QString::fromStdString(text));
}

QSize CMainFrame::NeededSize()
{
    layout()->activate();
    return size() - centralWidget()->size() + m_pView->FormSize();
}

void CMainFrame::FitToScreen(const QRect& area, const QMargins& frame)
{
    const QSize room = area.size().shrunkBy(frame);
    QSize needed = NeededSize();
    if (needed.height() > room.height() && !m_bOneRow) {
        // Both bands in one row, as a rebar puts them when it is wide enough: a row saved.
        const int nRow = m_wndToolBar->sizeHint().width() + m_wndReBar->sizeHint().width() +
                         2 * style()->pixelMetric(QStyle::PM_ToolBarItemSpacing) + 8;
        if (std::max(nRow, needed.width()) <= room.width()) {
            removeToolBarBreak(m_wndReBar);
            m_bOneRow = true;
            resize(std::max(width(), nRow), height());
            needed = NeededSize().expandedTo(QSize(nRow, 0));
        }
    }
    if (needed.width() <= room.width() && needed.height() <= room.height() && size() == needed)
        return;
    QSize fitted = needed.boundedTo(room);
    // A page area that scrolls one way needs the other way's room for its scroll bar.
    const int nBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (fitted.height() < needed.height())
        fitted.setWidth(std::min(fitted.width() + nBar, room.width()));
    if (fitted.width() < needed.width())
        fitted.setHeight(std::min(fitted.height() + nBar, room.height()));
    resize(fitted);
    // A window placed beyond the free area's bottom or right would be cut off: the frame (the
    // position of a window is its frame's) moves in.
    const QSize outer = fitted.grownBy(frame);
    const QPoint inside(std::clamp(x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width())),
                        std::clamp(y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height())));
    if (inside != pos())
        move(inside);
}

void CMainFrame::FitToScreen()
{
    const QScreen* pScreen = screen();
    if (!pScreen)
        return;
    // Until it is shown the window has no border; a title bar as window managers commonly draw it.
    const QRect outer = frameGeometry(), inner = geometry();
    QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                   outer.bottom() - inner.bottom());
    if (frame.isNull())
        frame = QMargins(2, 32, 2, 2);
    FitToScreen(pScreen->availableGeometry(), frame);
}

void CMainFrame::EnableRun()
{
    m_bRunEnable = true;
    UpdateCommandUI();
}

void CMainFrame::SetRecentFiles(const QStringList& files)
{
    for (QAction* pAction : m_recentActions) {
        m_actions.remove(pAction->data().toInt());
        m_pFileMenu->removeAction(pAction);
        delete pAction;
    }
    m_recentActions.clear();
    QAction* pPlaceholder = m_actions.value(ID_FILE_MRU_FILE1);
    if (files.isEmpty()) {
        if (!pPlaceholder) {
            pPlaceholder = AddAction(ID_FILE_MRU_FILE1, QStringLiteral("최근 파일"));
            pPlaceholder->setEnabled(false);
            pPlaceholder->setStatusTip(QString::fromUtf8(s_recentPrompt));
            m_pFileMenu->insertAction(m_pRecentAnchor, pPlaceholder);
        }
        return;
    }
    if (pPlaceholder) {
        m_actions.remove(ID_FILE_MRU_FILE1);
        m_pFileMenu->removeAction(pPlaceholder);
        delete pPlaceholder;
    }
    for (int i = 0; i < files.size() && i < 4; ++i) {
        QAction* pAction = AddAction(ID_FILE_MRU_FILE1 + i, QStringLiteral("&%1 %2").arg(i + 1).arg(files[i]));
        pAction->setStatusTip(QString::fromUtf8(s_recentPrompt));
        const QString strFile = files[i];
        connect(pAction, &QAction::triggered, this, [this, strFile] {
            if (m_onOpenRecent)
                m_onOpenRecent(strFile);
        });
        m_pFileMenu->insertAction(m_pRecentAnchor, pAction);
        m_recentActions.append(pAction);
    }
}
