// SPDX-License-Identifier: MIT
// Start-up and the commands the application object serves.
#include "app/tarvexapp.h"

#include "app/aboutbox.h"
#include "frame/commandids.h"
#include "frame/mainframe.h"
#include "pages/messagebox.h"
#include "view/tarvexview.h"

#include <QAction>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QSettings>

namespace {

// The framework's profile: the organisation key and the application name.
QSettings Profile()
{
    return QSettings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Tarvex"));
}

} // namespace

CTarvexApp::CTarvexApp(std::string strSettingsPath) : m_strSettingsPath(std::move(strSettingsPath))
{
    m_chooseOpenFile = [](QWidget* pOwner) { return QFileDialog::getOpenFileName(pOwner); };
}

CTarvexApp::~CTarvexApp() = default;

bool CTarvexApp::InitInstance(const QStringList& args)
{
    QCoreApplication::setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    QCoreApplication::setApplicationName(QStringLiteral("Tarvex"));

    if (args.isEmpty()) {
        OnFileNew();
    } else if (!OpenDocumentFile(args.front())) {
        m_pFrame.reset();
        return false;
    }
    // A signal during a start-up message: the program ends without showing its window.
    if (MessageBoxesEnded())
        return true;
    m_pFrame->FitToScreen();
    m_pFrame->show();
    m_pFrame->raise();
    return true;
}

bool CTarvexApp::IsInfoOption(const QString& strArg)
{
    // The options AddCommandLineOptions() adds; main() answers them.
    static const QStringList kOptions{QStringLiteral("-h"), QStringLiteral("--help"),
                                      QStringLiteral("--help-all"), QStringLiteral("-v"),
                                      QStringLiteral("--version")};
    return kOptions.contains(strArg);
}

void CTarvexApp::AddCommandLineOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Control program of a USB EPROM emulator: loads Intel HEX, S-record, Tektronix or "
                       "binary files into a 1 MiB ROM image, edits it, downloads it to the emulator, reads "
                       "it back or verifies it, and saves it."));
    // Qt's stock help and version options would describe themselves in Qt's words.
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Print this help and exit.")});
    parser.addOption({QStringLiteral("help-all"),
                      QStringLiteral("Print this help and the Qt options the window takes, and exit.")});
    parser.addOption({{QStringLiteral("v"), QStringLiteral("version")},
                      QStringLiteral("Print the program's name and version and exit.")});
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("An image file to load into Buffer 0 (any argument but the options above)."),
                                 QStringLiteral("[file]"));
}

void CTarvexApp::CreateFrame()
{
    if (m_pFrame)
        return;
    m_pFrame = std::make_unique<CMainFrame>(m_strSettingsPath);
    CMainFrame* pFrame = m_pFrame.get();
    connect(pFrame->Action(ID_FILE_NEW), &QAction::triggered, this, &CTarvexApp::OnFileNew);
    connect(pFrame->Action(ID_FILE_OPEN), &QAction::triggered, this, &CTarvexApp::OnFileOpen);
    connect(pFrame->Action(ID_FILE_PRINT_SETUP), &QAction::triggered, this, &CTarvexApp::OnFilePrintSetup);
    connect(pFrame->Action(ID_APP_ABOUT), &QAction::triggered, this, &CTarvexApp::OnHelpAbout);
    connect(pFrame->Action(ID_FILE_PRINT), &QAction::triggered, pFrame->View(), &CTarvexView::OnFilePrint);
    connect(pFrame->Action(ID_FILE_PRINT_PREVIEW), &QAction::triggered, pFrame->View(),
            &CTarvexView::OnFilePrintPreview);
    // An entry whose file cannot be opened any more leaves the list, as the framework's does.
    pFrame->m_onOpenRecent = [this](const QString& strPath) {
        if (!OpenDocumentFile(strPath))
            RemoveFromRecentFileList(strPath);
    };
    pFrame->SetRecentFiles(RecentFiles());
}

void CTarvexApp::OnFileNew()
{
    // The document is never modified, so nothing is asked.
    CreateFrame();
    m_doc.OnNewDocument();
    m_pFrame->View()->OnInitialUpdate();
}

void CTarvexApp::OnFileOpen()
{
    const QString strPath = m_chooseOpenFile(m_pFrame.get());
    if (!strPath.isEmpty())
        OpenDocumentFile(strPath);
}

bool CTarvexApp::OpenDocumentFile(const QString& strPath)
{
    CreateFrame();
    if (!m_doc.OnOpenDocument(strPath, m_pFrame.get()))
        return false;
    AddToRecentFileList(m_doc.GetPathName());
    m_pFrame->View()->OnInitialUpdate();
    // The file opened is an image: it goes into Buffer 0, as the user who opened it expects.
    if (CPageEmu0* pPage = m_pFrame->BufferPage())
        pPage->OpenImage(m_doc.GetPathName());
    return true;
}


void CTarvexApp::OnFilePrintSetup()
{
    QPrinter printer;
    QPageSetupDialog dialog(&printer, m_pFrame.get());
    dialog.exec();
}

void CTarvexApp::OnHelpAbout()
{
    CAboutBox box(m_pFrame.get());
    box.exec();
}

QStringList CTarvexApp::RecentFiles() const
{
    QSettings profile = Profile();
    QStringList files;
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString strFile = profile.value(QStringLiteral("Recent File List/File%1").arg(i)).toString();
        if (!strFile.isEmpty())
            files.append(strFile);
    }
    return files;
}

void CTarvexApp::AddToRecentFileList(const QString& strPath)
{
    QStringList files = RecentFiles();
    files.removeAll(strPath);
    files.prepend(strPath);
    while (files.size() > kRecentFiles)
        files.removeLast();
    StoreRecentFiles(files);
}

void CTarvexApp::RemoveFromRecentFileList(const QString& strPath)
{
    QStringList files = RecentFiles();
    files.removeAll(strPath);
    StoreRecentFiles(files);
}

void CTarvexApp::StoreRecentFiles(const QStringList& files)
{
    QSettings profile = Profile();
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString strKey = QStringLiteral("Recent File List/File%1").arg(i);
        if (i <= files.size())
            profile.setValue(strKey, files[i - 1]);
        else
            profile.remove(strKey);
    }
    if (m_pFrame)
        m_pFrame->SetRecentFiles(files);
}
