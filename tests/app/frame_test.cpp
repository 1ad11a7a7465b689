// SPDX-License-Identifier: MIT
// The main frame, its bars, the emulator search, ROM type changes and the form view.
#include "apptest.h"
#include "layoutcheck.h"

#include "app/aboutbox.h"
#include "pages/propertysheet.h"
#include "frame/commandids.h"
#include "frame/mainframe.h"
#include "hexedit/hexedit.h"
#include "view/tarvexview.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTextCursor>
#include <QToolBar>
#include <QToolTip>

namespace {

class FrameTest : public ::testing::Test {
protected:
    void Attach(int nEmulators) { m_pSim = std::make_unique<CSimulator>(SimEmulators(nEmulators)); }
    CMainFrame& Open()
    {
        m_pFrame = std::make_unique<CMainFrame>(m_dir.Path("tarvex.ini"));
        m_pFrame->View()->OnInitialUpdate();
        return *m_pFrame;
    }
    bool Enabled(int nId) const { return m_pFrame->Action(nId)->isEnabled(); }
    CPageEmu0& Page() const { return *m_pFrame->BufferPage(); }
    void TearDown() override
    {
        m_pFrame.reset();
        m_pSim.reset();
    }

    CMessageLog m_log;
    CTestDir m_dir;
    std::unique_ptr<CSimulator> m_pSim;
    std::unique_ptr<CMainFrame> m_pFrame;
};

TEST_F(FrameTest, StartWithoutEmulator)
{
    m_pFrame = std::make_unique<CMainFrame>(m_dir.Path("tarvex.ini"));
    // The message came while the frame was being built, before any window showed.
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_EQ(m_log.Last(), kNoDriver);
    EXPECT_EQ(m_log.m_messages[0].pOwner, m_pFrame.get());
    EXPECT_FALSE(m_pFrame->isVisible());
    EXPECT_EQ(m_pFrame->size(), QSize(900, 800));
    m_pFrame->View()->OnInitialUpdate();
    EXPECT_EQ(m_log.Count(), 1);

    QComboBox* pTarget = m_pFrame->m_wndEmulatorBar->m_pTarget;
    EXPECT_EQ(pTarget->count(), 0);
    EXPECT_FALSE(pTarget->isEnabled());
    EXPECT_EQ(m_pFrame->m_nEmulatorCount, 0);
    for (int nId : {ID_EMULATOR_SETUP, ID_EMULATOR_RUN, ID_EMULATOR_STOP, ID_TARGET_RESET})
        EXPECT_FALSE(Enabled(nId)) << nId;
    EXPECT_TRUE(Enabled(IDC_FIND_EMULATOR));
    EXPECT_TRUE(m_pFrame->m_wndEmulatorBar->m_pFind->isEnabled());
    // The tool bar shows the same actions, so its buttons are greyed as well.
    EXPECT_TRUE(m_pFrame->m_wndToolBar->actions().contains(m_pFrame->Action(ID_EMULATOR_RUN)));
}

TEST_F(FrameTest, OneEmulatorFound)
{
    Attach(1);
    Open();
    EXPECT_EQ(m_log.Count(), 0);
    QComboBox* pTarget = m_pFrame->m_wndEmulatorBar->m_pTarget;
    ASSERT_EQ(pTarget->count(), 1);
    EXPECT_EQ(pTarget->itemText(0), QStringLiteral("Emulator-0"));
    EXPECT_EQ(pTarget->currentIndex(), 0);
    EXPECT_TRUE(pTarget->isEnabled());
    EXPECT_TRUE(Enabled(ID_EMULATOR_SETUP));
    EXPECT_TRUE(Enabled(ID_TARGET_RESET));
    EXPECT_FALSE(Enabled(ID_EMULATOR_RUN));
    EXPECT_FALSE(Enabled(ID_EMULATOR_STOP));
    // No ROM-size command at start-up: nothing was sent at all.
    EXPECT_TRUE(m_pSim->Transfers().empty());
}

TEST_F(FrameTest, WriteThenRunThenStop)
{
    Attach(1);
    Open();
    QTest::mouseClick(Page().m_pWrite, Qt::LeftButton);
    EXPECT_TRUE(Enabled(ID_EMULATOR_RUN));
    EXPECT_FALSE(Enabled(ID_EMULATOR_STOP));
    m_pSim->ClearLog();
    m_pFrame->Action(ID_EMULATOR_RUN)->trigger();
    EXPECT_FALSE(Enabled(ID_EMULATOR_RUN));
    EXPECT_TRUE(Enabled(ID_EMULATOR_STOP));
    m_pFrame->Action(ID_EMULATOR_STOP)->trigger();
    EXPECT_TRUE(Enabled(ID_EMULATOR_RUN));
    EXPECT_FALSE(Enabled(ID_EMULATOR_STOP));
    EXPECT_EQ(Commands(*m_pSim), (std::vector<std::pair<int, int>>{{2, 1}, {2, 0}}));
    // Set Up and Reset do nothing when chosen.
    m_pSim->ClearLog();
    m_pFrame->Action(ID_EMULATOR_SETUP)->trigger();
    m_pFrame->Action(ID_TARGET_RESET)->trigger();
    EXPECT_TRUE(m_pSim->Transfers().empty());
    EXPECT_EQ(m_log.Count(), 0);
}

TEST_F(FrameTest, RepeatedSearchThatFindsNothing)
{
    Attach(1);
    Open();
    Page().OnWrite();
    m_pSim.reset(); // the emulator is unplugged
    QTest::mouseClick(m_pFrame->m_wndEmulatorBar->m_pFind, Qt::LeftButton);
    EXPECT_EQ(m_log.Count(kNoDriver), 1);
    EXPECT_EQ(m_pFrame->m_wndEmulatorBar->m_pTarget->count(), 0);
    EXPECT_FALSE(m_pFrame->m_wndEmulatorBar->m_pTarget->isEnabled());
    EXPECT_FALSE(Enabled(ID_EMULATOR_SETUP));
    EXPECT_FALSE(Enabled(ID_TARGET_RESET));
    EXPECT_TRUE(Enabled(ID_EMULATOR_RUN)); // left as the download set it
    EXPECT_FALSE(Enabled(ID_EMULATOR_STOP));
    // The menu's Find does the same search.
    m_pFrame->Action(IDC_FIND_EMULATOR)->trigger();
    EXPECT_EQ(m_log.Count(kNoDriver), 2);
}

TEST_F(FrameTest, SeveralEmulatorsListedByInstance)
{
    Attach(3);
    Open();
    QComboBox* pTarget = m_pFrame->m_wndEmulatorBar->m_pTarget;
    ASSERT_EQ(pTarget->count(), 3);
    EXPECT_EQ(pTarget->itemText(2), QStringLiteral("Emulator-2"));
    EXPECT_EQ(m_pFrame->m_nEmulatorCount, 3);
}

TEST_F(FrameTest, RomTypeChange)
{
    Attach(1);
    Open();
    QComboBox* pRomType = m_pFrame->m_wndEmulatorBar->m_pRomType;
    ASSERT_EQ(pRomType->count(), 8);
    EXPECT_EQ(pRomType->itemText(0), QStringLiteral("27C64(8K*8)"));
    EXPECT_EQ(pRomType->itemText(6), QStringLiteral("27C040(512K*8)"));
    EXPECT_EQ(pRomType->itemText(7), QStringLiteral("27C080(1024K*8)"));
    EXPECT_EQ(pRomType->currentIndex(), 0);
    EXPECT_EQ(m_pFrame->m_nCurRomSize, 8192);

    Page().m_pFileName->setText(QStringLiteral("typed, not loaded"));
    pRomType->setCurrentIndex(6);
    EXPECT_EQ(m_pFrame->m_nCurRomSize, 524288);
    EXPECT_EQ(Page().RomSize(), 524288u);
    EXPECT_EQ(Commands(*m_pSim), (std::vector<std::pair<int, int>>{{3, 0x3F}}));
    EXPECT_EQ(m_pSim->Firmware(0).m_nMask, 0x3F);
    EXPECT_EQ(Page().m_pRomSize->text(), QStringLiteral("00080000"));
    EXPECT_EQ(Page().m_pFileName->text(), QStringLiteral("typed, not loaded")); // kept, not reverted

    // A download now covers the new size: 16 blocks.
    m_pSim->ClearLog();
    Page().OnWrite();
    EXPECT_EQ(Commands(*m_pSim).size(), 16u);
    EXPECT_EQ(Page().m_wndProgress->value(), 16);
}

TEST_F(FrameTest, DataBitsAndTargetChoicesHaveNoEffect)
{
    Attach(2);
    Open();
    QComboBox* pDataBits = m_pFrame->m_wndEmulatorBar->m_pDataBits;
    ASSERT_EQ(pDataBits->count(), 2);
    EXPECT_EQ(pDataBits->itemText(0), QStringLiteral("8  Bits"));
    EXPECT_EQ(pDataBits->itemText(1), QStringLiteral("16 Bits"));
    EXPECT_EQ(pDataBits->currentIndex(), 0);
    pDataBits->setCurrentIndex(1);
    m_pFrame->m_wndEmulatorBar->m_pTarget->setCurrentIndex(1);
    EXPECT_TRUE(m_pSim->Transfers().empty());
    EXPECT_EQ(m_pFrame->m_nCurRomSize, 8192);
    // Transfers still go to the first emulator.
    Page().OnRun();
    ASSERT_EQ(m_pSim->Transfers().size(), 1u);
    EXPECT_EQ(m_pSim->Transfers()[0].nDevice, 0);
}

TEST_F(FrameTest, MenusKeysAndToolBar)
{
    Attach(1);
    Open();
    EXPECT_EQ(m_pFrame->windowTitle(), QStringLiteral("Tarvex Emulator by the Tarvex developers "));
    QStringList menus;
    for (QAction* a : m_pFrame->menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, QStringList({"File (&F)", "Edit (&E)", "Action (&A)", "Help (&H)"}));

    QStringList file;
    for (QAction* a : m_pFrame->menuBar()->actions()[0]->menu()->actions())
        file << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(file, QStringList({"New(&N)\tCtrl+N", "Open(&O)...\tCtrl+O", "Save(&S)\tCtrl+S", "Save As(&A)...\tCtrl+Shift+S", "-",
                                 "Print(&P)...\tCtrl+P", "Print Preview(&V)", "Print Setup(&R)...", "-",
                                 QStringLiteral("최근 파일"), "-", "Exit(&X)"}));
    EXPECT_FALSE(m_pFrame->Action(ID_FILE_MRU_FILE1)->isEnabled());
    QStringList edit;
    for (QAction* a : m_pFrame->menuBar()->actions()[1]->menu()->actions())
        edit << a->text();
    EXPECT_EQ(edit, QStringList({"Find(&F)...\tCtrl+F", "Find Next(&N)\tF3"}));
    QStringList action;
    for (QAction* a : m_pFrame->menuBar()->actions()[2]->menu()->actions())
        action << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(action, QStringList({"Find(&F) \tEmulator", "-", "Set Up(&S) \tEmulator", "Run(&R) \tEmulator",
                                   "Stop(&T) \tEmulator", "Reset(&E) \tTarget"}));
    EXPECT_EQ(m_pFrame->menuBar()->actions()[3]->menu()->actions()[0]->text(), QStringLiteral("About (&A) Tarvex ..."));

    std::vector<int> tools;
    for (QAction* a : m_pFrame->m_wndToolBar->actions())
        tools.push_back(a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(tools, (std::vector<int>{57600, 57601, 57603, 0, 57635, 57634, 57637, 0, 57607, 0, 32773, 32771, 32772,
                                       32774, 0, 57664}));

    auto keys = [this](int nId) { return m_pFrame->Action(nId)->shortcuts(); };
    EXPECT_TRUE(keys(ID_FILE_NEW).contains(QKeySequence(Qt::CTRL | Qt::Key_N)));
    EXPECT_TRUE(keys(ID_FILE_PRINT).contains(QKeySequence(Qt::CTRL | Qt::Key_P)));
    EXPECT_TRUE(keys(ID_EDIT_UNDO).contains(QKeySequence(Qt::ALT | Qt::Key_Backspace)));
    EXPECT_TRUE(keys(ID_EDIT_CUT).contains(QKeySequence(Qt::SHIFT | Qt::Key_Delete)));
    EXPECT_TRUE(keys(ID_EDIT_COPY).contains(QKeySequence(Qt::CTRL | Qt::Key_Insert)));
    EXPECT_TRUE(keys(ID_EDIT_PASTE).contains(QKeySequence(Qt::SHIFT | Qt::Key_Insert)));
    EXPECT_TRUE(keys(ID_NEXT_PANE).contains(QKeySequence(Qt::Key_F6)));
    EXPECT_EQ(keys(ID_FILE_SAVE), QList<QKeySequence>({QKeySequence(Qt::CTRL | Qt::Key_S)}));
    EXPECT_EQ(keys(ID_FILE_SAVE_AS), QList<QKeySequence>({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)}));
    EXPECT_EQ(keys(ID_EDIT_FIND), QList<QKeySequence>({QKeySequence(Qt::CTRL | Qt::Key_F)}));
    EXPECT_EQ(keys(ID_EDIT_REPEAT), QList<QKeySequence>({QKeySequence(Qt::Key_F3)}));
    // No key is bound to two commands.
    QMap<QString, int> owners;
    for (QAction* a : m_pFrame->findChildren<QAction*>()) {
        for (const QKeySequence& key : a->shortcuts()) {
            const QString name = key.toString();
            EXPECT_FALSE(owners.contains(name)) << name.toStdString() << " of " << a->data().toInt() << " and "
                                                << owners.value(name);
            owners.insert(name, a->data().toInt());
        }
    }

    // Prompts and tips from the string table; the emulator commands have none.
    EXPECT_EQ(m_pFrame->Action(ID_FILE_NEW)->statusTip(), QStringLiteral("Open new file"));
    EXPECT_EQ(m_pFrame->Action(ID_FILE_NEW)->toolTip(), QStringLiteral("New"));
    EXPECT_EQ(m_pFrame->Action(ID_APP_EXIT)->statusTip(),
              QStringLiteral("Ask whether to save the current open file before exit"));
    for (int nId : {IDC_FIND_EMULATOR, ID_EMULATOR_RUN, ID_EMULATOR_STOP, ID_EMULATOR_SETUP, ID_TARGET_RESET})
        EXPECT_TRUE(m_pFrame->Action(nId)->statusTip().isEmpty()) << nId;
    // Outside the editor the edit commands are greyed.
    for (int nId : {ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE, ID_EDIT_UNDO})
        EXPECT_FALSE(Enabled(nId)) << nId;
}

TEST_F(FrameTest, StatusBarPanes)
{
    Open();
    QStringList texts;
    for (QLabel* pLabel : m_pFrame->statusBar()->findChildren<QLabel*>())
        texts << pLabel->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("준비")));
    EXPECT_EQ(m_pFrame->m_pIndicators[0]->objectName(), QStringLiteral("CAP"));
    EXPECT_EQ(m_pFrame->m_pIndicators[1]->objectName(), QStringLiteral("NUM"));
    EXPECT_EQ(m_pFrame->m_pIndicators[2]->objectName(), QStringLiteral("SCRL"));
    // Scroll Lock toggles its pane.
    QTest::keyClick(m_pFrame.get(), Qt::Key_ScrollLock);
    EXPECT_EQ(m_pFrame->m_pIndicators[2]->text(), QStringLiteral("SCRL"));
    QTest::keyClick(m_pFrame.get(), Qt::Key_ScrollLock);
    EXPECT_EQ(m_pFrame->m_pIndicators[2]->text(), QString());
}

