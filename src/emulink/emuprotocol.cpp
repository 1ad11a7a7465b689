// SPDX-License-Identifier: MIT
// The emulator's command protocol and the operations of the buffer page built on it.
#include "emulink/emuprotocol.h"

#include <algorithm>
#include <limits>

CommandBlock MakeCommandBlock(uint8_t opcode, uint8_t parameter)
{
    CommandBlock block{};
    block[0] = opcode;
    block[1] = parameter;
    return block;
}

uint32_t BlockCount(uint32_t romSize)
{
    return (romSize >> 15) + ((romSize & 0x7FFF) != 0 ? 1 : 0);
}

uint8_t RomSizeMask(int index)
{
    const SRomType* type = RomTypeAt(index);
    return type ? type->nMask : 0;
}

uint32_t RomSizeOfIndex(int index)
{
    const SRomType* type = RomTypeAt(index);
    return type ? type->nSize : 0;
}

uint64_t ParseHexCount(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        if (value > (std::numeric_limits<uint64_t>::max() >> 4))
            value = std::numeric_limits<uint64_t>::max();
        else
            value = (value << 4) | digit;
    }
    return value;
}

CEmuLink::CEmuLink(CEmuTransport& transport, CMessageSink& sink, void* owner)
    : m_transport(transport), m_sink(sink), m_pOwner(owner)
{
}

void CEmuLink::Progress(uint32_t position, uint32_t range) const
{
    if (m_progress)
        m_progress(position, range);
}

bool CEmuLink::Account(const STransferStatus& transfer, EEmuResult& result, const char* failureText, bool inBlocks)
{
    if (transfer.Ok())
        return true;
    if (transfer.NotOpened()) {
        // The emulator is absent or refused: the write has said so; the operation still runs through.
        if (result == EEmuResult::kOk)
            result = EEmuResult::kNoDevice;
        return true;
    }
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
    CommandBlock block = MakeCommandBlock(opcode, parameter);
    EEmuResult result = EEmuResult::kOk;
    Account(m_transport.BulkWrite(m_pOwner, block.data(), block.size()), result, kMsgWriteFailed, false);
    return result;
}

EEmuResult CEmuLink::SetRunState(bool run) { return SendCommand(EMU_RUN, run ? 1 : 0); }

EEmuResult CEmuLink::SetRomType(int index)
{
    return SendCommand(EMU_ROM_SIZE, RomSizeMask(static_cast<uint8_t>(index)));
}

EEmuResult CEmuLink::Reset() { return SendCommand(EMU_RESET, 0); }

SDownloadResult CEmuLink::Download(uint8_t* romBuffer, uint32_t romSize, std::string_view csBytesRead,
                                   const GetDataFn& getData)
{
    const uint32_t blocks = BlockCount(romSize);
    m_report = {};
    m_report.nBlocks = blocks;
    Progress(0, blocks);
    // The buffer holds 1 MiB whatever "Bytes were read" claims.
    const size_t maxBytes = static_cast<size_t>(std::min<uint64_t>(ParseHexCount(csBytesRead), kRomImageSize));
    if (maxBytes > 0 && getData)
        getData(romBuffer, maxBytes);

    SDownloadResult download;
    bool stopped = false;
    for (uint32_t i = 0; i < blocks && !stopped; ++i) {
        // Blocks past the buffer's end would read beyond it; ROM sizes stop at 1 MiB anyway.
        if (static_cast<size_t>(i) * kDataBlockSize >= kRomImageSize)
            break;
        CommandBlock command = MakeCommandBlock(EMU_WRITE_BLOCK, static_cast<uint8_t>(i));
        const STransferStatus sent = m_transport.BulkWrite(m_pOwner, command.data(), command.size());
        if (!Account(sent, download.eResult, kMsgWriteFailed, true)) {
            stopped = true;
            break;
        }
        const STransferStatus data =
            m_transport.BulkWrite(m_pOwner, romBuffer + static_cast<size_t>(i) * kDataBlockSize, kDataBlockSize);
        if (!Account(data, download.eResult, kMsgWriteFailed, true)) {
            stopped = true;
            break;
        }
        if (sent.Ok() && data.Ok())
            ++m_report.nBlocksDone;
        Progress(i + 1, blocks);
    }
    // A download cut short keeps its bar where it stopped, so that it does not pass for a whole one.
    if (!stopped)
        Progress(blocks, blocks);
    download.bRunEnable = true;
    download.nBlocks = m_report.nBlocks;
    download.nBlocksWritten = m_report.nBlocksDone;
    return download;
}

