// SPDX-License-Identifier: MIT
// CEmuLink: the emulator's operations over a transport, each one opening the emulator once,
// with what they say when something fails and how far they got.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "emulink/emuprotocol.h"
#include "emulink/transport.h"
#include "session/messagesink.h"

inline constexpr const char* kMsgWriteFailed = "The transfer to the Device failed";
inline constexpr const char* kMsgReadFailed = "The transfer from the Device failed";
// Added to a failed transfer's message inside a download or an upload: the emulator may still wait
// for the rest of a block.
inline constexpr const char* kMsgStateUnknown =
    "The emulator's state is unknown: reconnect or reset it before the next download.";

// How an operation ended. kNoDevice: the emulator could not be opened (absent, refused, busy), so
// nothing reached it; kTransferFailed: a transfer failed after opening and the rest were skipped.
enum class EEmuResult { kOk, kNoDevice, kTransferFailed };

// Called with (position, range) at the start (0, n) and after each block, ending at (n, n) when the
// operation ran through; a failure that ends it early leaves the last call where it stopped.
using ProgressFn = std::function<void(uint32_t position, uint32_t range)>;

// How far the last operation got, and what stopped it.
struct SOperationReport {
    uint32_t nBlocks = 0;      // data blocks the operation covers
    uint32_t nBlocksDone = 0;  // blocks whose command and data block both went through
    STransferStatus failure;   // the open or the transfer that ended it early; Ok when none did
    bool Failed() const { return !failure.Ok(); }
};

// Runs the operations against the transport; messages go to `sink`, owned by `owner`. Each public
// operation holds the emulator from its first transfer to its last; one that cannot open it says
// "Could not open the Device" (with the cause) once and sends nothing. Operations nest: one run
// inside another (under a CEmuClaim the caller holds) shares its claim.
class CEmuLink {
public:
    CEmuLink(CEmuTransport& transport, CMessageSink& sink, void* owner);

    void SetProgress(ProgressFn progress) { m_progress = std::move(progress); }
    // The last operation's blocks and failure (a single command counts no blocks).
    const SOperationReport& Report() const { return m_report; }

    // For a sequence of operations under one claim: true when `claim` holds the emulator; otherwise
    // says "Could not open the Device" with the cause, keeps it as the report's failure, and false.
    bool Opened(const CEmuClaim& claim);

    // {EMU_RUN, run ? 1 : 0}
    EEmuResult SetRunState(bool run);
    // {EMU_ROM_SIZE, mask of the index}
    EEmuResult SetRomType(int index);
    // {EMU_RESET, 0}
    EEmuResult Reset();
    // Each block of `romSize` from `image` (1 MiB): command block, then the 32 KiB data block.
    EEmuResult Download(const uint8_t* image, uint32_t romSize);
    // The blocks listed (ascending or not), the same way; the report counts them.
    EEmuResult WriteBlocks(const uint8_t* image, std::span<const uint32_t> blocks);
    // For each block of `romSize`: read command, then 32 KiB into `image` at its place. A block not
    // fully received leaves its slice as it was.
    EEmuResult Upload(uint8_t* image, uint32_t romSize);
    // The blocks listed, the same way.
    EEmuResult ReadBlocks(uint8_t* image, std::span<const uint32_t> blocks);

    CEmuTransport& Transport() const { return m_transport; }
    CMessageSink& Sink() const { return m_sink; }
    void* Owner() const { return m_pOwner; }

private:
    EEmuResult SendCommand(uint8_t opcode, uint8_t parameter);
    EEmuResult MoveBlocks(uint8_t* image, std::span<const uint32_t> blocks, bool bRead);
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

// How far a download (`bRead` false) or an upload got: "2 of 32 blocks were written."
std::string DescribeProgress(const SOperationReport& report, bool bRead);

// The blocks 0 .. BlockCount(romSize) - 1.
std::vector<uint32_t> BlocksOf(uint32_t romSize);
