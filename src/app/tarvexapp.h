// SPDX-License-Identifier: MIT
// CTarvexApp: start-up, the document commands, the recent-file list and the About box.
#pragma once

#include "app/tarvexdoc.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class CMainFrame;
class QCommandLineParser;
class QWidget;

class CTarvexApp : public QObject {
    Q_OBJECT
public:
    static constexpr int kRecentFiles = 4;

    // strSettingsPath: the buffer page's settings file, empty for the one beside the executable.
    explicit CTarvexApp(std::string strSettingsPath = {});
    ~CTarvexApp() override;

    // args: the command line without the program name. False ends the program.
    bool InitInstance(const QStringList& args);

    // The command line's standard options, which print a text and end the program; any other
    // first argument is the document's file name (a file named --version opens as ./--version).
    static bool IsInfoOption(const QString& strArg);
    static void AddCommandLineOptions(QCommandLineParser& parser);

    void OnFileNew();
    void OnFileOpen();
    bool OpenDocumentFile(const QString& strPath);
    void OnFilePrintSetup();
    void OnHelpAbout();

    QStringList RecentFiles() const;
    void AddToRecentFileList(const QString& strPath);
    void RemoveFromRecentFileList(const QString& strPath);

    CMainFrame* MainFrame() const { return m_pFrame.get(); }
    const CTarvexDoc& Document() const { return m_doc; }

    // File chooser of Open; replaceable so tests need no dialog. Empty means Cancel.
    std::function<QString(QWidget*)> m_chooseOpenFile;

private:
    void CreateFrame();
    // Writes the list to the profile and the File menu.
    void StoreRecentFiles(const QStringList& files);

    std::string m_strSettingsPath;
    CTarvexDoc m_doc;
    std::unique_ptr<CMainFrame> m_pFrame;
};
