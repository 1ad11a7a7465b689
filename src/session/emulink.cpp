// SPDX-License-Identifier: MIT
// The emulator's operations: one claim each, one message per failure, how far they got.
#include "session/emulink.h"

#include <algorithm>
#include <vector>

CEmuLink::CEmuLink(CEmuTransport& transport, CMessageSink& sink, void* owner)
    : m_transport(transport), m_sink(sink), m_pOwner(owner)
{
}

std::vector<uint32_t> BlocksOf(uint32_t romSize)
{
    std::vector<uint32_t> blocks(std::min(BlockCount(romSize), kImageBlocks));
    for (uint32_t i = 0; i < blocks.size(); ++i)
        blocks[i] = i;
    return blocks;
}

void CEmuLink::Progress(uint32_t position, uint32_t range) const
{
    if (m_progress)
        m_progress(position, range);
}

bool CEmuLink::Opened(const CEmuClaim& claim)
{
    if (claim.Ok())
        return true;
    m_report.failure = claim.Status();
    m_sink.ShowMessage(m_pOwner, WithCause(kMsgCouldNotOpen, claim.Status()));
    return false;
}

bool CEmuLink::Account(const STransferStatus& transfer, EEmuResult& result, const char* failureText, bool inBlocks)
{
    if (transfer.Ok())
        return true;
    // The emulator is there but not answering as it should: one message, stop here.
    std::string text = WithCause(failureText, transfer);
    if (inBlocks)
        text += std::string("\n") + kMsgStateUnknown;
    m_sink.ShowMessage(m_pOwner, text);
    result = EEmuResult::kTransferFailed;
    m_report.failure = transfer;
    return false;
}

EEmuResult CEmuLink::SendCommand(uint8_t opcode, uint8_t parameter)
{
    m_report = {};
    const CEmuClaim claim(m_transport);
    if (!Opened(claim))
        return EEmuResult::kNoDevice;
    CommandBlock block = MakeCommandBlock(opcode, parameter);
    EEmuResult result = EEmuResult::kOk;
    Account(m_transport.BulkWrite(block.data(), block.size()), result, kMsgWriteFailed, false);
    return result;
}

EEmuResult CEmuLink::SetRunState(bool run) { return SendCommand(EMU_RUN, run ? 1 : 0); }

EEmuResult CEmuLink::SetRomType(int index) { return SendCommand(EMU_ROM_SIZE, RomSizeMask(index)); }

EEmuResult CEmuLink::Reset() { return SendCommand(EMU_RESET, 0); }

EEmuResult CEmuLink::MoveBlocks(uint8_t* image, std::span<const uint32_t> blocks, bool bRead)
{
    const auto count = static_cast<uint32_t>(blocks.size());
    m_report = {};
    m_report.nBlocks = count;
    Progress(0, count);
    const CEmuClaim claim(m_transport);
    if (!Opened(claim))
        return EEmuResult::kNoDevice;
    EEmuResult result = EEmuResult::kOk;
    std::vector<uint8_t> scratch(bRead ? kDataBlockSize : 0);
    for (uint32_t n = 0; n < count; ++n) {
        const uint32_t index = blocks[n];
        // Blocks past the image's end would reach beyond it; ROM sizes stop at 1 MiB anyway.
        if (index >= kImageBlocks)
            continue;
        uint8_t* slice = image + static_cast<size_t>(index) * kDataBlockSize;
        const CommandBlock command = MakeCommandBlock(bRead ? EMU_READ_BLOCK : EMU_WRITE_BLOCK, static_cast<uint8_t>(index));
        if (!Account(m_transport.BulkWrite(command.data(), command.size()), result, kMsgWriteFailed, true))
            return result;
        if (bRead) {
            // Received into a scratch block so that a slice is only replaced by a whole one.
            std::copy(slice, slice + kDataBlockSize, scratch.begin());
            const STransferStatus read = m_transport.BulkRead(scratch.data(), scratch.size());
            if (read.Ok())
                std::copy(scratch.begin(), scratch.end(), slice);
            if (!Account(read, result, kMsgReadFailed, true))
                return result;
        } else if (!Account(m_transport.BulkWrite(slice, kDataBlockSize), result, kMsgWriteFailed, true)) {
            return result;
        }
        ++m_report.nBlocksDone;
        Progress(n + 1, count);
    }
    Progress(count, count);
    return result;
}

EEmuResult CEmuLink::Download(const uint8_t* image, uint32_t romSize)
{
    const std::vector<uint32_t> blocks = BlocksOf(romSize);
    return WriteBlocks(image, blocks);
}

EEmuResult CEmuLink::WriteBlocks(const uint8_t* image, std::span<const uint32_t> blocks)
{
    // A download only reads the image; the transfers take a non-const buffer for both directions.
    return MoveBlocks(const_cast<uint8_t*>(image), blocks, false);
}

EEmuResult CEmuLink::Upload(uint8_t* image, uint32_t romSize)
{
    const std::vector<uint32_t> blocks = BlocksOf(romSize);
    return ReadBlocks(image, blocks);
}

EEmuResult CEmuLink::ReadBlocks(uint8_t* image, std::span<const uint32_t> blocks)
{
    return MoveBlocks(image, blocks, true);
}

std::string DescribeProgress(const SOperationReport& report, bool bRead)
{
    return std::to_string(report.nBlocksDone) + " of " + std::to_string(report.nBlocks) +
           (report.nBlocks == 1 ? " block was " : " blocks were ") + (bRead ? "read." : "written.");
}