TEST_F(FrameTest, FormViewSheetAndBanner)
{
    Attach(1);
    Open();
    CTarvexView* pView = m_pFrame->View();
    CMyPropertySheet* pSheet = pView->m_pPropertySheet;
    ASSERT_NE(pSheet, nullptr);
    // The sheet fills its placeholder exactly.
    EXPECT_EQ(pSheet->parentWidget(), pView->Placeholder());
    EXPECT_EQ(pSheet->geometry(), QRect(QPoint(0, 0), pView->Placeholder()->size()));
    // The placeholder is the reference one, grown where the pages' font needs more room;
    // the message line stays right under it.
    const CDialogUnits units(pView->font());
    const QRect placeholder = pView->Placeholder()->geometry();
    EXPECT_EQ(placeholder.topLeft(), QPoint(0, 0));
    EXPECT_TRUE(placeholder.contains(units.Rect(0, 0, 500, 373)));
    EXPECT_GE(placeholder.width(), pSheet->sizeHint().width());
    EXPECT_GE(placeholder.height(), pSheet->sizeHint().height());
    const QRect lineRect = units.Rect(4, 373, 495, 23);
    EXPECT_EQ(pView->m_wndMessageLine.geometry(), lineRect.translated(0, placeholder.bottom() + 1 - lineRect.top()));
    EXPECT_EQ(pView->FormSize(), units.Rect(0, 0, 500, 398).size() + placeholder.size() - units.Rect(0, 0, 500, 373).size());
    // Shrink-only fit: the frame gave back what the form does not need.
    EXPECT_LE(m_pFrame->width(), 900);
    EXPECT_LE(m_pFrame->height(), 800);

    EXPECT_EQ(pSheet->GetActiveIndex(), 1);
    EXPECT_TRUE(pSheet->m_pageSetup.IsInitialized());
    EXPECT_EQ(&Page(), &pSheet->m_pageEmu0);

    CMessageLine& line = pView->m_wndMessageLine;
    EXPECT_EQ(line.toPlainText(), QStringLiteral("Tarvex Emulator program"));
    QTextCursor cursor(line.document());
    cursor.movePosition(QTextCursor::NextCharacter);
    const QTextCharFormat fmt = cursor.charFormat();
    EXPECT_EQ(fmt.fontWeight(), QFont::Bold);
    EXPECT_EQ(fmt.fontPointSize(), 21.0);
    EXPECT_EQ(fmt.foreground().color(), QColor(0, 255, 0));
    EXPECT_TRUE(fmt.fontFamilies().toStringList().contains(QStringLiteral("Arial")));
    EXPECT_EQ(line.BackgroundColor(), QColor(Qt::black));
    EXPECT_FALSE(line.isEnabled());
    EXPECT_EQ(line.focusPolicy(), Qt::NoFocus);

    // A repeated first update (File New, File Open) keeps the one sheet and its banner.
    pView->OnInitialUpdate();
    EXPECT_EQ(pView->m_pPropertySheet, pSheet);
    EXPECT_EQ(pView->Placeholder()->findChildren<CMyPropertySheet*>().size(), 1);
    EXPECT_EQ(line.toPlainText(), QStringLiteral("Tarvex Emulator program"));
    EXPECT_EQ(m_pFrame->statusBar()->currentMessage(), QString());
}

