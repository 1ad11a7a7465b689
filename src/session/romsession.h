// SPDX-License-Identifier: MIT
// CRomSession: the ROM image, the ROM size and the emulator operations on them, shared by the
// buffer page, tarvexctl and the Python module.
#pragma once

#include "image/imagediff.h"
#include "image/imageloader.h"
#include "image/romimage.h"
#include "session/emulink.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

class CEmuTransport;

// The editor's GetData: copies at most `maxBytes` of its data to `dest`, returns how many it copied.
using GetDataFn = std::function<std::size_t(std::uint8_t* dest, std::size_t maxBytes)>;
// The page's Load inside Auto: loads into the session's image and returns true, or false when the
// file could not be read (and has said so); nothing follows it then.
using LoadFn = std::function<bool()>;

struct SAutoResult {
    EEmuResult eResult = EEmuResult::kOk;
    bool bLoaded = false;     // false: the load could not read its file, nothing followed it
    bool bDownloaded = false; // the download ran (it enables the frame's Run command)
    bool bChecked = true;     // false: the check after the download refused, run and reset were skipped
};

// Why FillRange refused its range.
enum class EFillCheck { kOk, kStopBelowStart, kStartBeyondImage, kStopBeyondImage };

// What a read-back found: the emulator's bytes and where they differ from the image.
struct SVerifyResult {
    EEmuResult eResult = EEmuResult::kOk;  // the read-back's; the comparison counts only when kOk
    std::vector<std::uint8_t> back;        // the ROM window as read back
    SImageDiff diff;
    bool Identical() const { return eResult == EEmuResult::kOk && diff.Identical(); }
};

// Owns the 1 MiB ROM image and how much of it counts as the ROM; runs the emulator operations
// on it through the transport it is given. Messages go to `sink`, owned by `pOwner`.
class CRomSession {
public:
    // How many differing ranges a verify keeps in its result.
    static constexpr std::size_t kKeptRanges = 64;

    CRomSession(CMessageSink& sink, void* pOwner);

    CRomImage& Image() { return m_image; }
    const CRomImage& Image() const { return m_image; }
    std::uint8_t* Buffer() { return m_image.Data(); }
    const std::uint8_t* Buffer() const { return m_image.Data(); }
    // The bytes the emulator receives: the first RomSize() of the image.
    std::span<const std::uint8_t> Window() const { return m_image.Window(m_nRomSize); }

    std::uint32_t RomSize() const { return m_nRomSize; }
    void SetRomSize(std::uint32_t nSize) { m_nRomSize = nSize; }

    // All of the image becomes `fill`; nothing counts as loaded.
    void Fill(std::uint8_t fill) { m_image.Reset(fill); }
    // Bytes start to stop, both included, become `value` and count as set; the "Bytes were read"
    // count grows to cover them. A range that is reversed or leaves the image changes nothing.
    EFillCheck FillRange(std::uint64_t start, std::uint64_t stop, std::uint8_t value);
    // Loads a file into the image; on failure the image is untouched and the message names the cause.
    ImageLoadResult Load(const std::string& fileName, const ImageLoadOptions& options);
    // The same from an open descriptor (standard input), named `name` in messages.
    ImageLoadResult LoadFromFd(int fd, const std::string& name, const ImageLoadOptions& options);

    // The link the operations use; null: no emulator link, the operations below do nothing.
    void SetTransport(CEmuTransport* pTransport) { m_pTransport = pTransport; }
    CEmuTransport* Transport() const { return m_pTransport; }
    void SetProgress(ProgressFn progress) { m_progress = std::move(progress); }
    // How far the last operation got: its blocks and what stopped it.
    const SOperationReport& LastReport() const { return m_report; }

    // For several operations under one claim (a download and its read-back): true when `claim`
    // holds the emulator, else says so once and false.
    bool Opened(const CEmuClaim& claim);

    // Takes back the first min(nCount, 1 MiB) bytes from `getData` (the editor's copy; null when
    // nothing edits the image), then sends the blocks that cover the ROM size.
    EEmuResult Download(std::uint64_t nCount = 0, const GetDataFn& getData = {});
    // Sends only these blocks of the image.
    EEmuResult WriteBlocks(std::span<const std::uint32_t> blocks);
    // Reads the blocks that cover the ROM size into the image.
    EEmuResult Upload();
    // Reads only these blocks into the image.
    EEmuResult ReadBlocks(std::span<const std::uint32_t> blocks);
    // Reads the blocks that cover the ROM size back (the image stays as it is) and compares the ROM
    // window with the image.
    SVerifyResult Verify();
    // The same for these blocks only: `back` holds the whole window, the blocks not read equal to
    // the image.
    SVerifyResult VerifyBlocks(std::span<const std::uint32_t> blocks);
    EEmuResult SetRunState(bool bRun);
    EEmuResult Reset();
    // Sends the ROM size command of type `nIndex`; the session's size stays as it is.
    EEmuResult SendRomType(int nIndex);
    // A new ROM type: the size becomes the type's size (an index outside 0..7 changes nothing),
    // then its ROM size command goes to the emulator.
    EEmuResult ChangeRomType(int nIndex);
    // Stop, load, download (taking back nCount() bytes from getData first), run, reset, all under
    // one claim. The load runs even when the emulator cannot be opened (the file still reaches the
    // editor); a failed transfer skips the transfers after it, not the load. `afterDownload`, when
    // given, runs after a download that moved every block; false from it skips run and reset.
    SAutoResult Auto(const LoadFn& load, const std::function<std::uint64_t()>& nCount, const GetDataFn& getData,
                     const std::function<bool()>& afterDownload = {});

private:
    // Runs `op` on a link over the transport and keeps its report.
    template <typename Op>
    auto Run(Op op);
    SVerifyResult ReadBack(std::span<const std::uint32_t> blocks);

    CRomImage m_image;
    std::uint32_t m_nRomSize = kDefaultRomSize;
    CMessageSink& m_sink;
    void* m_pOwner;
    CEmuTransport* m_pTransport = nullptr;
    ProgressFn m_progress;
    SOperationReport m_report;
};
