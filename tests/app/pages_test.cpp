// SPDX-License-Identifier: MIT
// The property sheet and its two pages, driven offscreen with a stand-in frame.
#include "apptest.h"
#include "layoutcheck.h"

#include "pages/propertysheet.h"
#include "emulink/usbtransport.h"
#include "hexedit/hexedit.h"

#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTreeWidget>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QTimer>

#include "image/imageloader.h"
#include "image/imagewriter.h"

#include <algorithm>
#include <cstring>

namespace {

class PagesTest : public ::testing::Test {
protected:
    // Builds the sheet as the view does: create, then page 0, then page 1.
    void Open()
    {
        m_frame.m_strSettings = m_dir.Path("tarvex.ini");
        m_pSheet = std::make_unique<CMyPropertySheet>(QStringLiteral("Sheet"), nullptr, 0, &m_frame);
        m_pSheet->Create();
        m_pSheet->SetActivePage(0);
        m_pSheet->SetActivePage(1);
    }
    // A simulated emulator (or none) and a transport for the page.
    void Attach(int nEmulators)
    {
        m_pSim = std::make_unique<CSimulator>(SimEmulators(nEmulators));
        m_pTransport = std::make_unique<CUsbTransport>();
        m_frame.m_pTransport = m_pTransport.get();
    }
    void Settings(const std::string& lines) { m_dir.Write("tarvex.ini", "[BUFFERPAGE]\n" + lines); }
    CPageEmu0& Page() { return m_pSheet->m_pageEmu0; }
    CPageSetup& SetupPage() { return m_pSheet->m_pageSetup; }
    bool BufferAll(std::uint8_t b, std::size_t n = kRomImageSize)
    {
        const std::uint8_t* p = Page().RomBuffer();
        return std::all_of(p, p + n, [b](std::uint8_t x) { return x == b; });
    }
    // The editor's copy of the bytes.
    std::vector<std::uint8_t> Editor()
    {
        std::vector<std::uint8_t> bytes(kRomImageSize + 1);
        const int n = Page().m_wndHexEdit->GetData(bytes.data(), int(bytes.size()));
        bytes.resize(std::size_t(std::max(n, 0)));
        return bytes;
    }
    static bool All(const std::vector<std::uint8_t>& v, std::uint8_t b)
    {
        return std::all_of(v.begin(), v.end(), [b](std::uint8_t x) { return x == b; });
    }
    void TearDown() override
    {
        m_pSheet.reset();
        m_pTransport.reset();
        m_pSim.reset();
    }

    CMessageLog m_log;
    CTestDir m_dir;
    CFakeFrame m_frame;
    CMessageBoxSink m_sink;
    std::unique_ptr<CSimulator> m_pSim;
    std::unique_ptr<CUsbTransport> m_pTransport;
    std::unique_ptr<CMyPropertySheet> m_pSheet;
};

TEST_F(PagesTest, TabsInOrderWithBufferPageInFrontAndSetupCreated)
{
    Open();
    ASSERT_EQ(m_pSheet->count(), 2);
    EXPECT_EQ(m_pSheet->tabText(0), QStringLiteral("  Setup  "));
    EXPECT_EQ(m_pSheet->tabText(1), QStringLiteral(" Buffer 0 "));
    EXPECT_EQ(m_pSheet->GetActiveIndex(), 1);
    EXPECT_EQ(m_pSheet->currentIndex(), 1);
    EXPECT_TRUE(SetupPage().IsInitialized());
    EXPECT_TRUE(Page().IsInitialized());
    EXPECT_TRUE(SetupPage().m_pHi->isChecked());
    EXPECT_FALSE(SetupPage().m_pLow->isChecked());
    EXPECT_EQ(SetupPage().m_pPulseDuration->text(), QStringLiteral("100"));
    EXPECT_EQ(m_log.Count(), 0);
}

TEST_F(PagesTest, PulseDurationIsCheckedWhenLeavingTheSetupPage)
{
    Open();
    ASSERT_TRUE(m_pSheet->SetActivePage(0));
    struct SCase {
        const char* text;
        bool bAccepted;
        unsigned nValue;
        const char* message;
    };
    const SCase cases[] = {
        {"1000", true, 1000, nullptr},
        {" 7 ", true, 7, nullptr},
        {"0", true, 0, nullptr},
        {"1001", false, 0, "Please enter an integer between 0 and 1000."},
        {"abc", false, 0, "Please enter a positive integer."},
        {"-5", false, 0, "Please enter a positive integer."},
        {"", false, 0, "Please enter a positive integer."},
        {"99999999999", false, 0, "Please enter a positive integer."},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.text);
        m_log.m_messages.clear();
        SetupPage().m_pPulseDuration->setText(QString::fromLatin1(c.text));
        m_pSheet->setCurrentIndex(1); // what a click on the tab does
        if (c.bAccepted) {
            EXPECT_EQ(m_pSheet->currentIndex(), 1);
            EXPECT_EQ(SetupPage().m_nPulseDuration, c.nValue);
            EXPECT_EQ(m_log.Count(), 0);
            // Coming back writes the member to the field again.
            m_pSheet->setCurrentIndex(0);
            EXPECT_EQ(SetupPage().m_pPulseDuration->text(), QString::number(c.nValue));
        } else {
            EXPECT_EQ(m_pSheet->currentIndex(), 0);
            EXPECT_EQ(m_pSheet->GetActiveIndex(), 0);
            EXPECT_EQ(m_log.Count(), 1);
            EXPECT_EQ(m_log.Last(), QString::fromLatin1(c.message));
            EXPECT_EQ(SetupPage().FailedControl(), SetupPage().m_pPulseDuration);
            // What the user typed stays, selected, so that typing replaces it.
            EXPECT_EQ(SetupPage().m_pPulseDuration->text(), QString::fromLatin1(c.text));
            EXPECT_EQ(SetupPage().m_pPulseDuration->selectedText(), QString::fromLatin1(c.text));
            EXPECT_EQ(SetupPage().m_pPulseDuration->cursorPosition(), int(std::strlen(c.text)));
        }
    }
    SetupPage().m_pLow->setChecked(true);
    SetupPage().m_pPulseDuration->setText(QStringLiteral("250"));
    EXPECT_TRUE(m_pSheet->SetActivePage(1));
    EXPECT_EQ(SetupPage().m_nActivation, 1);
}