// A field that fails its check as the program ends says so over the main window while that
// is still on screen; the settings are saved all the same.
TEST_F(FrameTest, CheckFailingAtExitShowsOverTheShownWindow)
{
    m_dir.Write("tarvex.ini", "[BUFFERPAGE]\nm_csBufferStop=123456789\n");
    Open();
    m_pFrame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pFrame.get()));
    Page().m_pFillValue->setText(QStringLiteral("3C")); // read before the failing field
    std::vector<std::pair<QWidget*, bool>> seen; // owner, and whether it was on screen
    CMessageBoxHook hook([&](QWidget* pOwner, const QString&) { seen.emplace_back(pOwner, pOwner && pOwner->isVisible()); });
    m_pFrame->Action(ID_APP_EXIT)->trigger();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, m_pFrame.get());
    EXPECT_TRUE(seen[0].second);
    EXPECT_FALSE(m_pFrame->isVisible());
    m_pFrame.reset(); // the page goes without a second message
    EXPECT_EQ(seen.size(), 1u);
    const std::string ini = m_dir.Read("tarvex.ini");
    EXPECT_NE(ini.find("m_csFillValue=00"), std::string::npos) << ini;
}

TEST_F(FrameTest, SettingsAreWrittenAtExitWithTheEightKeys)
{
    Open();
    Page().m_pFillValue->setText(QStringLiteral("3C"));
    m_pFrame->Action(ID_APP_EXIT)->trigger();
    EXPECT_FALSE(m_pFrame->isVisible());
    m_pFrame.reset();
    const std::string ini = m_dir.Read("tarvex.ini");
    EXPECT_EQ(ini.rfind("[BUFFERPAGE]", 0), 0u) << ini;
    int nKeys = 0;
    for (const char* key : {"m_sFileName=", "m_nFileFormat=", "m_csBufferOffset=", "m_csFileOffset=",
                            "m_csBufferStart=", "m_csBufferStop=", "m_csFillValue=3C", "m_nRomSize="})
        nKeys += ini.find(key) != std::string::npos ? 1 : 0;
    EXPECT_EQ(nKeys, 8) << ini;
    EXPECT_EQ(m_log.Count(), 1); // the start-up search; exit asks nothing
}

} // namespace

