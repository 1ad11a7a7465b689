// SPDX-License-Identifier: MIT
// Start-up, the document commands, the recent-file list and the About box.
#include "apptest.h"

#include "app/aboutbox.h"
#include "app/tarvexapp.h"
#include "pages/propertysheet.h"
#include "frame/commandids.h"
#include "frame/mainframe.h"
#include "view/tarvexview.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QApplication>
#include <QMessageBox>
#include <QRadioButton>

#include <sys/stat.h>

namespace {

class AppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Every test starts with an empty recent-file list.
        QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Tarvex")).clear();
        m_pSim = std::make_unique<CSimulator>(SimEmulators(1));
        m_pApp = std::make_unique<CTarvexApp>(m_dir.Path("tarvex.ini"));
    }
    void TearDown() override
    {
        m_pApp.reset();
        m_pSim.reset();
    }
    CMainFrame& Frame() const { return *m_pApp->MainFrame(); }

    CMessageLog m_log;
    CTestDir m_dir;
    std::unique_ptr<CSimulator> m_pSim;
    std::unique_ptr<CTarvexApp> m_pApp;
};

TEST_F(AppTest, StartWithoutArguments)
{
    ASSERT_TRUE(m_pApp->InitInstance({}));
    EXPECT_TRUE(Frame().isVisible());
    EXPECT_EQ(m_pApp->Document().GetTitle(), QStringLiteral("Untitled"));
    EXPECT_TRUE(m_pApp->Document().GetPathName().isEmpty());
    EXPECT_EQ(Frame().View()->m_pPropertySheet->GetActiveIndex(), 1);
    EXPECT_EQ(Frame().View()->m_wndMessageLine.toPlainText(), QStringLiteral("Tarvex Emulator program"));
    EXPECT_EQ(QSettings().organizationName(), QStringLiteral("Local AppWizard-Generated Applications"));
    EXPECT_EQ(QSettings().applicationName(), QStringLiteral("Tarvex"));
    EXPECT_EQ(m_log.Count(), 0);
}

TEST_F(AppTest, FileNewAsksNothingAndKeepsTheSheet)
{
    ASSERT_TRUE(m_pApp->InitInstance({}));
    CMyPropertySheet* pSheet = Frame().View()->m_pPropertySheet;
    Frame().BufferPage()->m_pFillValue->setText(QStringLiteral("AA"));
    Frame().Action(ID_FILE_NEW)->trigger();
    EXPECT_EQ(m_log.Count(), 0);
    EXPECT_EQ(Frame().View()->m_pPropertySheet, pSheet);
    EXPECT_EQ(m_pApp->Document().GetTitle(), QStringLiteral("Untitled"));
    // The page was not rebuilt: what was typed is still there.
    EXPECT_EQ(Frame().BufferPage()->m_pFillValue->text(), QStringLiteral("AA"));
}

TEST_F(AppTest, OpenLoadsTheFileIntoBufferZeroAndEntersTheRecentList)
{
    m_dir.Write("doc.tvx", "anything at all");
    const QString path = QString::fromStdString(m_dir.Path("doc.tvx"));
    ASSERT_TRUE(m_pApp->InitInstance({path}));
    EXPECT_EQ(m_pApp->Document().GetTitle(), QStringLiteral("doc.tvx"));
    // The file is in the File Name field and in the buffer, read as what it looks like.
    CPageEmu0& page = *Frame().BufferPage();
    EXPECT_EQ(page.m_pFileName->text(), path);
    EXPECT_TRUE(page.m_pFormat[1]->isChecked());
    EXPECT_EQ(page.m_pBytesRead->text(), QStringLiteral("0000000f"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(page.RomBuffer()), 15), "anything at all");
    EXPECT_EQ(m_pApp->RecentFiles(), QStringList({path}));
    // The caption stays the fixed title, whatever document is open.
    EXPECT_EQ(Frame().windowTitle(), QStringLiteral("Tarvex Emulator by the Tarvex developers "));
    EXPECT_EQ(m_dir.Read("doc.tvx"), "anything at all");
    EXPECT_EQ(Frame().Action(ID_FILE_MRU_FILE1)->text(), QStringLiteral("&1 ") + path);
    EXPECT_TRUE(Frame().Action(ID_FILE_MRU_FILE1)->isEnabled());
    EXPECT_EQ(m_log.Count(), 0);

    // Open from the menu, through the chooser.
    m_dir.Write("second.tvx", "");
    const QString second = QString::fromStdString(m_dir.Path("second.tvx"));
    m_pApp->m_chooseOpenFile = [&](QWidget*) { return second; };
    Frame().Action(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(m_pApp->Document().GetTitle(), QStringLiteral("second.tvx"));
    EXPECT_EQ(m_pApp->RecentFiles(), QStringList({second, path}));
    EXPECT_EQ(page.m_pFileName->text(), second);
    EXPECT_EQ(page.m_pBytesRead->text(), QStringLiteral("00000000"));
    // A recent entry opens its file.
    Frame().Action(ID_FILE_MRU_FILE1 + 1)->trigger();
    EXPECT_EQ(m_pApp->Document().GetTitle(), QStringLiteral("doc.tvx"));
    EXPECT_EQ(m_pApp->RecentFiles(), QStringList({path, second}));
}

TEST_F(AppTest, OpeningAPipeDoesNotWaitForAWriter)
{
    const std::string fifo = m_dir.Path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(m_pApp->InitInstance({}));
    EXPECT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(fifo)));
    EXPECT_EQ(m_pApp->Document().GetTitle(), QStringLiteral("pipe"));
}

