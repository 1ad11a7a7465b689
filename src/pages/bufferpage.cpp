// SPDX-License-Identifier: MIT
// The " Buffer 0 " page: layout, data exchange, settings, and thin handlers over the ROM session.
#include "pages/bufferpage.h"

#include "settings/buffersettings.h"
#include "settings/inifile.h"
#include "hexedit/hexedit.h"
#include "image/imagediff.h"
#include "image/imagewriter.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <algorithm>

namespace {

// Sizes the page shows: eight lower-case hex digits.
QString Hex8(std::uint64_t n)
{
    return QString::fromStdString(FormatBytesRead(n));
}

// The format buttons in order; any other value reads and writes as binary.
ImageFormat FormatOfButton(int nFileFormat)
{
    switch (nFileFormat) {
    case 0: return ImageFormat::IntelHex;
    case 2: return ImageFormat::SRecord;
    case 3: return ImageFormat::TekHex;
    default: return ImageFormat::Binary;
    }
}

// Hex bytes or a text, in a small dialog.
std::optional<SFindRequest> AskFind(QWidget* pOwner, const SFindRequest& last)
{
    QDialog dialog(pOwner);
    dialog.setWindowTitle(QStringLiteral("Find"));
    auto* pText = new QLineEdit(last.text, &dialog);
    pText->selectAll();
    auto* pHex = new QRadioButton(QStringLiteral("&Hex bytes (12 AB 3F)"), &dialog);
    auto* pAscii = new QRadioButton(QStringLiteral("&Text"), &dialog);
    (last.bHex ? pHex : pAscii)->setChecked(true);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(pButtons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(pButtons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* pLayout = new QFormLayout(&dialog);
    pLayout->addRow(QStringLiteral("Find &what:"), pText);
    pLayout->addRow(pHex);
    pLayout->addRow(pAscii);
    pLayout->addRow(pButtons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return SFindRequest{pText->text(), pHex->isChecked()};
}

} // namespace

CPageEmu0::CPageEmu0(CFrameLink* pFrame, QWidget* pParent)
    : CPropertyPage(QStringLiteral(" Buffer 0 "), pParent),
      m_pFrame(pFrame),
      m_session(m_sink, this)
{
    auto place = [this](QWidget* w, int x, int y, int cx, int cy) {
        w->setGeometry(DlgRect(x, y, cx, cy));
        return w;
    };
    // A label at its reference origin, wide enough for its text.
    auto label = [this](const char* text, int x, int y) {
        auto* pLabel = new QLabel(QString::fromLatin1(text), this);
        const QRect r = DlgRect(x, y, 0, 8);
        pLabel->setGeometry(r.x(), r.y(), pLabel->sizeHint().width(), std::max(r.height(), pLabel->sizeHint().height()));
    };
    auto button = [&](const char* text, int x, int y) {
        auto* pButton = new QPushButton(QString::fromLatin1(text), this);
        pButton->setAutoDefault(false);
        place(pButton, x, y, 40, 15);
        return pButton;
    };
    // nDigits: the field's limit; a field too narrow for that many digits grows to the left.
    auto edit = [&](int x, int y, int cx, bool bRight, int nDigits = 0) {
        auto* pEdit = new QLineEdit(this);
        MakeCompactEdit(pEdit);
        if (bRight)
            pEdit->setAlignment(Qt::AlignRight);
        place(pEdit, x, y, cx, 12);
        const int nNeeded = pEdit->fontMetrics().horizontalAdvance(QString(nDigits, u'0')) + 8;
        if (nDigits > 0 && pEdit->width() < nNeeded)
            pEdit->setGeometry(pEdit->geometry().adjusted(pEdit->width() - nNeeded, 0, 0, 0));
        return pEdit;
    };

    // Group boxes first, so they lie under their controls.
    place(new QGroupBox(QStringLiteral("File Operation"), this), 7, 4, 476, 46);
    place(new QGroupBox(QStringLiteral("Information"), this), 369, 64, 114, 54);
    place(new QGroupBox(QStringLiteral("Operation"), this), 369, 132, 114, 58);
    place(new QGroupBox(QStringLiteral("Buffer Operation"), this), 369, 205, 114, 58);
    place(new QGroupBox(QStringLiteral("Fill Buffer"), this), 369, 270, 114, 73);

    label("File Name", 13, 17);
    m_pFileName = edit(52, 16, 301, false);
    m_pFileFind = button("File Find", 376, 13);
    m_pLoad = button("Load", 376, 30);
    m_pSave = button("Save", 434, 13);
    m_pSaveAs = button("Save As", 434, 30);
    label("File Offset", 13, 34);
    m_pFileOffset = edit(52, 32, 37, true, 8);
    label("Buffer Offset", 102, 34);
    m_pBufferOffset = edit(142, 32, 37, true, 8);
    static const char* const s_formats[4] = {"Intel Hex", "Binary", "Mot. Hex", "Tek. Hex"};
    static const int s_formatX[4] = {200, 242, 284, 328}, s_formatCx[4] = {38, 36, 43, 43};
    for (int i = 0; i < 4; ++i) {
        m_pFormat[i] = new QRadioButton(QString::fromLatin1(s_formats[i]), this);
        place(m_pFormat[i], s_formatX[i], 33, s_formatCx[i], 10);
    }

    m_wndProgress = new QProgressBar(this);
    m_wndProgress->setTextVisible(false);
    m_wndProgress->setRange(0, 100);
    m_wndProgress->setValue(0);
    place(m_wndProgress, 7, 53, 347, 7);

    m_wndList = new QTreeWidget(this);
    m_wndList->setRootIsDecorated(false);
    m_wndList->setAllColumnsShowFocus(true);
    m_wndList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_wndList->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Data"), QStringLiteral("Ascii")});
    m_wndList->header()->setDefaultAlignment(Qt::AlignCenter);
    m_wndList->header()->setStretchLastSection(false);
    m_wndList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_wndList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    place(m_wndList, 7, 63, 347, 12);

    m_wndHexEdit = new CHexEdit(this);
    place(m_wndHexEdit, 7, 75, 347, 268);
    label("Rom Size in Bytes", 374, 78);
    m_pRomSize = edit(437, 75, 36, true, 8);
    m_pRomSize->setEnabled(false);
    label("Bytes were read", 374, 95);
    m_pBytesRead = edit(437, 92, 36, true, 8);
    m_pBytesRead->setEnabled(false);

    m_pRun = button("Run", 376, 145);
    m_pStop = button("Stop", 434, 145);
    m_pAuto = button("Auto", 376, 167);
    m_pReset = button("Reset", 434, 166);
    m_pWrite = button("Write", 376, 217);
    m_pRead = button("Read", 434, 217);
    m_pVerify = button("Verify", 376, 240);
    m_pFind = button("Find", 434, 239);
    m_pFillData = button("Fill Data", 376, 284);
    label("Value", 431, 288);
    m_pFillValue = edit(452, 286, 21, true, 2);
    label("Start  Address", 378, 308);
    m_pBufferStart = edit(437, 306, 36, true, 8);
    label("Stop  Address", 378, 325);
    m_pBufferStop = edit(437, 324, 36, true, 8);

    // A label wider in this face than its reference room pushes its field to the right rather
    // than be cut off by it or touch it.
    const int nGap = m_units.X(2);
    for (QLabel* pLabel : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        for (QLineEdit* pEdit : findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly)) {
            if (pLabel->geometry().adjusted(0, 0, nGap, 0).intersects(pEdit->geometry()) && pLabel->x() < pEdit->x())
                pEdit->move(pLabel->geometry().right() + 1 + nGap, pEdit->y());
        }
    }

    // Each format button is wide enough for its text; one that would then reach the next
    // (or the field before the group) moves over, keeping a gap.
    int nNextFree = m_pBufferOffset->geometry().right() + 1 + nGap;
    for (QRadioButton* pFormat : m_pFormat) {
        const QRect r = pFormat->geometry();
        pFormat->setGeometry(std::max(r.x(), nNextFree), r.y(), std::max(r.width(), pFormat->sizeHint().width()),
                             r.height());
        nNextFree = pFormat->geometry().right() + 1 + nGap;
    }

    // The editor must show a whole row, ASCII column and vertical bar included, and the strip
    // above it its three columns (70, 360 and 140 pixels). Where the units of this font leave
    // less room, the editor, the strip and the progress bar widen, and what stands right of
    // them moves over.
    const int nRowWidth =
        std::max(m_wndHexEdit->FullRowWidth(), 70 + 360 + 140 + 2 * m_wndList->frameWidth());
    if (const int nGrow = nRowWidth - m_wndHexEdit->width(); nGrow > 0) {
        const int nRightColumn = m_units.X(369);
        for (QWidget* pChild : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (pChild->x() >= nRightColumn)
                pChild->move(pChild->x() + nGrow, pChild->y());
            else if (pChild->geometry().right() >= nRightColumn || pChild == m_wndHexEdit ||
                     pChild == m_wndList || pChild == m_wndProgress)
                pChild->resize(pChild->width() + nGrow, pChild->height());
        }
    }


    connect(m_pFileFind, &QPushButton::clicked, this, &CPageEmu0::OnFileFind);
    connect(m_pLoad, &QPushButton::clicked, this, &CPageEmu0::OnLoad);
    connect(m_pRun, &QPushButton::clicked, this, &CPageEmu0::OnRun);
    connect(m_pStop, &QPushButton::clicked, this, &CPageEmu0::OnStop);
    connect(m_pAuto, &QPushButton::clicked, this, &CPageEmu0::OnAuto);
    connect(m_pReset, &QPushButton::clicked, this, &CPageEmu0::OnReset);
    connect(m_pWrite, &QPushButton::clicked, this, &CPageEmu0::OnWrite);
    connect(m_pRead, &QPushButton::clicked, this, &CPageEmu0::OnRead);
    connect(m_pSave, &QPushButton::clicked, this, &CPageEmu0::OnSave);
    connect(m_pSaveAs, &QPushButton::clicked, this, &CPageEmu0::OnSaveAs);
    connect(m_pVerify, &QPushButton::clicked, this, &CPageEmu0::OnVerify);
    connect(m_pFind, &QPushButton::clicked, this, &CPageEmu0::OnFind);
    connect(m_pFillData, &QPushButton::clicked, this, &CPageEmu0::OnFillData);
    connect(m_wndHexEdit, &CHexEdit::edited, this, &CPageEmu0::UpdateBytesRead);

    m_chooseFile = [](QWidget* pOwner, const QString& strFolder) {
        return QFileDialog::getOpenFileName(pOwner, QString(),
                                            strFolder.isEmpty() ? QStringLiteral("*.hex") : strFolder + QStringLiteral("/*.hex"),
                                            // Linux matches patterns by case and "*.*" needs a dot: list upper-case
                                            // hex files too, and show files without an extension.
                                            QStringLiteral("Program File (*.hex *.HEX);;All Files (*)"));
    };
    m_chooseSaveFile = [](QWidget* pOwner, const QString& strCurrent) {
        return QFileDialog::getSaveFileName(pOwner, QStringLiteral("Save As"), strCurrent,
                                            QStringLiteral("Program File (*.hex *.HEX);;All Files (*)"));
    };
    m_askFind = AskFind;

    m_session.SetProgress([this](std::uint32_t nPos, std::uint32_t nRange) { ShowProgress(nPos, nRange); });
    ExchangeSettings(true);
}

CPageEmu0::~CPageEmu0()
{
    OnDestroy();
}

void CPageEmu0::ExchangeSettings(bool bLoad)
{
    CBufferPageSettings s;
    if (!bLoad) {
        s.m_sFileName = m_sFileName.toStdString();
        s.m_nFileFormat = m_nFileFormat;
        s.m_csBufferOffset = m_csBufferOffset.toStdString();
        s.m_csFileOffset = m_csFileOffset.toStdString();
        s.m_csBufferStart = m_csBufferStart.toStdString();
        s.m_csBufferStop = m_csBufferStop.toStdString();
        s.m_csFillValue = m_csFillValue.toStdString();
        s.m_nRomSize = m_session.RomSize();
    }
    const std::string strPath = m_pFrame ? m_pFrame->SettingsPath() : std::string();
    if (strPath.empty()) {
        ::ExchangeSettings(bLoad, s);
    } else {
        CIniFile ini = CIniFile::AtPath(strPath);
        ::ExchangeSettings(bLoad, s, ini);
    }
    if (bLoad) {
        m_sFileName = QString::fromStdString(s.m_sFileName);
        m_nFileFormat = s.m_nFileFormat;
        m_csBufferOffset = QString::fromStdString(s.m_csBufferOffset);
        m_csFileOffset = QString::fromStdString(s.m_csFileOffset);
        m_csBufferStart = QString::fromStdString(s.m_csBufferStart);
        m_csBufferStop = QString::fromStdString(s.m_csBufferStop);
        m_csFillValue = QString::fromStdString(s.m_csFillValue);
        m_session.SetRomSize(s.m_nRomSize);
    }
}

void CPageEmu0::OnDestroy()
{
    if (m_bDestroyed)
        return;
    m_bDestroyed = true;
    // A page that was never shown has nothing typed into it; its members are what was loaded.
    if (IsInitialized())
        UpdateData(true);
    ExchangeSettings(false);
}

void CPageEmu0::DoDataExchange(CDataExchange& dx)
{
    DDX_Text(dx, m_pFileName, m_sFileName);
    DDX_Radio(dx, {m_pFormat[0], m_pFormat[1], m_pFormat[2], m_pFormat[3]}, m_nFileFormat);
    DDX_Text(dx, m_pBufferOffset, m_csBufferOffset);
    DDV_MaxChars(dx, m_pBufferOffset, m_csBufferOffset, 8);
    DDX_Text(dx, m_pFileOffset, m_csFileOffset);
    DDV_MaxChars(dx, m_pFileOffset, m_csFileOffset, 8);
    DDX_Text(dx, m_pBufferStart, m_csBufferStart);
    DDV_MaxChars(dx, m_pBufferStart, m_csBufferStart, 8);
    DDX_Text(dx, m_pBufferStop, m_csBufferStop);
    DDV_MaxChars(dx, m_pBufferStop, m_csBufferStop, 8);
    DDX_Text(dx, m_pRomSize, m_csRomSize);
    DDV_MaxChars(dx, m_pRomSize, m_csRomSize, 8);
    DDX_Text(dx, m_pFillValue, m_csFillValue);
    DDV_MaxChars(dx, m_pFillValue, m_csFillValue, 2);
    DDX_Text(dx, m_pBytesRead, m_csBytesRead);
    DDV_MaxChars(dx, m_pBytesRead, m_csBytesRead, 8);
}

bool CPageEmu0::OnInitDialog()
{
    CPropertyPage::OnInitDialog();
    m_wndList->setColumnWidth(0, 70);
    m_wndList->setColumnWidth(1, 360);
    m_wndList->setColumnWidth(2, 140);
    m_session.SetRomSize(m_pFrame ? m_pFrame->CurRomSize() : kDefaultRomSize);
    m_session.Fill(ParseFillByte(m_csFillValue.toStdString()));
    UpdateRomSize();
    return true;
}

void CPageEmu0::ShowEditorData()
{
    m_wndHexEdit->SetData(m_session.Buffer(), int(m_session.RomSize()));
    m_wndHexEdit->Redraw();
    m_wndHexEdit->SetOptions(true, true, true, true);
    m_wndHexEdit->Redraw();
}

void CPageEmu0::UpdateRomSize()
{
    // Only the size field: the others keep what the user typed and has not used yet.
    m_csRomSize = Hex8(m_session.RomSize());
    CDataExchange dx(false);
    DDX_Text(dx, m_pRomSize, m_csRomSize);
    ShowEditorData();
}

void CPageEmu0::OnFileFind()
{
    // The chooser starts in the folder of the file named, where the user most likely looks next.
    const QString strNamed = m_pFileName->text();
    const QString strFile = m_chooseFile(window(), strNamed.isEmpty() ? QString() : QFileInfo(strNamed).absolutePath());
    if (strFile.isEmpty())
        return;
    UpdateData(true);
    m_sFileName = strFile;
    UpdateData(false);
}

bool CPageEmu0::LoadOptions(ImageLoadOptions& options)
{
    options = ImageLoadOptions{};
    options.format = FormatOfButton(m_nFileFormat);
    options.fill = ParseFillByte(m_csFillValue.toStdString());
    options.romSize = m_session.RomSize();
    // File byte (binary) or file address (records) F lands at Buffer Offset + (F - File Offset).
    const std::uint64_t nFileOffset = ParseHexCount(m_csFileOffset.toStdString());
    const std::uint64_t nBufferOffset = ParseHexCount(m_csBufferOffset.toStdString());
    if (nBufferOffset >= kRomImageSize) {
        TarvexMessageBox(this, QStringLiteral("Buffer Offset %1 lies beyond the buffer, which ends at 000fffff.")
                                   .arg(m_csBufferOffset));
        FocusFailedControl(m_pBufferOffset);
        return false;
    }
    if (options.format == ImageFormat::Binary)
        options.map.skip = nFileOffset;
    else
        options.map.base = nFileOffset;
    options.map.at = static_cast<std::uint32_t>(nBufferOffset);
    return true;
}

bool CPageEmu0::LoadFile()
{
    UpdateData(true);
    ImageLoadOptions options;
    if (!LoadOptions(options))
        return false;
    const std::string strFile = m_sFileName.toStdString();
    const ImageFormat looks = DetectFileFormat(strFile);
    const ImageLoadResult result = m_session.Load(strFile, options);
    if (!result.ok) {
        TarvexMessageBox(this, QString::fromStdString(result.message));
        return false;
    }
    m_csBytesRead = Hex8(m_session.Image().BytesRead());
    ShowEditorData();
    UpdateData(false);
    // The buffer holds the file as the format asked for read it; one box says what looked wrong.
    const std::string strReport = DescribeLoad(strFile, options.format, looks, m_session.Image().Diagnostics());
    if (!strReport.empty())
        TarvexMessageBox(this, QString::fromStdString(strReport));
    return true;
}

void CPageEmu0::OnLoad()
{
    LoadFile();
}

void CPageEmu0::OpenImage(const QString& strPath)
{
    UpdateData(true);
    m_sFileName = strPath;
    switch (DetectFileFormat(strPath.toStdString())) {
    case ImageFormat::IntelHex: m_nFileFormat = 0; break;
    case ImageFormat::Binary: m_nFileFormat = 1; break;
    case ImageFormat::SRecord: m_nFileFormat = 2; break;
    case ImageFormat::TekHex: m_nFileFormat = 3; break;
    case ImageFormat::Auto: break;  // unreadable: Load says why
    }
    UpdateData(false);
    LoadFile();
}

void CPageEmu0::UpdateBytesRead()
{
    CRomImage& image = m_session.Image();
    const std::uint64_t nCount = m_wndHexEdit->Model().CoveredCount(image.BytesRead());
    if (nCount == image.BytesRead())
        return;
    image.SetBytesRead(nCount);
    m_csBytesRead = Hex8(nCount);
    m_pBytesRead->setText(m_csBytesRead);
}

void CPageEmu0::TakeBackEdits()
{
    UpdateBytesRead();
    const auto nTake = static_cast<std::size_t>(std::min<std::uint64_t>(m_session.Image().BytesRead(), kRomImageSize));
    if (nTake > 0)
        EditorData(m_session.Buffer(), nTake);
}

void CPageEmu0::OnFillData()
{
    if (!UpdateData(true))
        return;
    const std::uint64_t nStart = ParseHexCount(m_csBufferStart.toStdString());
    const std::uint64_t nStop = ParseHexCount(m_csBufferStop.toStdString());
    const std::uint8_t value = ParseFillByte(m_csFillValue.toStdString());
    QLineEdit* pRefused = nullptr;
    QString strWhy;
    switch (m_session.FillRange(nStart, nStop, value)) {
    case EFillCheck::kOk:
        break;
    case EFillCheck::kStartBeyondImage:
        pRefused = m_pBufferStart;
        strWhy = QStringLiteral("Start Address %1 lies beyond the buffer, which ends at 000fffff.").arg(m_csBufferStart);
        break;
    case EFillCheck::kStopBelowStart:
        pRefused = m_pBufferStop;
        strWhy = QStringLiteral("Stop Address %1 lies below Start Address %2: nothing was filled.")
                     .arg(m_csBufferStop, m_csBufferStart);
        break;
    case EFillCheck::kStopBeyondImage:
        pRefused = m_pBufferStop;
        strWhy = QStringLiteral("Stop Address %1 lies beyond the buffer, which ends at 000fffff: nothing was filled.")
                     .arg(m_csBufferStop);
        break;
    }
    if (pRefused) {
        TarvexMessageBox(this, strWhy);
        FocusFailedControl(pRefused);
        return;
    }
    // The editor's copy too, so that what was typed elsewhere in it stays.
    m_wndHexEdit->FillRange(int(nStart), int(std::min<std::uint64_t>(nStop + 1, kRomImageSize)), value);
    m_csBytesRead = Hex8(m_session.Image().BytesRead());
    m_pBytesRead->setText(m_csBytesRead);
}

void CPageEmu0::OnVerify()
{
    if (!AttachTransport())
        return;
    TakeBackEdits();
    const SVerifyResult result = m_session.Verify();
    // A failed read-back has said why; the message line says how far it got.
    ReportTransfer(true);
    if (result.eResult != EEmuResult::kOk)
        return;
    if (!result.diff.Identical() && !result.diff.ranges.empty())
        m_wndHexEdit->GoTo(int(result.diff.ranges.front().nStart));
    TarvexMessageBox(this, QString::fromStdString(DescribeImageDiff(result.diff, m_session.RomSize())));
}

void CPageEmu0::OnFind()
{
    const std::optional<SFindRequest> request = m_askFind(window(), m_lastFind);
    if (!request)
        return;
    std::vector<std::uint8_t> pattern;
    std::string strError;
    if (!ParseFindPattern(request->text.toStdString(), request->bHex, pattern, strError)) {
        TarvexMessageBox(this, QString::fromStdString(strError));
        return;
    }
    m_lastFind = *request;
    m_findPattern = std::move(pattern);
    FindPattern();
}

void CPageEmu0::OnFindNext()
{
    if (m_findPattern.empty())
        OnFind();
    else
        FindPattern();
}

void CPageEmu0::FindPattern()
{
    const CHexEditModel::FindResult found = m_wndHexEdit->FindNext(m_findPattern);
    if (!found.found) {
        TarvexMessageBox(this, QStringLiteral("\"%1\" is not in the buffer.").arg(m_lastFind.text));
        return;
    }
    m_wndHexEdit->setFocus(Qt::OtherFocusReason);
}

bool CPageEmu0::SaveTo(const QString& strPath)
{
    TakeBackEdits();
    // No format button chosen (a stored value outside the group): the name's extension decides.
    ImageWriteOptions options = WriteOptionsForFileName(strPath.toStdString());
    if (m_nFileFormat >= 0 && m_nFileFormat <= 3)
        options = ImageWriteOptions{FormatOfButton(m_nFileFormat)};
    const ImageWriteResult result = WriteImageFile(strPath.toStdString(), m_session.Window(), options);
    if (!result.ok) {
        TarvexMessageBox(this, QString::fromStdString(result.message));
        return false;
    }
    return true;
}

void CPageEmu0::OnSave()
{
    UpdateData(true);
    if (m_sFileName.isEmpty()) {
        OnSaveAs();
        return;
    }
    const QFileInfo target(m_sFileName);
    if (target.exists()) {
        const QString strSource = QString::fromStdString(m_session.Image().Source());
        const bool bLoadedFrom = !strSource.isEmpty() && QFileInfo(strSource).canonicalFilePath() == target.canonicalFilePath();
        const QString strAsk =
            bLoadedFrom ? QStringLiteral("\"%1\" is the file the buffer was loaded from. Replace it with the buffer's %2 bytes?")
                        : QStringLiteral("\"%1\" already exists. Replace it with the buffer's %2 bytes?");
        if (!TarvexQuestion(this, strAsk.arg(m_sFileName).arg(m_session.RomSize())))
            return;
    }
    SaveTo(m_sFileName);
}

void CPageEmu0::OnSaveAs()
{
    UpdateData(true);
    const QString strPath = m_chooseSaveFile(window(), m_sFileName);
    if (strPath.isEmpty() || !SaveTo(strPath))
        return;
    m_sFileName = strPath;
    UpdateData(false);
}

bool CPageEmu0::AttachTransport()
{
    m_session.SetTransport(m_pFrame ? m_pFrame->Transport() : nullptr);
    return m_session.Transport() != nullptr;
}

void CPageEmu0::ShowProgress(std::uint32_t nPos, std::uint32_t nRange)
{
    // The bar advances block by block and the fields are written again.
    m_wndProgress->setRange(0, int(nRange));
    m_wndProgress->setValue(int(nPos));
    UpdateData(false);
    m_wndProgress->repaint();
}

std::size_t CPageEmu0::EditorData(std::uint8_t* pDest, std::size_t nMax) const
{
    const int nLength = m_wndHexEdit->GetData(pDest, int(std::min<std::size_t>(nMax, 0x7FFFFFFF)));
    return std::min<std::size_t>(nMax, std::size_t(std::max(nLength, 0)));
}

void CPageEmu0::ReportTransfer(bool bRead)
{
    if (!m_pFrame)
        return;
    const SOperationReport& report = m_session.LastReport();
    m_pFrame->ShowStatus(report.Failed() ? DescribeProgress(report, bRead) : std::string());
}

void CPageEmu0::Download()
{
    if (!AttachTransport())
        return;
    UpdateData(true);
    UpdateBytesRead();
    m_session.Download(m_session.Image().BytesRead(),
                       [this](std::uint8_t* pDest, std::size_t nMax) { return EditorData(pDest, nMax); });
    ReportTransfer(false);
    // Every download that ran enables the frame's Run command, whatever became of it.
    if (m_pFrame)
        m_pFrame->EnableRun();
}

void CPageEmu0::OnWrite()
{
    Download();
}

void CPageEmu0::OnRead()
{
    if (!AttachTransport())
        return;
    m_session.Upload();
    ReportTransfer(true);
    ShowEditorData();
}

void CPageEmu0::SetRunState(bool bRun)
{
    if (AttachTransport())
        m_session.SetRunState(bRun);
}

void CPageEmu0::ChangeRomType(int nIndex)
{
    if (!RomTypeAt(nIndex))
        return;
    AttachTransport();
    m_session.ChangeRomType(nIndex);
    UpdateRomSize();
}

void CPageEmu0::OnRun()
{
    SetRunState(true);
}

void CPageEmu0::OnStop()
{
    SetRunState(false);
}

void CPageEmu0::OnReset()
{
    if (AttachTransport())
        m_session.Reset();
}

void CPageEmu0::OnAuto()
{
    if (!AttachTransport())
        return;
    const SAutoResult result = m_session.Auto([this] { return LoadFile(); }, [this] { return m_session.Image().BytesRead(); },
                                              [this](std::uint8_t* pDest, std::size_t nMax) { return EditorData(pDest, nMax); });
    if (result.bDownloaded)
        ReportTransfer(false);
    if (result.bDownloaded && m_pFrame)
        m_pFrame->EnableRun();
}