namespace {

TEST_F(FrameTest, EditCommandsFollowTheFocusedEditor)
{
    Open();
    m_pFrame->show();
    m_pFrame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pFrame.get()));
    QApplication::clipboard()->clear();
    CHexEdit* pEditor = Page().m_wndHexEdit;
    pEditor->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), pEditor);
    // No selection: nothing to cut or copy; paste and its keys are offered.
    EXPECT_FALSE(Enabled(ID_EDIT_CUT));
    EXPECT_FALSE(Enabled(ID_EDIT_COPY));
    EXPECT_TRUE(Enabled(ID_EDIT_PASTE));
    EXPECT_FALSE(Enabled(ID_EDIT_UNDO));
    QTest::keyClick(pEditor, Qt::Key_Right, Qt::ShiftModifier);
    ASSERT_TRUE(pEditor->Model().HasSelection());
    EXPECT_TRUE(Enabled(ID_EDIT_CUT));
    EXPECT_TRUE(Enabled(ID_EDIT_COPY));
    m_pFrame->Action(ID_EDIT_COPY)->trigger();
    EXPECT_FALSE(QApplication::clipboard()->text().isEmpty());
    // Cut takes the selected byte out of the editor's copy.
    m_pFrame->Action(ID_EDIT_CUT)->trigger();
    std::vector<std::uint8_t> bytes(8192);
    EXPECT_EQ(pEditor->GetData(bytes.data(), 8192), 8191);
    // The key table's second keys act as Cut, Copy and Paste, not as the editor's Delete and Insert.
    auto length = [pEditor] {
        std::vector<std::uint8_t> bytes(8192);
        return pEditor->GetData(bytes.data(), 8192);
    };
    QApplication::clipboard()->clear();
    QTest::keyClick(pEditor, Qt::Key_Right, Qt::ShiftModifier);
    ASSERT_TRUE(pEditor->Model().HasSelection());
    const int nBefore = length();
    QTest::keyClick(pEditor, Qt::Key_Insert, Qt::ControlModifier);
    const QString copied = QApplication::clipboard()->text();
    EXPECT_FALSE(copied.isEmpty());
    EXPECT_EQ(length(), nBefore);
    QTest::keyClick(pEditor, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_LT(length(), nBefore);
    EXPECT_EQ(QApplication::clipboard()->text(), copied);
    QTest::keyClick(pEditor, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(length(), nBefore);
    // With nothing selected Cut and Copy are greyed, and their keys do nothing at all: no
    // Delete, no switch to insert mode.
    ASSERT_FALSE(pEditor->Model().HasSelection());
    QTest::keyClick(pEditor, Qt::Key_Delete, Qt::ShiftModifier);
    QTest::keyClick(pEditor, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(length(), nBefore);
    QTest::keyClick(pEditor, Qt::Key_A);
    EXPECT_EQ(length(), nBefore);
    // Alt+Backspace is Undo; with nothing to undo it does not delete the byte before the caret.
    pEditor->SetData(Page().RomBuffer(), 8192);
    pEditor->setFocus();
    QTest::keyClick(pEditor, Qt::Key_Right);
    QTest::keyClick(pEditor, Qt::Key_Right);
    ASSERT_FALSE(Enabled(ID_EDIT_UNDO));
    QTest::keyClick(pEditor, Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_EQ(length(), 8192);

    // Elsewhere the edit commands are greyed.
    Page().m_pFileName->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), Page().m_pFileName);
    for (int nId : {ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE, ID_EDIT_UNDO})
        EXPECT_FALSE(Enabled(nId)) << nId;
}

} // namespace