TEST_F(AppTest, StartWithAFileThatCannotBeOpenedEnds)
{
    const QString missing = QString::fromStdString(m_dir.Path("gone.tvx"));
    EXPECT_FALSE(m_pApp->InitInstance({missing}));
    EXPECT_EQ(m_pApp->MainFrame(), nullptr);
    ASSERT_GE(m_log.Count(), 1);
    EXPECT_EQ(m_log.Last(), QStringLiteral("\"%1\" was not found.").arg(missing));
    EXPECT_TRUE(m_pApp->RecentFiles().isEmpty());
}

TEST_F(AppTest, CommandLineHexFileIsLoadedAsIntelHex)
{
    m_dir.Write("fw.hex", ":040010001122334442\r\n:00000001FF\r\n");
    const QString path = QString::fromStdString(m_dir.Path("fw.hex"));
    // A stored format that does not fit the file gives way to what the file looks like.
    m_dir.Write("tarvex.ini", "[BUFFERPAGE]\nm_nFileFormat=1\n");
    ASSERT_TRUE(m_pApp->InitInstance({path}));
    CPageEmu0& page = *Frame().BufferPage();
    EXPECT_TRUE(page.m_pFormat[0]->isChecked());
    EXPECT_EQ(page.RomBuffer()[0x10], 0x11);
    EXPECT_EQ(page.RomBuffer()[0x13], 0x44);
    EXPECT_EQ(page.m_pBytesRead->text(), QStringLiteral("00000014"));
    EXPECT_EQ(m_log.Count(), 0);
}

TEST_F(AppTest, FileSaveWritesTheBuffer)
{
    ASSERT_TRUE(m_pApp->InitInstance({}));
    CPageEmu0& page = *Frame().BufferPage();
    page.m_pFillValue->setText(QStringLiteral("00"));
    page.RomBuffer()[0] = 0x42;
    page.ChangeRomType(0);
    const QString out = QString::fromStdString(m_dir.Path("out.hex"));
    int nAsked = 0;
    page.m_chooseSaveFile = [&](QWidget*, const QString&) { return ++nAsked, out; };
    // No file named yet: Save asks for one, then writes the ROM window as Intel HEX.
    Frame().Action(ID_FILE_SAVE)->trigger();
    EXPECT_EQ(nAsked, 1);
    EXPECT_EQ(page.m_pFileName->text(), out);
    const std::string text = m_dir.Read("out.hex");
    EXPECT_EQ(text.rfind(":1000000042", 0), 0u) << text.substr(0, 40);
    EXPECT_NE(text.find(":00000001FF"), std::string::npos);
    // Save As always asks.
    Frame().Action(ID_FILE_SAVE_AS)->trigger();
    EXPECT_EQ(nAsked, 2);
    EXPECT_EQ(m_log.Count(), 0);
}

TEST_F(AppTest, SaveNeverReplacesAnOpenedFileUnasked)
{
    // One data byte: a file that sets none draws a warning box of its own.
    m_dir.Write("image.hex", ":0100000000FF\n:00000001FF\n");
    const QString path = QString::fromStdString(m_dir.Path("image.hex"));
    ASSERT_TRUE(m_pApp->InitInstance({path}));
    CMessageBoxHook no([&](QWidget*, const QString& text) { m_log.m_messages.push_back({nullptr, text}); });
    no.SetAnswer(false);
    Frame().Action(ID_FILE_SAVE)->trigger();
    EXPECT_EQ(m_dir.Read("image.hex"), ":0100000000FF\n:00000001FF\n");
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().contains(QStringLiteral("is the file the buffer was loaded from")));
}

TEST_F(AppTest, RecentListKeepsTheFourNewest)
{
    ASSERT_TRUE(m_pApp->InitInstance({}));
    QStringList opened;
    for (int i = 0; i < 5; ++i) {
        const std::string name = std::string("f").append(std::to_string(i));
        m_dir.Write(name.c_str(), "");
        opened.prepend(QString::fromStdString(m_dir.Path(name.c_str())));
        ASSERT_TRUE(m_pApp->OpenDocumentFile(opened.front()));
    }
    EXPECT_EQ(m_pApp->RecentFiles(), opened.mid(0, 4));
    EXPECT_EQ(Frame().Action(ID_FILE_MRU_FILE1 + 3)->text(), QStringLiteral("&4 ") + opened[3]);
    EXPECT_EQ(Frame().Action(ID_FILE_MRU_FILE1 + 4), nullptr);
    // The list survives in the profile for the next start.
    CTarvexApp next(m_dir.Path("tarvex.ini"));
    EXPECT_EQ(next.RecentFiles(), opened.mid(0, 4));
}