EEmuResult CEmuLink::Upload(uint8_t* romBuffer, uint32_t romSize)
{
    const uint32_t blocks = BlockCount(romSize);
    m_report = {};
    m_report.nBlocks = blocks;
    Progress(0, blocks);
    EEmuResult result = EEmuResult::kOk;
    bool stopped = false;
    std::vector<uint8_t> block(kDataBlockSize);
    for (uint32_t i = 0; i < blocks; ++i) {
        if (static_cast<size_t>(i) * kDataBlockSize >= kRomImageSize)
            break;
        CommandBlock command = MakeCommandBlock(EMU_READ_BLOCK, static_cast<uint8_t>(i));
        const STransferStatus sent = m_transport.BulkWrite(m_pOwner, command.data(), command.size());
        if (!Account(sent, result, kMsgWriteFailed, true)) {
            stopped = true;
            break;
        }
        uint8_t* slice = romBuffer + static_cast<size_t>(i) * kDataBlockSize;
        // Receive into a scratch block so that a slice is only replaced by a whole one.
        std::copy(slice, slice + kDataBlockSize, block.begin());
        const STransferStatus read = m_transport.BulkRead(block.data(), block.size());
        if (read.Ok())
            std::copy(block.begin(), block.end(), slice);
        if (!Account(read, result, kMsgReadFailed, true)) {
            stopped = true;
            break;
        }
        if (sent.Ok() && read.Ok())
            ++m_report.nBlocksDone;
        Progress(i + 1, blocks);
    }
    if (!stopped)
        Progress(blocks, blocks);
    return result;
}

SAutoResult CEmuLink::Auto(uint8_t* romBuffer, uint32_t romSize, const LoadFn& load, const GetDataFn& getData,
                           const std::function<bool()>& afterDownload)
{
    SAutoResult autoResult;
    autoResult.eResult = SetRunState(false);
    // The load is no transfer: a failed stop skips the download, run and reset, yet the file the
    // user asked for still reaches the editor.
    std::optional<std::string> bytesRead = load ? load() : std::nullopt;
    if (!bytesRead)
        return autoResult;
    autoResult.bLoaded = true;
    if (autoResult.eResult == EEmuResult::kTransferFailed)
        return autoResult;
    SDownloadResult download = Download(romBuffer, romSize, *bytesRead, getData);
    autoResult.bRunEnable = download.bRunEnable;
    autoResult.nBlocks = download.nBlocks;
    autoResult.nBlocksWritten = download.nBlocksWritten;
    if (download.eResult == EEmuResult::kTransferFailed) {
        autoResult.eResult = EEmuResult::kTransferFailed;
        return autoResult;
    }
    if (download.eResult == EEmuResult::kNoDevice)
        autoResult.eResult = EEmuResult::kNoDevice;
    // Run and reset keep the download's report: they move no blocks.
    const SOperationReport downloadReport = m_report;
    if (download.eResult == EEmuResult::kOk && afterDownload && !afterDownload())
        return autoResult;
    auto merge = [&autoResult](EEmuResult step) {
        if (step != EEmuResult::kOk && autoResult.eResult != EEmuResult::kTransferFailed)
            autoResult.eResult = step;
        return step != EEmuResult::kTransferFailed;
    };
    if (merge(SetRunState(true)))
        merge(Reset());
    const STransferStatus lastFailure = m_report.failure;
    m_report = downloadReport;
    m_report.failure = lastFailure;
    return autoResult;
}

EEmuResult CEmuLink::WriteBlock(const uint8_t* romBuffer, uint32_t index)
{
    m_report = {};
    m_report.nBlocks = 1;
    EEmuResult result = EEmuResult::kOk;
    if (static_cast<size_t>(index) * kDataBlockSize >= kRomImageSize)
        return result;
    CommandBlock command = MakeCommandBlock(EMU_WRITE_BLOCK, static_cast<uint8_t>(index));
    const STransferStatus sent = m_transport.BulkWrite(m_pOwner, command.data(), command.size());
    if (!Account(sent, result, kMsgWriteFailed, true))
        return result;
    const STransferStatus data =
        m_transport.BulkWrite(m_pOwner, romBuffer + static_cast<size_t>(index) * kDataBlockSize, kDataBlockSize);
    if (Account(data, result, kMsgWriteFailed, true) && sent.Ok() && data.Ok())
        m_report.nBlocksDone = 1;
    return result;
}

EEmuResult CEmuLink::ReadBlock(uint8_t* romBuffer, uint32_t index)
{
    m_report = {};
    m_report.nBlocks = 1;
    EEmuResult result = EEmuResult::kOk;
    if (static_cast<size_t>(index) * kDataBlockSize >= kRomImageSize)
        return result;
    CommandBlock command = MakeCommandBlock(EMU_READ_BLOCK, static_cast<uint8_t>(index));
    const STransferStatus sent = m_transport.BulkWrite(m_pOwner, command.data(), command.size());
    if (!Account(sent, result, kMsgWriteFailed, true))
        return result;
    std::vector<uint8_t> block(kDataBlockSize);
    uint8_t* slice = romBuffer + static_cast<size_t>(index) * kDataBlockSize;
    std::copy(slice, slice + kDataBlockSize, block.begin());
    const STransferStatus read = m_transport.BulkRead(block.data(), block.size());
    if (read.Ok())
        std::copy(block.begin(), block.end(), slice);
    if (Account(read, result, kMsgReadFailed, true) && sent.Ok() && read.Ok())
        m_report.nBlocksDone = 1;
    return result;
}