namespace {

// Sends a tool-tip request to a widget and returns what the tip shows.
QString ToolTipOf(QWidget* pWidget)
{
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), pWidget->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(pWidget, &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

TEST_F(FrameTest, ToolTipsOnlyWhereTheStringTableHasThem)
{
    Open();
    m_pFrame->show();
    QToolBar* pBar = m_pFrame->m_wndToolBar;
    // A hidden tip lingers for a moment, so the silent buttons go first.
    for (int nId : {ID_EMULATOR_SETUP, ID_EMULATOR_RUN, ID_EMULATOR_STOP, ID_TARGET_RESET})
        EXPECT_EQ(ToolTipOf(pBar->widgetForAction(m_pFrame->Action(nId))), QString()) << nId;
    EXPECT_EQ(ToolTipOf(pBar->widgetForAction(m_pFrame->Action(ID_FILE_NEW))), QStringLiteral("New"));
    EXPECT_EQ(ToolTipOf(pBar->widgetForAction(m_pFrame->Action(ID_FILE_PRINT))), QStringLiteral("Print"));
    QToolTip::hideText();
}

} // namespace

namespace {

TEST_F(FrameTest, GoesWhileABarControlHasTheFocus)
{
    Attach(1);
    Open();
    m_pFrame->show();
    m_pFrame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pFrame.get()));
    QComboBox* pRomType = m_pFrame->m_wndEmulatorBar->m_pRomType;
    pRomType->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), pRomType);
    m_pFrame.reset();
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
}

} // namespace