TEST_F(AppTest, RecentEntryWhoseFileIsGoneLeavesTheList)
{
    // Not empty: an empty file draws a warning box of its own.
    m_dir.Write("a.tvx", "a");
    m_dir.Write("b.tvx", "b");
    const QString a = QString::fromStdString(m_dir.Path("a.tvx"));
    const QString b = QString::fromStdString(m_dir.Path("b.tvx"));
    ASSERT_TRUE(m_pApp->InitInstance({a}));
    ASSERT_TRUE(m_pApp->OpenDocumentFile(b));
    ASSERT_EQ(m_pApp->RecentFiles(), QStringList({b, a}));
    QFile::remove(a);
    Frame().Action(ID_FILE_MRU_FILE1 + 1)->trigger();
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_EQ(m_log.Last(), QStringLiteral("\"%1\" was not found.").arg(a));
    EXPECT_EQ(m_pApp->RecentFiles(), QStringList({b}));
    EXPECT_EQ(Frame().Action(ID_FILE_MRU_FILE1 + 1), nullptr);
    EXPECT_EQ(m_pApp->Document().GetTitle(), QStringLiteral("b.tvx"));
}

TEST_F(AppTest, ExitClosesWithoutAQuestion)
{
    ASSERT_TRUE(m_pApp->InitInstance({}));
    Frame().Action(ID_APP_EXIT)->trigger();
    EXPECT_FALSE(Frame().isVisible());
    EXPECT_EQ(m_log.Count(), 0);
}

TEST(AboutBox, TextsAndConfirmButton)
{
    CAboutBox box;
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About Tarvex"));
    QStringList texts;
    for (QLabel* pLabel : box.findChildren<QLabel*>())
        if (!pLabel->text().isEmpty())
            texts << pLabel->text();
    ASSERT_EQ(texts.size(), 4);
    EXPECT_EQ(texts[0], QStringLiteral("Tarvex Version 1.0"));
    EXPECT_TRUE(texts[1].contains(QStringLiteral("the Tarvex developers")));
    EXPECT_TRUE(texts[2].startsWith(QStringLiteral("Email) ")));
    EXPECT_TRUE(texts[3].startsWith(QStringLiteral("Web) ")));
    auto* pIcon = box.findChild<QLabel*>(QStringLiteral("icon"));
    ASSERT_NE(pIcon, nullptr);
    EXPECT_FALSE(pIcon->pixmap().isNull());
    const auto buttons = box.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), QStringLiteral("Confirm"));
    EXPECT_TRUE(buttons[0]->isDefault());
    const CDialogUnits units(box.font());
    EXPECT_EQ(box.size(), units.Rect(0, 0, 235, 75).size());
    box.show();
    buttons[0]->click();
    EXPECT_EQ(box.result(), QDialog::Accepted);
    EXPECT_FALSE(box.isVisible());
}

} // namespace

namespace {

// Closes the next modal dialog as soon as it shows and remembers its class.
class CDialogCloser : public QObject {
public:
    CDialogCloser()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto* pDialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                m_seen << QString::fromLatin1(pDialog->metaObject()->className());
                pDialog->reject();
            }
        });
        m_timer.start();
    }
    QStringList m_seen;

private:
    QTimer m_timer;
};

TEST_F(AppTest, PrintCommandsOpenTheirDialogs)
{
    ASSERT_TRUE(m_pApp->InitInstance({}));
    CDialogCloser closer;
    Frame().Action(ID_FILE_PRINT_SETUP)->trigger();
    Frame().Action(ID_FILE_PRINT_PREVIEW)->trigger();
    Frame().Action(ID_FILE_PRINT)->trigger();
    EXPECT_EQ(closer.m_seen, QStringList({"QPageSetupDialog", "QPrintPreviewDialog", "QPrintDialog"}));
    closer.m_seen.clear();
    Frame().Action(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(closer.m_seen, QStringList({"CAboutBox"}));
    EXPECT_EQ(m_log.Count(), 0);
}

} // namespace

namespace {

// A signal ends the program while a box is open: the box closes at once, later ones are not
// shown, and a question is answered No, so nothing waits for a click.
TEST(MessageBoxes, EndedBoxesCloseAndWaitForNoClick)
{
    ASSERT_FALSE(MessageBoxesEnded());
    QStringList seen;
    QTimer::singleShot(0, [&seen] {
        if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            seen << pBox->text();
        SetMessageBoxesEnded(true);
    });
    TarvexMessageBox(nullptr, QStringLiteral("Could not open the Device"));
    EXPECT_EQ(seen, QStringList({QStringLiteral("Could not open the Device")}));
    EXPECT_TRUE(MessageBoxesEnded());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    TarvexMessageBox(nullptr, QStringLiteral("not shown"));
    EXPECT_FALSE(TarvexQuestion(nullptr, QStringLiteral("Replace it?")));
    SetMessageBoxesEnded(false);
}

} // namespace
