// SPDX-License-Identifier: MIT
// The emulator's command protocol and the operations of the buffer page built on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/messagesink.h"
#include "emulink/romtypes.h"
#include "emulink/transport.h"
#include "emulink/usbtransport.h"

enum EEmuOpcode : uint8_t {
    EMU_WRITE_BLOCK = 0,
    EMU_READ_BLOCK = 1,
    EMU_RUN = 2,
    EMU_ROM_SIZE = 3,
    EMU_RESET = 4,
};

inline constexpr size_t kCommandBlockSize = 64;
inline constexpr size_t kDataBlockSize = 32768;

inline constexpr const char* kMsgWriteFailed = "The transfer to the Device failed";
inline constexpr const char* kMsgReadFailed = "The transfer from the Device failed";
// Added to a failed transfer's message inside a download or an upload: the emulator may still wait
// for the rest of a block.
inline constexpr const char* kMsgStateUnknown =
    "The emulator's state is unknown: reconnect or reset it before the next download.";

using CommandBlock = std::array<uint8_t, kCommandBlockSize>;

CommandBlock MakeCommandBlock(uint8_t opcode, uint8_t parameter);
// Number of 32 KiB data blocks that cover `romSize` bytes (rounded up; 0 gives 0).
uint32_t BlockCount(uint32_t romSize);
// Mask sent with EMU_ROM_SIZE for ROM type index k (kRomTypes); an index outside 0..7 gives 0.
uint8_t RomSizeMask(int index);
// The size of ROM type index 0..7 (kRomTypes); 0 outside.
uint32_t RomSizeOfIndex(int index);
// Hex text as the page reads it: leading blanks skipped, stops at the first non-hex character, no digits give 0.
// Values beyond 64 bits saturate.
uint64_t ParseHexCount(std::string_view text);

// How an operation ended. kNoDevice: some write could not open the device (each said so), none failed
// after opening; kTransferFailed: a transfer failed after opening and the rest were skipped.
enum class EEmuResult { kOk, kNoDevice, kTransferFailed };

// Called with (position, range) at the start (0, n) and after each block, ending at (n, n) when the
// operation ran through; a transfer failure that ends it early leaves the last call where it stopped.
using ProgressFn = std::function<void(uint32_t position, uint32_t range)>;
// The editor's GetData: copies at most `maxBytes` of its data to `dest`, returns how many it copied.
using GetDataFn = std::function<size_t(uint8_t* dest, size_t maxBytes)>;
// The page's Load: fills the buffer from the named file and returns the new "Bytes were read" text,
// or nullopt when the file could not be opened (the loader has reported that itself).
using LoadFn = std::function<std::optional<std::string>()>;

// How far the last operation of a CEmuLink got, and the transfer that stopped it.
struct SOperationReport {
    uint32_t nBlocks = 0;      // data blocks the operation covers
    uint32_t nBlocksDone = 0;  // blocks whose command and data block both went through
    STransferStatus failure;   // the failed transfer that ended it early; Ok when none did
};

struct SDownloadResult {
    EEmuResult eResult = EEmuResult::kOk;
    bool bRunEnable = true;       // every finished download enables the frame's Run command
    uint32_t nBlocks = 0;         // as SOperationReport: "2 of 32 blocks were written"
    uint32_t nBlocksWritten = 0;
};

struct SAutoResult {
    EEmuResult eResult = EEmuResult::kOk;
    bool bLoaded = false;     // false: the load could not open its file, nothing followed it
    bool bRunEnable = false;  // true when the download ran (Auto touches the frame only through it)
    uint32_t nBlocks = 0;     // of the download, when it ran
    uint32_t nBlocksWritten = 0;
};

// Runs the operations against the transport; messages go to `sink`, owned by `owner` (the buffer page).
class CEmuLink {
public:
    CEmuLink(CEmuTransport& transport, CMessageSink& sink, void* owner);

    void SetProgress(ProgressFn progress) { m_progress = std::move(progress); }
    // The last operation's blocks and failure (a single command counts no blocks).
    const SOperationReport& Report() const { return m_report; }

    // {EMU_RUN, run ? 1 : 0}
    EEmuResult SetRunState(bool run);
    // {EMU_ROM_SIZE, mask of the index's low byte}
    EEmuResult SetRomType(int index);
    // {EMU_RESET, 0}
    EEmuResult Reset();
    // Takes up to min(bytes read, 1 MiB) bytes back from the editor into `romBuffer` (1 MiB),
    // then sends each block of `romSize`: command block, then the 32 KiB data block.
    SDownloadResult Download(uint8_t* romBuffer, uint32_t romSize, std::string_view csBytesRead,
                             const GetDataFn& getData);
    // For each block of `romSize`: read command, then 32 KiB into the buffer. A block not fully
    // received leaves its slice as it was.
    EEmuResult Upload(uint8_t* romBuffer, uint32_t romSize);
    // Stop, load, download, run, reset. Ends after the load when it could not open its file. A transfer
    // that fails after opening skips the transfers after it, not the load. `afterDownload`, when given,
    // runs after a download that moved every block; false from it skips the run and the reset.
    SAutoResult Auto(uint8_t* romBuffer, uint32_t romSize, const LoadFn& load, const GetDataFn& getData,
                     const std::function<bool()>& afterDownload = {});

    // One block as a download sends it: command block {0, index}, then the 32 KiB at index x 32 KiB.
    EEmuResult WriteBlock(const uint8_t* romBuffer, uint32_t index);
    // One block as an upload reads it into `romBuffer` at index x 32 KiB; a block not fully received
    // leaves the slice as it was.
    EEmuResult ReadBlock(uint8_t* romBuffer, uint32_t index);

private:
    EEmuResult SendCommand(uint8_t opcode, uint8_t parameter);
    void Progress(uint32_t position, uint32_t range) const;
    // Folds one transfer into the operation's result; true when the operation should go on.
    // `inBlocks`: the transfer belongs to a download or an upload, which it may leave half done.
    bool Account(const STransferStatus& transfer, EEmuResult& result, const char* failureText, bool inBlocks);

    CEmuTransport& m_transport;
    CMessageSink& m_sink;
    void* m_pOwner;
    ProgressFn m_progress;
    SOperationReport m_report;
};
