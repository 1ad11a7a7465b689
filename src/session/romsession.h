// SPDX-License-Identifier: MIT
// CRomSession: the ROM image, the ROM size and the emulator operations, shared by the buffer page and tarvexctl.
#pragma once

#include "image/imageloader.h"
#include "emulink/emuprotocol.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CEmuTransport;

// Owns the 1 MiB ROM image and how much of it counts as the ROM; runs the emulator operations
// on it through the transport it is given. Messages go to `sink`, owned by `pOwner`.
class CRomSession {
public:
    CRomSession(CMessageSink& sink, void* pOwner);

    // The image; its contents are undefined until the first Fill or Load.
    std::uint8_t* Buffer() const { return m_pBuffer.get(); }
    RomImage Image() const { return RomImage(m_pBuffer.get(), kRomImageSize); }

    std::uint32_t RomSize() const { return m_nRomSize; }
    void SetRomSize(std::uint32_t nSize) { m_nRomSize = nSize; }

    // All of the image becomes `fill`.
    void Fill(std::uint8_t fill);
    // Loads `fileName` as the buffer page's Load does (format 0 Intel HEX, anything else binary).
    // On failure the image is untouched and the result's message names the cause.
    ImageLoadResult Load(const std::string& fileName, int fileFormat, std::uint8_t fill);

    // The link the operations use; null: no emulator link, the operations below do nothing.
    void SetTransport(CEmuTransport* pTransport) { m_pTransport = pTransport; }
    CEmuTransport* Transport() const { return m_pTransport; }
    void SetProgress(ProgressFn progress) { m_progress = std::move(progress); }
    // How far the last operation got: its blocks and the transfer that stopped it.
    const SOperationReport& LastReport() const { return m_report; }

    // Takes back at most `csBytesRead` (hex) bytes from `getData` (the editor's copy; null when
    // nothing edits the image) and sends the blocks that cover the ROM size.
    SDownloadResult Download(std::string_view csBytesRead, const GetDataFn& getData);
    // Reads the blocks that cover the ROM size into the image.
    EEmuResult Upload();
    EEmuResult SetRunState(bool bRun);
    EEmuResult Reset();
    // Sends the ROM size command of type `nIndex`; the session's size stays as it is.
    EEmuResult SendRomType(int nIndex);
    // A new ROM type: the size becomes the type's size (an index outside 0..7 changes nothing),
    // then its ROM size command goes to the emulator.
    EEmuResult ChangeRomType(int nIndex);
    // Stop, load, download, run, reset; `afterDownload` as CEmuLink::Auto takes it.
    SAutoResult Auto(const LoadFn& load, const GetDataFn& getData, const std::function<bool()>& afterDownload = {});

    // Block nIndex of the image, sent as a download sends it.
    EEmuResult WriteBlock(std::uint32_t nIndex);
    // Block nIndex from the emulator into the same place of pDest, a buffer as large as the image.
    EEmuResult ReadBlock(std::uint32_t nIndex, std::uint8_t* pDest);

private:
    // Runs `op` on a link over the transport and keeps its report.
    template <typename Op>
    auto Run(Op op);

    std::unique_ptr<std::uint8_t[]> m_pBuffer;
    std::uint32_t m_nRomSize = 8192;
    CMessageSink& m_sink;
    void* m_pOwner;
    CEmuTransport* m_pTransport = nullptr;
    ProgressFn m_progress;
    SOperationReport m_report;
};