TEST_F(PagesTest, PageBeingLeftStaysInFrontWhileItsMessageShows)
{
    Settings("m_csBufferStop=123456789\n");
    Open();
    std::vector<QWidget*> shown; // the page in front when each message came
    CMessageBoxHook hook([&](QWidget*, const QString&) { shown.push_back(m_pSheet->currentWidget()); });
    // The buffer page's over-long stored field refuses the change to the Setup tab.
    m_pSheet->setCurrentIndex(0);
    EXPECT_EQ(shown, std::vector<QWidget*>({&Page()}));
    EXPECT_EQ(m_pSheet->currentIndex(), 1);
    // The field that failed has its text selected, so typing replaces it.
    EXPECT_EQ(Page().m_pBufferStop->selectedText(), QStringLiteral("123456789"));
    Page().m_pBufferStop->setText(QStringLiteral("0000FFFF"));
    m_pSheet->setCurrentIndex(0);
    ASSERT_EQ(m_pSheet->currentIndex(), 0);
    // The Setup page's failed check, the same.
    SetupPage().m_pPulseDuration->setText(QStringLiteral("1001"));
    m_pSheet->setCurrentIndex(1);
    EXPECT_EQ(shown, std::vector<QWidget*>({&Page(), &SetupPage()}));
    EXPECT_EQ(m_pSheet->currentIndex(), 0);
    EXPECT_TRUE(SetupPage().m_pPulseDuration->isVisibleTo(m_pSheet.get()));
    // A passed check shows the new page and activates it once.
    SetupPage().m_pPulseDuration->setText(QStringLiteral("5"));
    m_pSheet->setCurrentIndex(1);
    EXPECT_EQ(m_pSheet->currentIndex(), 1);
    EXPECT_EQ(m_pSheet->GetActiveIndex(), 1);
    EXPECT_EQ(Page().m_pBufferStop->text(), QStringLiteral("0000FFFF"));
    EXPECT_EQ(shown.size(), 2u);
}

TEST_F(PagesTest, NoFieldCoversALabel)
{
    Open();
    for (CPropertyPage* pPage : {static_cast<CPropertyPage*>(&Page()), static_cast<CPropertyPage*>(&SetupPage())}) {
        for (QLabel* pLabel : pPage->findChildren<QLabel*>())
            for (QLineEdit* pEdit : pPage->findChildren<QLineEdit*>())
                EXPECT_FALSE(pLabel->geometry().intersects(pEdit->geometry()))
                    << pLabel->text().toStdString() << " " << pLabel->geometry().x() << "+" << pLabel->width()
                    << " vs field at " << pEdit->x();
    }
}

// The pages are laid out in dialog units of their own 10-point font.
TEST_F(PagesTest, PagesUseTheUnitsOfTheirTenPointFont)
{
    Open();
    for (CPropertyPage* pPage : {static_cast<CPropertyPage*>(&Page()), static_cast<CPropertyPage*>(&SetupPage())}) {
        EXPECT_EQ(pPage->font().pointSize(), 10);
        const CDialogUnits units(pPage->font());
        EXPECT_EQ(pPage->Units().m_nBaseX, units.m_nBaseX);
        EXPECT_EQ(pPage->Units().m_nBaseY, QFontMetrics(pPage->font()).height());
        // Never smaller than the reference page.
        EXPECT_GE(pPage->sizeHint().width(), units.X(490));
        EXPECT_GE(pPage->sizeHint().height(), units.Y(350));
    }
    // Placed by those units: the Setup page's Reset button, the buffer page's Load button.
    const CDialogUnits units(PageFont());
    EXPECT_EQ(SetupPage().m_pReset->geometry(), units.Rect(14, 20, 40, 15));
    EXPECT_EQ(Page().m_pLoad->size(), units.Rect(376, 30, 40, 15).size());
}

// The editor shows all 79 cells of a row with the vertical bar beside them, and the strip's
// "Address", "Data" and "Ascii" columns stand over the editor's three columns.
TEST_F(PagesTest, EditorShowsWholeRowsUnderItsHeaderColumns)
{
    Open();
    m_pSheet->resize(m_pSheet->sizeHint());
    m_pSheet->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pSheet.get()));
    CHexEdit* pEditor = Page().m_wndHexEdit;
    const CHexEditModel& m = pEditor->Model();
    ASSERT_TRUE(m.HasData());
    const int cw = m.CharWidth();
    ASSERT_GT(cw, 0);
    EXPECT_GE(pEditor->viewport()->width(), 79 * cw);
    QScrollBar* pBar = pEditor->verticalScrollBar();
    ASSERT_TRUE(pBar->isVisible());
    EXPECT_GE(pBar->mapTo(pEditor, QPoint(0, 0)).x(), pEditor->viewport()->geometry().right());

    // Column extents in page coordinates: the list's header sections and the editor's cells.
    QTreeWidget* pList = Page().m_wndList;
    QHeaderView* pHeader = pList->header();
    ASSERT_EQ(pHeader->count(), 3);
    auto section = [&](int i) {
        const int x = pHeader->mapTo(&Page(), QPoint(pHeader->sectionViewportPosition(i), 0)).x();
        return std::make_pair(x, x + pHeader->sectionSize(i));
    };
    auto cells = [&](int first, int count) {
        const int x = pEditor->viewport()->mapTo(&Page(), QPoint(first * cw, 0)).x();
        return std::make_pair(x, x + count * cw);
    };
    const int widths[3] = {70, 360, 140};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pHeader->sectionSize(i), widths[i]);
        // Each section is shown whole.
        EXPECT_LE(section(i).second, pHeader->mapTo(&Page(), QPoint(pHeader->width(), 0)).x()) << i;
    }
    const int addressLeft = pEditor->viewport()->mapTo(&Page(), QPoint(m.AddressLeft(), 0)).x();
    const std::pair<int, int> columns[3] = {{addressLeft, addressLeft + 8 * cw}, cells(12, 47), cells(63, 16)};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_LE(section(i).first, columns[i].first);
        EXPECT_GE(section(i).second, columns[i].second);
    }
}

// No control of either page cuts its text ("Buffer Offset", "Intel Hex" and the rest) or
// touches its neighbour; the header strip alone meets the editor under it.
TEST_F(PagesTest, NoControlCutsItsTextOrTouchesANeighbour)
{
    Settings("m_csBufferStart=FFFFFFFF\nm_csFileOffset=88888888\n");
    Open();
    m_pSheet->resize(m_pSheet->sizeHint());
    m_pSheet->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pSheet.get()));
    {
        SCOPED_TRACE("Buffer 0");
        ExpectControlsApart(&Page(), {{Page().m_wndList, Page().m_wndHexEdit}});
    }
    m_pSheet->setCurrentIndex(0);
    ASSERT_EQ(m_pSheet->currentWidget(), &SetupPage());
    {
        SCOPED_TRACE("Setup");
        ExpectControlsApart(&SetupPage());
    }
}

TEST_F(PagesTest, SetupResetSendsNothingAndChangesNothing)
{
    Attach(1);
    Open();
    m_pSheet->SetActivePage(0);
    SetupPage().m_pPulseDuration->setText(QStringLiteral("12"));
    QTest::mouseClick(SetupPage().m_pReset, Qt::LeftButton);
    EXPECT_TRUE(m_pSim->Transfers().empty());
    EXPECT_EQ(SetupPage().m_pPulseDuration->text(), QStringLiteral("12"));
    EXPECT_EQ(SetupPage().m_nPulseDuration, 100u);
    EXPECT_EQ(m_log.Count(), 0);
}

