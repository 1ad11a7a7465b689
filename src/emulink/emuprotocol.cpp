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

CEmuLink::CEmuLink(CUsbTransport& transport, CMessageSink& sink, void* owner)
    : m_transport(transport), m_sink(sink), m_pOwner(owner)
{
}

void CEmuLink::Progress(uint32_t position, uint32_t range) const
{
    if (m_progress)
        m_progress(position, range);
}

bool CEmuLink::Account(ETransfer transfer, EEmuResult& result, const char* failureText)
{
    switch (transfer) {
    case ETransfer::kOk:
        return true;
    case ETransfer::kNotOpened:
        // The emulator is absent: the write has said so; the operation still runs through.
        if (result == EEmuResult::kOk)
            result = EEmuResult::kNoDevice;
        return true;
    case ETransfer::kFailed:
        // The emulator is there but not answering as it should: one message, stop here.
        m_sink.ShowMessage(m_pOwner, failureText);
        result = EEmuResult::kTransferFailed;
        return false;
    }
    return false;
}

EEmuResult CEmuLink::SendCommand(uint8_t opcode, uint8_t parameter)
{
    CommandBlock block = MakeCommandBlock(opcode, parameter);
    EEmuResult result = EEmuResult::kOk;
    Account(m_transport.BulkWrite(m_pOwner, block.data(), block.size()), result, kMsgWriteFailed);
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
    Progress(0, blocks);
    // The buffer holds 1 MiB whatever "Bytes were read" claims.
    const size_t maxBytes = static_cast<size_t>(std::min<uint64_t>(ParseHexCount(csBytesRead), kRomImageSize));
    if (maxBytes > 0 && getData)
        getData(romBuffer, maxBytes);

    SDownloadResult download;
    for (uint32_t i = 0; i < blocks; ++i) {
        // Blocks past the buffer's end would read beyond it; ROM sizes stop at 1 MiB anyway.
        if (static_cast<size_t>(i) * kDataBlockSize >= kRomImageSize)
            break;
        CommandBlock command = MakeCommandBlock(EMU_WRITE_BLOCK, static_cast<uint8_t>(i));
        if (!Account(m_transport.BulkWrite(m_pOwner, command.data(), command.size()), download.eResult,
                     kMsgWriteFailed))
            break;
        if (!Account(m_transport.BulkWrite(m_pOwner, romBuffer + static_cast<size_t>(i) * kDataBlockSize,
                                           kDataBlockSize),
                     download.eResult, kMsgWriteFailed))
            break;
        Progress(i + 1, blocks);
    }
    Progress(blocks, blocks);
    download.bRunEnable = true;
    return download;
}

EEmuResult CEmuLink::Upload(uint8_t* romBuffer, uint32_t romSize)
{
    const uint32_t blocks = BlockCount(romSize);
    Progress(0, blocks);
    EEmuResult result = EEmuResult::kOk;
    std::vector<uint8_t> block(kDataBlockSize);
    for (uint32_t i = 0; i < blocks; ++i) {
        if (static_cast<size_t>(i) * kDataBlockSize >= kRomImageSize)
            break;
        CommandBlock command = MakeCommandBlock(EMU_READ_BLOCK, static_cast<uint8_t>(i));
        if (!Account(m_transport.BulkWrite(m_pOwner, command.data(), command.size()), result, kMsgWriteFailed))
            break;
        uint8_t* slice = romBuffer + static_cast<size_t>(i) * kDataBlockSize;
        // Receive into a scratch block so that a slice is only replaced by a whole one.
        std::copy(slice, slice + kDataBlockSize, block.begin());
        ETransfer read = m_transport.BulkRead(block.data(), block.size());
        if (read == ETransfer::kOk)
            std::copy(block.begin(), block.end(), slice);
        if (!Account(read, result, kMsgReadFailed))
            break;
        Progress(i + 1, blocks);
    }
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
    if (download.eResult == EEmuResult::kTransferFailed) {
        autoResult.eResult = EEmuResult::kTransferFailed;
        return autoResult;
    }
    if (download.eResult == EEmuResult::kNoDevice)
        autoResult.eResult = EEmuResult::kNoDevice;
    else if (afterDownload && !afterDownload())
        return autoResult;
    auto merge = [&autoResult](EEmuResult step) {
        if (step != EEmuResult::kOk && autoResult.eResult != EEmuResult::kTransferFailed)
            autoResult.eResult = step;
        return step != EEmuResult::kTransferFailed;
    };
    if (merge(SetRunState(true)))
        merge(Reset());
    return autoResult;
}

EEmuResult CEmuLink::WriteBlock(const uint8_t* romBuffer, uint32_t index)
{
    EEmuResult result = EEmuResult::kOk;
    if (static_cast<size_t>(index) * kDataBlockSize >= kRomImageSize)
        return result;
    CommandBlock command = MakeCommandBlock(EMU_WRITE_BLOCK, static_cast<uint8_t>(index));
    if (Account(m_transport.BulkWrite(m_pOwner, command.data(), command.size()), result, kMsgWriteFailed))
        Account(m_transport.BulkWrite(m_pOwner, romBuffer + static_cast<size_t>(index) * kDataBlockSize,
                                      kDataBlockSize),
                result, kMsgWriteFailed);
    return result;
}

EEmuResult CEmuLink::ReadBlock(uint8_t* romBuffer, uint32_t index)
{
    EEmuResult result = EEmuResult::kOk;
    if (static_cast<size_t>(index) * kDataBlockSize >= kRomImageSize)
        return result;
    CommandBlock command = MakeCommandBlock(EMU_READ_BLOCK, static_cast<uint8_t>(index));
    if (!Account(m_transport.BulkWrite(m_pOwner, command.data(), command.size()), result, kMsgWriteFailed))
        return result;
    std::vector<uint8_t> block(kDataBlockSize);
    uint8_t* slice = romBuffer + static_cast<size_t>(index) * kDataBlockSize;
    std::copy(slice, slice + kDataBlockSize, block.begin());
    const ETransfer read = m_transport.BulkRead(block.data(), block.size());
    if (read == ETransfer::kOk)
        std::copy(block.begin(), block.end(), slice);
    Account(read, result, kMsgReadFailed);
    return result;
}