namespace {

TEST_F(FrameTest, FormScrollsInAWindowSmallerThanIt)
{
    Open();
    m_pFrame->show();
    auto* pArea = qobject_cast<QScrollArea*>(m_pFrame->centralWidget());
    ASSERT_NE(pArea, nullptr);
    EXPECT_EQ(pArea->widget(), m_pFrame->View());
    QApplication::processEvents();
    // Fitted to the form at start: nothing to scroll.
    EXPECT_FALSE(pArea->verticalScrollBar()->isVisible());
    EXPECT_FALSE(pArea->horizontalScrollBar()->isVisible());
    m_pFrame->resize(400, 300);
    QApplication::processEvents();
    EXPECT_EQ(m_pFrame->View()->size(), m_pFrame->View()->FormSize());
    ASSERT_TRUE(pArea->verticalScrollBar()->isVisible());
    ASSERT_TRUE(pArea->horizontalScrollBar()->isVisible());
    // The message line at the bottom is within reach.
    pArea->verticalScrollBar()->setValue(pArea->verticalScrollBar()->maximum());
    const QRect line(m_pFrame->View()->m_wndMessageLine.mapTo(pArea->viewport(), QPoint(0, 0)),
                     m_pFrame->View()->m_wndMessageLine.size());
    EXPECT_TRUE(pArea->viewport()->rect().contains(QPoint(line.left(), line.bottom())));
}

} // namespace