TEST_F(PagesTest, FreshStartWithoutSettingsFile)
{
    Open();
    CPageEmu0& p = Page();
    EXPECT_EQ(p.m_pFileName->text(), QString());
    for (QLineEdit* e : {p.m_pFileOffset, p.m_pBufferOffset, p.m_pBufferStart, p.m_pBufferStop})
        EXPECT_EQ(e->text(), QStringLiteral("00000000"));
    EXPECT_EQ(p.m_pFillValue->text(), QStringLiteral("00"));
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("0"));
    EXPECT_EQ(p.m_pRomSize->text(), QStringLiteral("00002000"));
    EXPECT_TRUE(p.m_pFormat[0]->isChecked());
    for (QRadioButton* b : p.m_pFormat)
        EXPECT_TRUE(b->isEnabled()) << b->text().toStdString();
    EXPECT_FALSE(p.m_pRomSize->isEnabled() || p.m_pBytesRead->isEnabled());
    EXPECT_EQ(p.RomSize(), 8192u);
    EXPECT_TRUE(BufferAll(0x00));
    const auto editor = Editor();
    EXPECT_EQ(editor.size(), 8192u);
    EXPECT_TRUE(All(editor, 0x00));
    // Typing stops at the field's limit.
    p.m_pFillValue->clear();
    QTest::keyClicks(p.m_pFillValue, QStringLiteral("ABC"));
    EXPECT_EQ(p.m_pFillValue->text(), QStringLiteral("AB"));
    p.m_pFileOffset->clear();
    QTest::keyClicks(p.m_pFileOffset, QStringLiteral("123456789"));
    EXPECT_EQ(p.m_pFileOffset->text(), QStringLiteral("12345678"));
}

TEST_F(PagesTest, FillValueFromTheSettingsFile)
{
    struct SCase {
        const char* stored;
        std::uint8_t fill;
    };
    for (const SCase c : {SCase{"FF", 0xFF}, SCase{"ZZ", 0x00}, SCase{"1FF", 0xFF}, SCase{" a5", 0xA5}}) {
        SCOPED_TRACE(c.stored);
        Settings(std::string("m_csFillValue=") + c.stored + "\n");
        Open();
        EXPECT_TRUE(BufferAll(c.fill));
        EXPECT_EQ(Editor().size(), 8192u);
        EXPECT_TRUE(All(Editor(), c.fill));
        EXPECT_EQ(Page().m_pFillValue->text(), QString::fromLatin1(c.stored).trimmed());
        m_pSheet.reset();
    }
}

TEST_F(PagesTest, StoredFormatAndRomSize)
{
    Settings("m_nFileFormat=5\nm_nRomSize=65536\n");
    m_frame.m_nCurRomSize = 32768;
    Open();
    CPageEmu0& p = Page();
    for (QRadioButton* b : p.m_pFormat)
        EXPECT_FALSE(b->isChecked());
    // The frame's size wins over the stored one.
    EXPECT_EQ(p.RomSize(), 32768u);
    EXPECT_EQ(p.m_pRomSize->text(), QStringLiteral("00008000"));
    EXPECT_TRUE(p.UpdateData(true));
    EXPECT_EQ(p.m_nFileFormat, -1);
    m_pSheet.reset();

    Settings("m_nFileFormat=2\n");
    Open();
    EXPECT_TRUE(Page().m_pFormat[2]->isChecked());
}

TEST_F(PagesTest, RomSizeChangeShowsSizeAndKeepsTypedFields)
{
    Settings("m_sFileName=/stored/name.hex\n");
    Open();
    CPageEmu0& p = Page();
    p.m_pFileName->setText(QStringLiteral("/typed/name.hex"));
    p.m_pBufferStart->setText(QStringLiteral("1234"));
    p.RomBuffer()[1048575] = 0x99;
    p.ChangeRomType(7);
    EXPECT_EQ(p.m_pRomSize->text(), QStringLiteral("00100000"));
    ASSERT_EQ(Editor().size(), 1048576u);
    EXPECT_EQ(Editor()[1048575], 0x99);
    // What was typed and not yet used stays.
    EXPECT_EQ(p.m_pFileName->text(), QStringLiteral("/typed/name.hex"));
    EXPECT_EQ(p.m_pBufferStart->text(), QStringLiteral("1234"));
    p.ChangeRomType(0);
    EXPECT_EQ(p.m_pRomSize->text(), QStringLiteral("00002000"));
    EXPECT_EQ(Editor().size(), 8192u);
    // The bytes beyond the size stayed in the buffer.
    EXPECT_EQ(p.RomBuffer()[1048575], 0x99);
    EXPECT_EQ(m_log.Count(), 0);
}

TEST_F(PagesTest, LoadBinaryBeyondTheRomSizeThenGrow)
{
    std::string image(16384, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = char(i * 7 + 3);
    m_dir.Write("image.bin", image);
    Open();
    CPageEmu0& p = Page();
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("image.bin")));
    p.m_pFormat[1]->setChecked(true);
    p.m_pFillValue->setText(QStringLiteral("FF"));
    QTest::mouseClick(p.m_pLoad, Qt::LeftButton);
    // Loaded whole, with one word that the ROM type takes only part of it.
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().contains(QStringLiteral("more than the ROM size (8192)"))) << m_log.Last().toStdString();
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("00004000"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.RomBuffer()), image.size()), image);
    EXPECT_EQ(p.RomBuffer()[16384], 0xFF);
    EXPECT_EQ(p.m_nFileFormat, 1);
    EXPECT_EQ(Editor().size(), 8192u);
    p.ChangeRomType(1);
    EXPECT_EQ(p.m_pRomSize->text(), QStringLiteral("00004000"));
    const auto editor = Editor();
    EXPECT_EQ(std::string(editor.begin(), editor.end()), image);
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("00004000"));
}

TEST_F(PagesTest, LoadIntelHexShowsTheHighestAddress)
{
    m_dir.Write("a.hex", ":10010000000102030405060708090A0B0C0D0E0F68\r\n:00000001FF\r\n");
    Open();
    CPageEmu0& p = Page();
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("a.hex")));
    p.OnLoad();
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("00000110"));
    EXPECT_EQ(p.RomBuffer()[0x10F], 0x0F);
    EXPECT_EQ(p.RomBuffer()[0x110], 0x00);
}

TEST_F(PagesTest, LoadOfAMissingFileNamesItAndChangesNothing)
{
    Open();
    CPageEmu0& p = Page();
    p.RomBuffer()[5] = 0x5A;
    const QString missing = QString::fromStdString(m_dir.Path("missing.hex"));
    p.m_pFileName->setText(missing);
    p.m_pFillValue->setText(QStringLiteral("FF"));
    p.OnLoad();
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().contains(missing)) << m_log.Last().toStdString();
    EXPECT_EQ(p.RomBuffer()[5], 0x5A);
    EXPECT_EQ(p.RomBuffer()[6], 0x00);
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("0"));
    EXPECT_EQ(p.m_pFillValue->text(), QStringLiteral("FF"));
}

