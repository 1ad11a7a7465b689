// SPDX-License-Identifier: MIT
// CPageEmu0: the " Buffer 0 " page: fields, Load and the emulator operations over the ROM session.
#pragma once

#include "pages/messagebox.h"
#include "pages/propertypage.h"
#include "emulink/usbtransport.h"
#include "session/romsession.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class CHexEdit;

// What the page needs of the main frame; the frame implements it.
class CFrameLink {
public:
    virtual ~CFrameLink() = default;
    // The ROM Type list's size in bytes (m_nCurRomSize).
    virtual std::uint32_t CurRomSize() const = 0;
    // A download ended: the frame's Run command becomes available.
    virtual void EnableRun() = 0;
    // The emulator link; null when the program runs without one.
    virtual CUsbTransport* Transport() = 0;
    // The settings file; empty for the one beside the executable.
    virtual std::string SettingsPath() const { return {}; }
    // How an operation on the emulator ended, for the message line; empty gives the line back
    // to the banner.
    virtual void ShowStatus(const std::string& text) { (void)text; }
};

// What Find asks for: hex bytes or a text.
struct SFindRequest {
    QString text;
    bool bHex = true;
};

class CPageEmu0 : public CPropertyPage {
    Q_OBJECT
public:
    // Creates the ROM session (its 1 MiB image) and loads the settings.
    explicit CPageEmu0(CFrameLink* pFrame, QWidget* pParent = nullptr);
    // Saves the settings when the page goes (see OnDestroy).
    ~CPageEmu0() override;

    void OnFileFind();
    void OnLoad();
    void OnSave();
    void OnSaveAs();
    void OnFillData();
    void OnVerify();
    void OnFind();
    // Finds the last pattern again from the caret on; asks for one when there is none yet.
    void OnFindNext();
    // A file the user opened with the program (the command line, File > Open): it goes in the
    // File Name field with the format it looks like, and is loaded.
    void OpenImage(const QString& strPath);
    // What Load passes to the loader for the fields as they stand (read them first): the format
    // of the buttons, the fill byte, the ROM size, and File Offset and Buffer Offset as the
    // address map. False, having said so, for a Buffer Offset beyond the buffer.
    bool LoadOptions(ImageLoadOptions& options);
    void OnWrite();
    void OnRead();
    void OnRun();
    void OnStop();
    void OnReset();
    void OnAuto();
    void SetRunState(bool bRun);
    // The frame's ROM Type list changed: the new size, its command to the emulator, the page
    // and the editor shown again.
    void ChangeRomType(int nIndex);
    // Reads the fields back and writes the settings; runs once.
    void OnDestroy();

    std::uint8_t* RomBuffer() { return m_session.Buffer(); }
    std::uint32_t RomSize() const { return m_session.RomSize(); }

    // The file chooser of "File Find", starting in strFolder (empty: the working folder);
    // replaceable so tests need no dialog. Empty means Cancel.
    std::function<QString(QWidget* pOwner, const QString& strFolder)> m_chooseFile;
    // The file chooser of "Save As", proposing the current name.
    std::function<QString(QWidget* pOwner, const QString& strCurrent)> m_chooseSaveFile;
    // Asks what Find looks for, proposing the last request; nullopt means Cancel.
    std::function<std::optional<SFindRequest>(QWidget* pOwner, const SFindRequest& last)> m_askFind;

    // The exchanged fields and the controls, as the dialog binds them.
    QProgressBar* m_wndProgress = nullptr;
    CHexEdit* m_wndHexEdit = nullptr;
    QTreeWidget* m_wndList = nullptr;
    QString m_sFileName;
    int m_nFileFormat = 0;
    QString m_csBufferOffset = QStringLiteral("00000000");
    QString m_csFileOffset = QStringLiteral("00000000");
    QString m_csBufferStart = QStringLiteral("00000000");
    QString m_csBufferStop = QStringLiteral("00000000");
    QString m_csRomSize = QStringLiteral("0");
    QString m_csFillValue = QStringLiteral("00");
    QString m_csBytesRead = QStringLiteral("0");

    // Controls, in the order of the reference layout.
    QLineEdit* m_pFileName = nullptr;
    QPushButton* m_pFileFind = nullptr;
    QPushButton* m_pLoad = nullptr;
    QPushButton* m_pSave = nullptr;
    QPushButton* m_pSaveAs = nullptr;
    QLineEdit* m_pFileOffset = nullptr;
    QLineEdit* m_pBufferOffset = nullptr;
    QRadioButton* m_pFormat[4] = {};
    QLineEdit* m_pRomSize = nullptr;
    QLineEdit* m_pBytesRead = nullptr;
    QPushButton* m_pRun = nullptr;
    QPushButton* m_pStop = nullptr;
    QPushButton* m_pAuto = nullptr;
    QPushButton* m_pReset = nullptr;
    QPushButton* m_pWrite = nullptr;
    QPushButton* m_pRead = nullptr;
    QPushButton* m_pVerify = nullptr;
    QPushButton* m_pFind = nullptr;
    QPushButton* m_pFillData = nullptr;
    QLineEdit* m_pFillValue = nullptr;
    QLineEdit* m_pBufferStart = nullptr;
    QLineEdit* m_pBufferStop = nullptr;

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;

private:
    void UpdateRomSize();
    // Load's work; false when the file could not be read (the user has been told).
    bool LoadFile();
    // The count grows to cover what was typed into the editor, and the field shows it.
    void UpdateBytesRead();
    // The editor's bytes, as far as the count covers them, go back into the image.
    void TakeBackEdits();
    // Writes the ROM window to strPath in the chosen format; false, having said why, on failure.
    bool SaveTo(const QString& strPath);
    void FindPattern();
    // After a download or an upload: how far a failed one got, on the message line.
    void ReportTransfer(bool bRead);
    void Download();
    void ShowEditorData();
    void ExchangeSettings(bool bLoad);
    // Hands the frame's transport to the session; false when the program runs without one.
    bool AttachTransport();
    // Progress of Write, Read and Auto on the page's bar.
    void ShowProgress(std::uint32_t nPos, std::uint32_t nRange);
    // The editor's bytes, taken back for a download.
    std::size_t EditorData(std::uint8_t* pDest, std::size_t nMax) const;

    CFrameLink* m_pFrame;
    CMessageBoxSink m_sink;
    CRomSession m_session;
    bool m_bDestroyed = false;
    SFindRequest m_lastFind;
    std::vector<std::uint8_t> m_findPattern;
};