namespace {

// The emulator bar in units of its 9-point font: every list shows its entries whole ("16 Bits"
// too) and no control touches another. The frame still fits the form exactly.
TEST_F(FrameTest, EmulatorBarAndFormFitTheirFonts)
{
    Attach(1);
    Open();
    m_pFrame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pFrame.get()));
    CEmulatorBar* pBar = m_pFrame->m_wndEmulatorBar;
    EXPECT_EQ(pBar->font().pointSize(), 9);
    EXPECT_EQ(m_pFrame->View()->font().pointSize(), 9);
    const CDialogUnits units(pBar->font());
    // Placed by those units; a control may only have grown, and moved right by what grew before it.
    const QRect find = units.Rect(285, 1, 45, 14);
    EXPECT_EQ(pBar->m_pFind->y(), find.y());
    EXPECT_EQ(pBar->m_pFind->height(), find.height());
    EXPECT_GE(pBar->m_pFind->x(), find.x());
    EXPECT_GE(pBar->m_pFind->width(), find.width());
    ASSERT_EQ(pBar->m_pDataBits->count(), 2);
    ExpectControlsApart(pBar);
    EXPECT_GE(pBar->width(), pBar->m_pFind->geometry().right() + 1);

    // The About box in units of its 9-point font shows its texts whole too.
    {
        CAboutBox box(m_pFrame.get());
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
        EXPECT_EQ(box.font().pointSize(), 9);
        EXPECT_EQ(box.size(), CDialogUnits(box.font()).Rect(0, 0, 235, 75).size());
        ExpectControlsApart(&box);
    }

    QApplication::processEvents();
    auto* pArea = qobject_cast<QScrollArea*>(m_pFrame->centralWidget());
    ASSERT_NE(pArea, nullptr);
    EXPECT_EQ(pArea->viewport()->size(), m_pFrame->View()->FormSize());
    EXPECT_FALSE(pArea->verticalScrollBar()->isVisible());
    EXPECT_FALSE(pArea->horizontalScrollBar()->isVisible());
}

} // namespace

namespace {

TEST_F(FrameTest, StartWithABusyEmulatorSaysItIsBusy)
{
    SSimOptions busy = SimEmulators(1);
    busy.bBusy = true;
    m_pSim = std::make_unique<CSimulator>(busy);
    Open();
    // One message, and the true one: an emulator is there but held by another program.
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().startsWith(QStringLiteral("Could not open the Device\nbusy: another program is using Ezusb-0")))
        << m_log.Last().toStdString();
    EXPECT_FALSE(m_log.Last().contains(QStringLiteral("Could not find Driver")));
    EXPECT_EQ(m_pFrame->m_wndEmulatorBar->m_pTarget->count(), 0);
    // Each operation then says it once, not once a block.
    Page().OnWrite();
    EXPECT_EQ(m_log.Count(), 2);
    EXPECT_TRUE(m_log.Last().startsWith(QStringLiteral("Could not open the Device\n")));
}

TEST_F(FrameTest, FailedDownloadSaysOnTheMessageLineHowFarItGot)
{
    Attach(1);
    Open();
    m_pFrame->m_wndEmulatorBar->m_pRomType->setCurrentIndex(3); // 27C512: two blocks
    CMessageLine& line = m_pFrame->View()->m_wndMessageLine;
    // Transfer 3 is the second block's command: the first block went through.
    m_pSim->ClearLog();
    m_pSim->SetFaults(3, 0, 0, 0);
    Page().OnWrite();
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().startsWith(QStringLiteral("The transfer to the Device failed\n"))) << m_log.Last().toStdString();
    EXPECT_TRUE(m_log.Last().contains(QStringLiteral("check the target's power")));
    EXPECT_EQ(line.toPlainText(), QStringLiteral("1 of 2 blocks were written."));
    EXPECT_EQ(m_pFrame->statusBar()->currentMessage(), QStringLiteral("1 of 2 blocks were written."));
    // The next download that goes through gives the line back to the banner.
    m_pSim->ClearLog();
    m_pSim->SetFaults(0, 0, 0, 0);
    Page().OnWrite();
    EXPECT_EQ(m_log.Count(), 1);
    EXPECT_EQ(line.toPlainText(), QStringLiteral("Tarvex Emulator program"));
    EXPECT_EQ(m_pFrame->statusBar()->currentMessage(), QString());
}