TEST_F(PagesTest, TooLongStoredFieldIsReportedAndStopsTheReadingThere)
{
    std::string image(100, '\x11');
    m_dir.Write("image.bin", image);
    // Nine characters, one too many, of an offset that moves nothing: the file offset is applied now.
    Settings("m_csFileOffset=000000000\nm_nFileFormat=1\nm_sFileName=" + m_dir.Path("image.bin") + "\n");
    Open();
    CPageEmu0& p = Page();
    p.m_pFillValue->setText(QStringLiteral("FF")); // after the failing field: not read
    p.OnLoad();
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_EQ(m_log.Last(), QStringLiteral("Please enter no more than 8 characters."));
    EXPECT_EQ(p.FailedControl(), p.m_pFileOffset);
    // The load carried on with the members as they stood: fill 00, not the typed FF.
    EXPECT_EQ(p.m_csBytesRead, QStringLiteral("00000064"));
    EXPECT_EQ(p.RomBuffer()[100], 0x00);
    EXPECT_EQ(p.RomBuffer()[99], 0x11);
}

TEST_F(PagesTest, FileFindTakesTheChosenPathAndCancelKeepsAll)
{
    Open();
    CPageEmu0& p = Page();
    p.m_pFormat[1]->setChecked(true);
    p.m_pBufferStart->setText(QStringLiteral("1234"));
    QStringList folders;
    p.m_chooseFile = [&](QWidget*, const QString& strFolder) {
        folders << strFolder;
        return QStringLiteral("/chosen/file.hex");
    };
    QTest::mouseClick(p.m_pFileFind, Qt::LeftButton);
    EXPECT_EQ(p.m_pFileName->text(), QStringLiteral("/chosen/file.hex"));
    EXPECT_EQ(p.m_pBufferStart->text(), QStringLiteral("1234")); // read, then written back
    EXPECT_TRUE(p.m_pFormat[1]->isChecked());
    p.m_pFileName->setText(QStringLiteral("typed"));
    p.m_chooseFile = [&](QWidget*, const QString& strFolder) {
        folders << strFolder;
        return QString();
    };
    p.OnFileFind();
    EXPECT_EQ(p.m_pFileName->text(), QStringLiteral("typed"));
    EXPECT_EQ(p.m_sFileName, QStringLiteral("/chosen/file.hex"));
    // The chooser starts where the named file lies: none named at first; "typed" lies in the
    // working folder.
    EXPECT_EQ(folders, QStringList({QString(), QDir::current().absolutePath()}));
    p.m_pFileName->setText(QStringLiteral("/some/folder/fw.hex"));
    p.OnFileFind();
    EXPECT_EQ(folders.last(), QStringLiteral("/some/folder"));
    p.m_pFileName->clear();
    p.OnFileFind();
    EXPECT_EQ(folders.last(), QString());
}

TEST_F(PagesTest, SettingsAreWrittenWhenThePageGoes)
{
    Settings("m_csBufferStop=0000ABCD\n");
    Open();
    CPageEmu0& p = Page();
    p.m_pFileName->setText(QStringLiteral("/typed/at exit.hex"));
    p.m_pFillValue->setText(QStringLiteral("A5"));
    p.m_pFormat[1]->setChecked(true);
    m_pSheet.reset();
    const std::string ini = m_dir.Read("tarvex.ini");
    for (const char* line : {"m_sFileName=/typed/at exit.hex", "m_nFileFormat=1", "m_csBufferOffset=00000000",
                             "m_csFileOffset=00000000", "m_csBufferStart=00000000", "m_csBufferStop=0000ABCD",
                             "m_csFillValue=A5", "m_nRomSize=8192"})
        EXPECT_NE(ini.find(line), std::string::npos) << line << "\n" << ini;
    EXPECT_EQ(m_log.Count(), 0);
}

TEST_F(PagesTest, WriteSendsEveryBlockAdvancesTheBarAndEnablesRun)
{
    Attach(1);
    m_frame.m_nCurRomSize = 65536;
    Open();
    CPageEmu0& p = Page();
    p.RomBuffer()[32768] = 0x42;
    QTest::mouseClick(p.m_pWrite, Qt::LeftButton);
    const auto transfers = m_pSim->Transfers();
    ASSERT_EQ(transfers.size(), 4u);
    EXPECT_EQ(Commands(*m_pSim), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}}));
    EXPECT_EQ(transfers[1].data.size(), 32768u);
    EXPECT_EQ(transfers[3].data[0], 0x42);
    EXPECT_EQ(p.m_wndProgress->maximum(), 2);
    EXPECT_EQ(p.m_wndProgress->value(), 2);
    EXPECT_EQ(m_frame.m_nRunEnabled, 1);
    EXPECT_EQ(m_log.Count(), 0);
}

TEST_F(PagesTest, WriteWithoutEmulatorSaysSoOnceAndStillEnablesRun)
{
    Attach(0);
    m_frame.m_nCurRomSize = 65536;
    Open();
    Page().OnWrite();
    EXPECT_EQ(m_log.Count(QStringLiteral("Could not open the Device")), 1);
    EXPECT_EQ(m_log.m_messages.size(), 1u);
    EXPECT_EQ(m_log.m_messages.front().pOwner, &Page());
    EXPECT_EQ(Page().m_wndProgress->value(), 0);  // nothing went out
    EXPECT_EQ(m_frame.m_nRunEnabled, 1);
}

TEST_F(PagesTest, WriteTakesBackAtMostTheBytesReadFromTheEditor)
{
    Attach(1);
    m_dir.Write("small.bin", std::string(16, '\x01'));
    Open();
    CPageEmu0& p = Page();
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("small.bin")));
    p.m_pFormat[1]->setChecked(true);
    p.OnLoad();
    ASSERT_EQ(p.m_pBytesRead->text(), QStringLiteral("00000010"));
    // Edits all over the editor's copy; only the first 16 bytes go back.
    const std::vector<std::uint8_t> edited(8192, 0xAB);
    p.m_wndHexEdit->SetData(edited.data(), int(edited.size()));
    p.OnWrite();
    EXPECT_EQ(p.RomBuffer()[15], 0xAB);
    EXPECT_EQ(p.RomBuffer()[16], 0x00);
    const CSimFirmware fw = m_pSim->Firmware(0);
    EXPECT_EQ(fw.m_memory[0], 0xAB);
    EXPECT_EQ(fw.m_memory[15], 0xAB);
    EXPECT_EQ(fw.m_memory[16], 0x00);
    // A ROM type change discards edits not yet written.
    p.m_wndHexEdit->SetData(edited.data(), int(edited.size()));
    p.ChangeRomType(0);
    EXPECT_EQ(Editor()[100], 0x00);
}

TEST_F(PagesTest, ReadFillsTheBufferFromTheEmulator)
{
    Attach(1);
    m_pSim->SetMemory(0, 0, {1, 2, 3});
    m_pSim->SetMemory(0, 8191, {9});
    Open();
    Page().m_pBytesRead->setText(QStringLiteral("typed"));
    QTest::mouseClick(Page().m_pRead, Qt::LeftButton);
    EXPECT_EQ(Commands(*m_pSim), (std::vector<std::pair<int, int>>{{1, 0}}));
    EXPECT_EQ(Page().RomBuffer()[0], 1);
    EXPECT_EQ(Page().RomBuffer()[2], 3);
    EXPECT_EQ(Page().RomBuffer()[8191], 9);
    const auto editor = Editor();
    ASSERT_EQ(editor.size(), 8192u);
    EXPECT_EQ(editor[1], 2);
    EXPECT_EQ(editor[8191], 9);
    EXPECT_EQ(Page().m_pBytesRead->text(), QStringLiteral("0")); // written from the member
    EXPECT_EQ(m_frame.m_nRunEnabled, 0);
}