TEST_F(FrameTest, FindAndSaveKeysWorkOnTheBuffer)
{
    Attach(1);
    Open();
    m_pFrame->show();
    m_pFrame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_pFrame.get()));
    CPageEmu0& p = Page();
    p.RomBuffer()[0x40] = 0xC3;
    p.RomBuffer()[0x1040] = 0xC3;
    p.ChangeRomType(0); // the editor shows the buffer
    int nAsked = 0;
    p.m_askFind = [&](QWidget*, const SFindRequest&) {
        ++nAsked;
        return std::optional<SFindRequest>(SFindRequest{QStringLiteral("C3"), true});
    };
    CHexEdit* pEditor = p.m_wndHexEdit;
    pEditor->setFocus();
    QTest::keyClick(pEditor, Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(nAsked, 1);
    EXPECT_EQ(pEditor->Model().SelLow(), 0x40);
    QTest::keyClick(pEditor, Qt::Key_F3);
    EXPECT_EQ(nAsked, 1);
    EXPECT_EQ(pEditor->Model().SelLow(), 0x1040);
    // Neither key typed into the buffer.
    std::vector<std::uint8_t> bytes(8192);
    pEditor->GetData(bytes.data(), 8192);
    EXPECT_EQ(bytes[0], 0x00);

    // Ctrl+S saves the buffer to the named file; Ctrl+Shift+S asks for a name first.
    const QString out = QString::fromStdString(m_dir.Path("keys.hex"));
    p.m_pFileName->setText(out);
    QTest::keyClick(pEditor, Qt::Key_S, Qt::ControlModifier);
    EXPECT_NE(m_dir.Read("keys.hex").find(":00000001FF"), std::string::npos);
    int nChosen = 0;
    p.m_chooseSaveFile = [&](QWidget*, const QString& current) {
        ++nChosen;
        EXPECT_EQ(current, out);
        return QString();
    };
    QTest::keyClick(pEditor, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(nChosen, 1);
    EXPECT_EQ(m_log.Count(), 0) << m_log.Last().toStdString();
}

// On a 1366x768 screen with a title bar and a panel, the whole window fits, status bar
// included: the emulator bar joins the tool bar's row and the page area scrolls. A large screen
// changes nothing.
TEST_F(FrameTest, FitsALaptopScreenAndLeavesALargeOneAlone)
{
    Attach(1);
    Open();
    const QSize natural = m_pFrame->size();
    ASSERT_EQ(m_pFrame->NeededSize(), natural);
    // A panel of 26 pixels at the bottom, a title bar of 24 and borders of 5, as icewm draws them.
    const QRect area(0, 0, 1366, 768 - 26);
    const QMargins frame(5, 24, 5, 5);
    ASSERT_GT(natural.height() + frame.top() + frame.bottom(), area.height()) << "nothing to fit";
    m_pFrame->FitToScreen(area, frame);
    m_pFrame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pFrame.get()));
    QApplication::processEvents();
    EXPECT_TRUE(m_pFrame->EmulatorBarBesideToolBar());
    const QRect outer(m_pFrame->pos(), m_pFrame->size().grownBy(frame)); // a window's position is its frame's
    EXPECT_TRUE(area.contains(outer)) << outer.x() << "," << outer.y() << " " << outer.width() << "x" << outer.height();
    EXPECT_LT(m_pFrame->height(), natural.height());
    // Both bars in one row, whole; the status bar inside the window.
    EXPECT_EQ(m_pFrame->m_wndToolBar->y(), m_pFrame->m_wndReBar->y());
    EXPECT_LE(m_pFrame->m_wndReBar->geometry().right(), m_pFrame->width());
    EXPECT_GE(m_pFrame->m_wndReBar->width(), m_pFrame->m_wndReBar->sizeHint().width());
    EXPECT_TRUE(m_pFrame->statusBar()->isVisible());
    EXPECT_LE(m_pFrame->statusBar()->geometry().bottom(), m_pFrame->height() - 1);
    // The page area scrolls up and down only, and its bottom is in reach.
    auto* pArea = qobject_cast<QScrollArea*>(m_pFrame->centralWidget());
    ASSERT_NE(pArea, nullptr);
    EXPECT_TRUE(pArea->verticalScrollBar()->isVisible());
    EXPECT_FALSE(pArea->horizontalScrollBar()->isVisible());
    pArea->verticalScrollBar()->setValue(pArea->verticalScrollBar()->maximum());
    const CMessageLine& line = m_pFrame->View()->m_wndMessageLine;
    const QRect lineRect(line.mapTo(pArea->viewport(), QPoint(0, 0)), line.size());
    EXPECT_TRUE(pArea->viewport()->rect().contains(lineRect)) << lineRect.y() << " " << lineRect.height();

    // A full-HD screen: the window keeps its size and its two rows of bars.
    m_pFrame.reset();
    Open();
    m_pFrame->FitToScreen(QRect(0, 0, 1920, 1080 - 26), frame);
    EXPECT_EQ(m_pFrame->size(), natural);
    EXPECT_FALSE(m_pFrame->EmulatorBarBesideToolBar());
}

} // namespace