TEST_F(PagesTest, RunStopResetButtonsSendTheirCommandsOnly)
{
    Attach(1);
    Open();
    QTest::mouseClick(Page().m_pRun, Qt::LeftButton);
    QTest::mouseClick(Page().m_pStop, Qt::LeftButton);
    QTest::mouseClick(Page().m_pReset, Qt::LeftButton);
    EXPECT_EQ(Commands(*m_pSim), (std::vector<std::pair<int, int>>{{2, 1}, {2, 0}, {4, 0}}));
    EXPECT_EQ(m_pSim->Transfers().size(), 3u);
    EXPECT_EQ(m_frame.m_nRunEnabled, 0);
    EXPECT_EQ(m_pSim->Firmware(0).m_nResets, 1u);
}

TEST_F(PagesTest, AutoRunsTheWholeSequenceOrStopsAtAMissingFile)
{
    Attach(1);
    m_dir.Write("image.bin", std::string(10, '\x77'));
    Open();
    CPageEmu0& p = Page();
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("nothere.bin")));
    QTest::mouseClick(p.m_pAuto, Qt::LeftButton);
    EXPECT_EQ(Commands(*m_pSim), (std::vector<std::pair<int, int>>{{2, 0}}));
    EXPECT_EQ(m_log.Count(), 1);
    EXPECT_EQ(m_frame.m_nRunEnabled, 0);

    m_pSim->ClearLog();
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("image.bin")));
    p.m_pFormat[1]->setChecked(true);
    p.OnAuto();
    EXPECT_EQ(Commands(*m_pSim), (std::vector<std::pair<int, int>>{{2, 0}, {0, 0}, {2, 1}, {4, 0}}));
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("0000000a"));
    EXPECT_EQ(m_pSim->Firmware(0).m_memory[9], 0x77);
    EXPECT_TRUE(m_pSim->Firmware(0).m_bRunning);
    EXPECT_EQ(m_frame.m_nRunEnabled, 1);
    EXPECT_EQ(m_log.Count(), 1);
}

} // namespace

namespace {

TEST_F(PagesTest, SetupIsNotKeptFromOneRunToTheNext)
{
    Open();
    m_pSheet->SetActivePage(0);
    SetupPage().m_pLow->setChecked(true);
    SetupPage().m_pPulseDuration->setText(QStringLiteral("500"));
    ASSERT_TRUE(m_pSheet->SetActivePage(1));
    EXPECT_EQ(SetupPage().m_nPulseDuration, 500u);
    m_pSheet.reset();
    Open();
    EXPECT_TRUE(SetupPage().m_pHi->isChecked());
    EXPECT_EQ(SetupPage().m_pPulseDuration->text(), QStringLiteral("100"));
    EXPECT_EQ(m_dir.Read("tarvex.ini").find("500"), std::string::npos);
}

} // namespace

namespace {

// The image of 'data' written in 'format' by the core's writer.
std::string Encoded(const std::vector<std::uint8_t>& data, ImageFormat format)
{
    ImageWriteOptions o;
    o.format = format;
    return EncodeImageToString(data, o);
}

std::vector<std::uint8_t> Counting(std::size_t n, unsigned seed = 0)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = std::uint8_t(i * 13 + seed);
    return v;
}

TEST_F(PagesTest, LoadSaysOnceWhenTheFormatDoesNotMatchTheFile)
{
    // A binary with a few ':' in it: read as Intel HEX it fills the buffer with garbage.
    std::string binary(256, '\x5A');
    binary[17] = ':';
    binary[90] = ':';
    m_dir.Write("fw.bin", binary);
    m_dir.Write("fw.hex", ":10010000000102030405060708090A0B0C0D0E0F68\r\n:00000001FF\r\n");
    Open();
    CPageEmu0& p = Page();
    const QString bin = QString::fromStdString(m_dir.Path("fw.bin"));
    p.m_pFileName->setText(bin);
    QTest::mouseClick(p.m_pLoad, Qt::LeftButton);
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().startsWith(QStringLiteral("\"%1\" was loaded as Intel HEX, but it looks like binary").arg(bin)))
        << m_log.Last().toStdString();
    EXPECT_EQ(m_log.m_messages.front().pOwner, &p);

    // An Intel HEX file loaded as binary: the buffer holds its characters, as asked, and the box says so.
    m_log.m_messages.clear();
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("fw.hex")));
    QTest::mouseClick(p.m_pFormat[1], Qt::LeftButton);
    QTest::mouseClick(p.m_pLoad, Qt::LeftButton);
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().contains(QStringLiteral("was loaded as binary, but it looks like Intel HEX")))
        << m_log.Last().toStdString();
    EXPECT_EQ(p.RomBuffer()[0], ':');

    // A wrong checksum in a file of the right format: the warnings, counted.
    m_log.m_messages.clear();
    m_dir.Write("bad.hex", ":10010000000102030405060708090A0B0C0D0E0F00\r\n:00000001FF\r\n");
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("bad.hex")));
    QTest::mouseClick(p.m_pFormat[0], Qt::LeftButton);
    QTest::mouseClick(p.m_pLoad, Qt::LeftButton);
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().contains(QStringLiteral("1 warning:\nline 1: 1 record with a wrong checksum")))
        << m_log.Last().toStdString();
    EXPECT_EQ(p.RomBuffer()[0x10F], 0x0F); // loaded all the same
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("00000110"));
}

TEST_F(PagesTest, MotorolaAndTektronixButtonsLoadTheirFormats)
{
    const auto data = Counting(300, 5);
    m_dir.Write("fw.s19", Encoded(data, ImageFormat::SRecord));
    m_dir.Write("fw.tek", Encoded(data, ImageFormat::TekHex));
    Open();
    CPageEmu0& p = Page();
    for (int nButton : {2, 3}) {
        SCOPED_TRACE(nButton);
        std::fill(p.RomBuffer(), p.RomBuffer() + 1024, 0xEE);
        p.m_pFileName->setText(QString::fromStdString(m_dir.Path(nButton == 2 ? "fw.s19" : "fw.tek")));
        QTest::mouseClick(p.m_pFormat[nButton], Qt::LeftButton);
        QTest::mouseClick(p.m_pLoad, Qt::LeftButton);
        EXPECT_EQ(m_log.Count(), 0) << m_log.Last().toStdString();
        EXPECT_TRUE(std::equal(data.begin(), data.end(), p.RomBuffer()));
        EXPECT_EQ(p.RomBuffer()[300], 0x00);
        EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("0000012c"));
        EXPECT_EQ(p.m_nFileFormat, nButton);
    }
    m_pSheet.reset();
    // A stored 3 reads extended Tektronix, no longer the file's characters as binary.
    Settings("m_nFileFormat=3\nm_sFileName=" + m_dir.Path("fw.tek") + "\n");
    Open();
    ASSERT_TRUE(Page().m_pFormat[3]->isChecked());
    Page().OnLoad();
    EXPECT_EQ(m_log.Count(), 0) << m_log.Last().toStdString();
    EXPECT_TRUE(std::equal(data.begin(), data.end(), Page().RomBuffer()));
}

TEST_F(PagesTest, FileAndBufferOffsetsBecomeTheAddressMap)
{
    Open();
    CPageEmu0& p = Page();
    ImageLoadOptions o;
    // The defaults place the file as it stands.
    ASSERT_TRUE(p.UpdateData(true));
    ASSERT_TRUE(p.LoadOptions(o));
    EXPECT_EQ(o.map.skip, 0u);
    EXPECT_EQ(o.map.base, 0u);
    EXPECT_EQ(o.map.at, 0u);
    EXPECT_EQ(o.format, ImageFormat::IntelHex);
    EXPECT_EQ(o.romSize, 8192u);
    p.m_pFileOffset->setText(QStringLiteral("8000"));
    p.m_pBufferOffset->setText(QStringLiteral("00001000"));
    ASSERT_TRUE(p.UpdateData(true));
    ASSERT_TRUE(p.LoadOptions(o));
    EXPECT_EQ(o.map.base, 0x8000u); // records: file address 8000 is buffer offset 1000
    EXPECT_EQ(o.map.skip, 0u);
    EXPECT_EQ(o.map.at, 0x1000u);
    p.m_pFormat[1]->setChecked(true);
    p.m_pFillValue->setText(QStringLiteral("a5"));
    ASSERT_TRUE(p.UpdateData(true));
    ASSERT_TRUE(p.LoadOptions(o));
    EXPECT_EQ(o.map.skip, 0x8000u); // binary: file byte 8000 is buffer offset 1000
    EXPECT_EQ(o.map.base, 0u);
    EXPECT_EQ(o.format, ImageFormat::Binary);
    EXPECT_EQ(o.fill, 0xA5);
    // An offset past the buffer is refused, naming its field, and Load reads nothing.
    p.m_pBufferOffset->setText(QStringLiteral("100000"));
    m_dir.Write("one.bin", "x");
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("one.bin")));
    QTest::mouseClick(p.m_pLoad, Qt::LeftButton);
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().startsWith(QStringLiteral("Buffer Offset 100000 lies beyond the buffer")));
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("0"));
}

// Whether the core's loader places data by the address map; until it does, the placement tests
// below have nothing to check.
bool LoaderAppliesTheMap(const CTestDir& dir)
{
    dir.Write("probe.bin", "ab");
    CRomImage image(0);
    ImageLoadOptions o;
    o.format = ImageFormat::Binary;
    o.map.skip = 1;
    return LoadImage(dir.Path("probe.bin"), o, image).ok && image.Data()[0] == 'b';
}

TEST_F(PagesTest, OffsetsPlaceWhatLoadReads)
{
    if (!LoaderAppliesTheMap(m_dir))
        GTEST_SKIP() << "the loader does not apply the address map yet";
    const auto data = Counting(0x300, 1);
    m_dir.Write("fw.bin", std::string(data.begin(), data.end()));
    Open();
    CPageEmu0& p = Page();
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("fw.bin")));
    p.m_pFormat[1]->setChecked(true);
    p.m_pFileOffset->setText(QStringLiteral("00000100"));
    p.m_pBufferOffset->setText(QStringLiteral("00001000"));
    p.m_pFillValue->setText(QStringLiteral("FF"));
    QTest::mouseClick(p.m_pLoad, Qt::LeftButton);
    // File byte F lands at 1000 + (F - 100); what lies below 100 is passed over.
    EXPECT_EQ(p.RomBuffer()[0x0FFF], 0xFF);
    EXPECT_EQ(p.RomBuffer()[0x1000], data[0x100]);
    EXPECT_EQ(p.RomBuffer()[0x11FF], data[0x2FF]);
    EXPECT_EQ(p.RomBuffer()[0x1200], 0xFF);
    EXPECT_EQ(Editor()[0x1000], data[0x100]);

    // Records: file address F lands at 1000 + (F - 8000); data below 8000 draws a warning.
    m_log.m_messages.clear();
    m_dir.Write("fw.hex", ":0480000011223344D2\r\n:027FF000AABB2A\r\n:00000001FF\r\n");
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("fw.hex")));
    p.m_pFormat[0]->setChecked(true);
    p.m_pFileOffset->setText(QStringLiteral("00008000"));
    QTest::mouseClick(p.m_pLoad, Qt::LeftButton);
    EXPECT_EQ(p.RomBuffer()[0x1000], 0x11);
    EXPECT_EQ(p.RomBuffer()[0x1003], 0x44);
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().contains(QStringLiteral("warning"))) << m_log.Last().toStdString();
}

TEST_F(PagesTest, FillDataFillsFromStartToStopAndRefusesBadRanges)
{
    Open();
    CPageEmu0& p = Page();
    // A byte typed into the editor before the fill stays.
    p.m_wndHexEdit->setFocus();
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(p.m_wndHexEdit, Qt::Key_Down);
    QTest::keyClicks(p.m_wndHexEdit, QStringLiteral("7e"));
    ASSERT_EQ(Editor()[0x40], 0x7E);
    p.m_pBufferStart->setText(QStringLiteral("10"));
    p.m_pBufferStop->setText(QStringLiteral("1F"));
    p.m_pFillValue->setText(QStringLiteral("A5"));
    QTest::mouseClick(p.m_pFillData, Qt::LeftButton);
    EXPECT_EQ(m_log.Count(), 0) << m_log.Last().toStdString();
    auto editor = Editor();
    EXPECT_EQ(editor[0x0F], 0x00);
    EXPECT_EQ(editor[0x10], 0xA5);
    EXPECT_EQ(editor[0x1F], 0xA5);
    EXPECT_EQ(editor[0x20], 0x00);
    EXPECT_EQ(editor[0x40], 0x7E);
    EXPECT_EQ(p.RomBuffer()[0x1F], 0xA5);
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("00000041")); // covers the typed byte too

    // Across the end of the ROM window: the editor shows its part, the buffer holds the rest.
    p.m_pBufferStart->setText(QStringLiteral("1FF0"));
    p.m_pBufferStop->setText(QStringLiteral("2010"));
    p.m_pFillValue->setText(QStringLiteral("3C"));
    QTest::mouseClick(p.m_pFillData, Qt::LeftButton);
    EXPECT_EQ(Editor()[0x1FFF], 0x3C);
    EXPECT_EQ(p.RomBuffer()[0x2010], 0x3C);
    EXPECT_EQ(p.RomBuffer()[0x2011], 0x00);
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("00002011"));

    struct SCase {
        const char* start;
        const char* stop;
        const char* message;
    };
    for (const SCase& c : {SCase{"20", "1F", "Stop Address 1F lies below Start Address 20: nothing was filled."},
                           SCase{"0", "100000", "Stop Address 100000 lies beyond the buffer"},
                           SCase{"100000", "100000", "Start Address 100000 lies beyond the buffer"}}) {
        SCOPED_TRACE(c.message);
        m_log.m_messages.clear();
        p.m_pBufferStart->setText(QString::fromLatin1(c.start));
        p.m_pBufferStop->setText(QString::fromLatin1(c.stop));
        p.m_pFillValue->setText(QStringLiteral("11"));
        QTest::mouseClick(p.m_pFillData, Qt::LeftButton);
        ASSERT_EQ(m_log.Count(), 1);
        EXPECT_TRUE(m_log.Last().startsWith(QString::fromLatin1(c.message))) << m_log.Last().toStdString();
        EXPECT_EQ(p.RomBuffer()[0x20], 0x00);
        EXPECT_EQ(Editor()[0], 0x00);
    }
}

TEST_F(PagesTest, VerifyFindsAPlantedDifferenceAndMovesTheCaretThere)
{
    Attach(1);
    m_frame.m_nCurRomSize = 65536;
    Open();
    CPageEmu0& p = Page();
    QTest::mouseClick(p.m_pWrite, Qt::LeftButton);
    m_pSim->SetMemory(0, 0x9123, {0x55, 0x56});
    m_pSim->SetMemory(0, 0xF000, {0x01});
    m_pSim->ClearLog();
    QTest::mouseClick(p.m_pVerify, Qt::LeftButton);
    // The two blocks of the ROM type are read back, nothing is written.
    EXPECT_EQ(Commands(*m_pSim), (std::vector<std::pair<int, int>>{{1, 0}, {1, 1}}));
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_EQ(m_log.Last(), QStringLiteral("3 bytes differ from the buffer, in 2 ranges:\n00009123-00009124 (2 bytes)\n"
                                           "0000F000 (1 byte)"));
    EXPECT_EQ(p.m_wndHexEdit->Model().Caret(), 0x9123);
    EXPECT_FALSE(p.m_wndHexEdit->Model().HasSelection());
    EXPECT_EQ(p.RomBuffer()[0x9123], 0x00); // the buffer stays as it was

    // Once the emulator holds the buffer again, Verify says so.
    QTest::mouseClick(p.m_pWrite, Qt::LeftButton);
    QTest::mouseClick(p.m_pVerify, Qt::LeftButton);
    EXPECT_EQ(m_log.Last(), QStringLiteral("No byte differs: the emulator holds the 65536 bytes of the buffer."));
    EXPECT_EQ(m_log.Count(), 2);
}

TEST_F(PagesTest, VerifyComparesWhatWasTypedIntoTheEditor)
{
    Attach(1);
    Open();
    CPageEmu0& p = Page();
    QTest::mouseClick(p.m_pWrite, Qt::LeftButton);
    p.m_wndHexEdit->setFocus();
    QTest::keyClick(p.m_wndHexEdit, Qt::Key_Down);
    QTest::keyClicks(p.m_wndHexEdit, QStringLiteral("ff"));
    QTest::mouseClick(p.m_pVerify, Qt::LeftButton);
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().startsWith(QStringLiteral("1 byte differs from the buffer, in 1 range:\n00000010 (1 byte)")))
        << m_log.Last().toStdString();
}

TEST_F(PagesTest, FindSelectsBytesOrTextAndFindNextGoesOnAndWraps)
{
    std::string image(0x2000, '\0');
    image.replace(0x100, 4, "BOOT");
    image.replace(0x1800, 4, "BOOT");
    m_dir.Write("fw.bin", image);
    Open();
    CPageEmu0& p = Page();
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("fw.bin")));
    p.m_pFormat[1]->setChecked(true);
    p.OnLoad();
    int nAsked = 0;
    QStringList proposed; // what the dialog proposed each time: the last request found
    SFindRequest answer{QStringLiteral("BOOT"), false};
    p.m_askFind = [&](QWidget*, const SFindRequest& last) {
        ++nAsked;
        proposed << last.text;
        return std::optional<SFindRequest>(answer);
    };
    const CHexEditModel& m = p.m_wndHexEdit->Model();
    QTest::mouseClick(p.m_pFind, Qt::LeftButton);
    EXPECT_EQ(nAsked, 1);
    EXPECT_EQ(m.SelLow(), 0x100);
    EXPECT_EQ(m.SelHigh(), 0x104);
    p.OnFindNext();
    EXPECT_EQ(nAsked, 1);
    EXPECT_EQ(m.SelLow(), 0x1800);
    EXPECT_GT(m.TopIndex(), 0); // scrolled to it
    p.OnFindNext();
    EXPECT_EQ(m.SelLow(), 0x100); // wrapped once
    // The same bytes in hex.
    answer = {QStringLiteral("42 4f 4F 54"), true};
    QTest::mouseClick(p.m_pFind, Qt::LeftButton);
    EXPECT_EQ(m.SelLow(), 0x1800);
    EXPECT_EQ(m_log.Count(), 0);
    // Not there, and not hex: one message each, the selection stays.
    answer = {QStringLiteral("BOOTX"), false};
    QTest::mouseClick(p.m_pFind, Qt::LeftButton);
    EXPECT_EQ(m_log.Last(), QStringLiteral("\"BOOTX\" is not in the buffer."));
    answer = {QStringLiteral("4G"), true};
    QTest::mouseClick(p.m_pFind, Qt::LeftButton);
    EXPECT_TRUE(m_log.Last().startsWith(QStringLiteral("'G' is no hex digit"))) << m_log.Last().toStdString();
    EXPECT_EQ(m_log.Count(), 2);
    EXPECT_EQ(m.SelLow(), 0x1800);
    EXPECT_EQ(proposed, QStringList({QString(), QStringLiteral("BOOT"), QStringLiteral("42 4f 4F 54"),
                                     QStringLiteral("BOOTX")}));
    // Cancel does nothing.
    p.m_askFind = [](QWidget*, const SFindRequest&) { return std::optional<SFindRequest>(); };
    QTest::mouseClick(p.m_pFind, Qt::LeftButton);
    EXPECT_EQ(m_log.Count(), 2);
}

TEST_F(PagesTest, SaveAsWritesTheRomWindowInTheChosenFormat)
{
    const auto data = Counting(100, 9);
    m_dir.Write("fw.bin", std::string(data.begin(), data.end()));
    Open();
    CPageEmu0& p = Page();
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("fw.bin")));
    p.m_pFormat[1]->setChecked(true);
    p.m_pFillValue->setText(QStringLiteral("FF"));
    p.OnLoad();
    // A byte typed into the editor is saved too.
    p.m_wndHexEdit->setFocus();
    QTest::keyClick(p.m_wndHexEdit, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(p.m_wndHexEdit, QStringLiteral("12"));
    std::vector<std::uint8_t> window(8192, 0xFF);
    std::copy(data.begin(), data.end(), window.begin());
    window[8191] = 0x12;

    const struct {
        int nButton;
        const char* name;
        ImageFormat format;
    } cases[] = {{0, "out.hex", ImageFormat::IntelHex},
                 {1, "out.bin", ImageFormat::Binary},
                 {2, "out.s19", ImageFormat::SRecord},
                 {3, "out.tek", ImageFormat::TekHex}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString out = QString::fromStdString(m_dir.Path(c.name));
        p.m_chooseSaveFile = [&](QWidget*, const QString&) { return out; };
        QTest::mouseClick(p.m_pFormat[c.nButton], Qt::LeftButton);
        QTest::mouseClick(p.m_pSaveAs, Qt::LeftButton);
        EXPECT_EQ(m_log.Count(), 0) << m_log.Last().toStdString();
        EXPECT_EQ(p.m_pFileName->text(), out);
        EXPECT_EQ(DetectFileFormat(out.toStdString()), c.format);
        CRomImage back(0x00);
        ImageLoadOptions o;
        ASSERT_TRUE(LoadImage(out.toStdString(), o, back).ok);
        EXPECT_EQ(back.BytesRead(), 8192u);
        EXPECT_TRUE(std::equal(window.begin(), window.end(), back.Data()));
    }
    // Cancel writes nothing; a folder that does not exist is named in quotes.
    p.m_chooseSaveFile = [](QWidget*, const QString&) { return QString(); };
    QTest::mouseClick(p.m_pSaveAs, Qt::LeftButton);
    EXPECT_EQ(m_log.Count(), 0);
    const QString bad = QString::fromStdString(m_dir.Path("missing")) + QStringLiteral("/x.hex");
    p.m_chooseSaveFile = [&](QWidget*, const QString&) { return bad; };
    QTest::mouseClick(p.m_pSaveAs, Qt::LeftButton);
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_TRUE(m_log.Last().startsWith(QStringLiteral("Could not write \"%1\": ").arg(bad))) << m_log.Last().toStdString();
    EXPECT_NE(p.m_pFileName->text(), bad);
}

TEST_F(PagesTest, SaveAsksBeforeItReplacesTheLoadedFile)
{
    const std::string original = Encoded(Counting(64), ImageFormat::IntelHex);
    m_dir.Write("fw.hex", original);
    Open();
    CPageEmu0& p = Page();
    const QString path = QString::fromStdString(m_dir.Path("fw.hex"));
    p.m_pFileName->setText(path);
    p.OnLoad();
    p.m_wndHexEdit->setFocus();
    QTest::keyClicks(p.m_wndHexEdit, QStringLiteral("ee"));
    // No: the file stays.
    {
        CMessageBoxHook no([this](QWidget* pOwner, const QString& text) { m_log.m_messages.push_back({pOwner, text}); });
        no.SetAnswer(false);
        QTest::mouseClick(p.m_pSave, Qt::LeftButton);
    }
    ASSERT_EQ(m_log.Count(), 1);
    EXPECT_EQ(m_log.Last(), QStringLiteral("\"%1\" is the file the buffer was loaded from. Replace it with the buffer's "
                                           "8192 bytes?").arg(path));
    EXPECT_EQ(m_dir.Read("fw.hex"), original);
    // Yes: replaced by the ROM window, the typed byte in it.
    QTest::mouseClick(p.m_pSave, Qt::LeftButton);
    EXPECT_EQ(m_log.Count(), 2);
    CRomImage back(0x00);
    ASSERT_TRUE(LoadImage(path.toStdString(), ImageLoadOptions{}, back).ok);
    EXPECT_EQ(back.BytesRead(), 8192u);
    EXPECT_EQ(back.Data()[0], 0xEE);
    EXPECT_EQ(back.Data()[1], Counting(64)[1]);
    // With no name yet, Save is Save As.
    p.m_pFileName->clear();
    int nChosen = 0;
    p.m_chooseSaveFile = [&](QWidget*, const QString&) { return ++nChosen, QString(); };
    QTest::mouseClick(p.m_pSave, Qt::LeftButton);
    EXPECT_EQ(nChosen, 1);
}

TEST_F(PagesTest, BytesTypedBeyondTheCountAreDownloaded)
{
    Attach(1);
    m_dir.Write("small.bin", std::string(16, '\x01'));
    Open();
    CPageEmu0& p = Page();
    p.m_pFileName->setText(QString::fromStdString(m_dir.Path("small.bin")));
    p.m_pFormat[1]->setChecked(true);
    p.OnLoad();
    ASSERT_EQ(p.m_pBytesRead->text(), QStringLiteral("00000010"));
    // Row 0x30, byte 0x300: typed with the keys, as a user would.
    p.m_wndHexEdit->setFocus();
    for (int i = 0; i < 0x30; ++i)
        QTest::keyClick(p.m_wndHexEdit, Qt::Key_Down);
    QTest::keyClicks(p.m_wndHexEdit, QStringLiteral("ab"));
    EXPECT_EQ(p.m_pBytesRead->text(), QStringLiteral("00000301"));
    QTest::mouseClick(p.m_pWrite, Qt::LeftButton);
    const CSimFirmware fw = m_pSim->Firmware(0);
    EXPECT_EQ(fw.m_memory[0x300], 0xAB);
    EXPECT_EQ(fw.m_memory[0x0F], 0x01);
    EXPECT_EQ(p.RomBuffer()[0x300], 0xAB);
    EXPECT_EQ(m_log.Count(), 0);
}

} // namespace

namespace {

// The Find dialog itself: a text field proposing the last search, hex or text, OK and Cancel.
TEST_F(PagesTest, FindDialogAsksForHexBytesOrAText)
{
    Open();
    CPageEmu0& p = Page();
    p.RomBuffer()[0x20] = 0xAB;
    p.RomBuffer()[0x21] = 0xCD;
    p.RomBuffer()[0x30] = 'k';
    p.ChangeRomType(0);
    // Answers the next dialog: its text, hex or not, then OK (or Cancel for an empty text).
    QStringList proposed;
    auto answer = [&proposed](const QString& text, bool bHex) {
        auto* pTimer = new QTimer;
        pTimer->setInterval(10);
        QObject::connect(pTimer, &QTimer::timeout, [=, &proposed] {
            auto* pDialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!pDialog)
                return;
            pTimer->stop();
            pTimer->deleteLater();
            proposed << pDialog->findChild<QLineEdit*>()->text();
            pDialog->findChild<QLineEdit*>()->setText(text);
            for (QRadioButton* pRadio : pDialog->findChildren<QRadioButton*>())
                if (pRadio->text().contains(QStringLiteral("Hex")) == bHex)
                    pRadio->setChecked(true);
            auto* pButtons = pDialog->findChild<QDialogButtonBox*>();
            pButtons->button(text.isEmpty() ? QDialogButtonBox::Cancel : QDialogButtonBox::Ok)->click();
        });
        pTimer->start();
    };
    answer(QStringLiteral("ab cd"), true);
    QTest::mouseClick(p.m_pFind, Qt::LeftButton);
    EXPECT_EQ(p.m_wndHexEdit->Model().SelLow(), 0x20);
    EXPECT_EQ(p.m_wndHexEdit->Model().SelHigh(), 0x22);
    answer(QStringLiteral("k"), false);
    QTest::mouseClick(p.m_pFind, Qt::LeftButton);
    EXPECT_EQ(p.m_wndHexEdit->Model().SelLow(), 0x30);
    answer(QString(), true);
    QTest::mouseClick(p.m_pFind, Qt::LeftButton);
    EXPECT_EQ(p.m_wndHexEdit->Model().SelLow(), 0x30);
    EXPECT_EQ(proposed, QStringList({QString(), QStringLiteral("ab cd"), QStringLiteral("k")}));
    EXPECT_EQ(m_log.Count(), 0);
}

} // namespace
