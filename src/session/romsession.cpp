// SPDX-License-Identifier: MIT
// The ROM session: one image, one size, the operations of the page, the tool and the module.
#include "session/romsession.h"

#include <algorithm>
#include <cstring>

CRomSession::CRomSession(CMessageSink& sink, void* pOwner) : m_sink(sink), m_pOwner(pOwner) {}

ImageLoadResult CRomSession::Load(const std::string& fileName, const ImageLoadOptions& options)
{
    return LoadImage(fileName, options, m_image);
}

ImageLoadResult CRomSession::LoadFromFd(int fd, const std::string& name, const ImageLoadOptions& options)
{
    return LoadImageFromFd(fd, name, options, m_image);
}

EFillCheck CRomSession::FillRange(std::uint64_t start, std::uint64_t stop, std::uint8_t value)
{
    if (start >= kRomImageSize)
        return EFillCheck::kStartBeyondImage;
    if (stop < start)
        return EFillCheck::kStopBelowStart;
    if (stop >= kRomImageSize)
        return EFillCheck::kStopBeyondImage;
    const auto count = static_cast<std::size_t>(stop - start + 1);
    std::memset(m_image.Data() + start, value, count);
    m_image.MarkSet(static_cast<std::uint32_t>(start), count);
    m_image.SetBytesRead(std::max<std::uint64_t>(m_image.BytesRead(), stop + 1));
    return EFillCheck::kOk;
}

template <typename Op>
auto CRomSession::Run(Op op)
{
    CEmuLink link(*m_pTransport, m_sink, m_pOwner);
    link.SetProgress(m_progress);
    auto result = op(link);
    m_report = link.Report();
    return result;
}

bool CRomSession::Opened(const CEmuClaim& claim)
{
    return Run([&](CEmuLink& link) { return link.Opened(claim); });
}

EEmuResult CRomSession::Download(std::uint64_t nCount, const GetDataFn& getData)
{
    if (!m_pTransport)
        return EEmuResult::kNoDevice;
    // The image holds 1 MiB whatever the count claims.
    const auto nTake = static_cast<std::size_t>(std::min<std::uint64_t>(nCount, kRomImageSize));
    if (nTake > 0 && getData)
        getData(m_image.Data(), nTake);
    return Run([&](CEmuLink& link) { return link.Download(m_image.Data(), m_nRomSize); });
}

EEmuResult CRomSession::WriteBlocks(std::span<const std::uint32_t> blocks)
{
    if (!m_pTransport)
        return EEmuResult::kNoDevice;
    return Run([&](CEmuLink& link) { return link.WriteBlocks(m_image.Data(), blocks); });
}

EEmuResult CRomSession::Upload()
{
    if (!m_pTransport)
        return EEmuResult::kNoDevice;
    return Run([&](CEmuLink& link) { return link.Upload(m_image.Data(), m_nRomSize); });
}

EEmuResult CRomSession::ReadBlocks(std::span<const std::uint32_t> blocks)
{
    if (!m_pTransport)
        return EEmuResult::kNoDevice;
    return Run([&](CEmuLink& link) { return link.ReadBlocks(m_image.Data(), blocks); });
}

SVerifyResult CRomSession::ReadBack(std::span<const std::uint32_t> blocks)
{
    SVerifyResult result;
    if (!m_pTransport) {
        result.eResult = EEmuResult::kNoDevice;
        return result;
    }
    // Read into a copy, so that what was not read compares equal and the image stays.
    CRomImage back(m_image);
    result.eResult = Run([&](CEmuLink& link) { return link.ReadBlocks(back.Data(), blocks); });
    const std::span<const std::uint8_t> window = back.Window(m_nRomSize);
    result.back.assign(window.begin(), window.end());
    if (result.eResult == EEmuResult::kOk)
        result.diff = CompareImages(Window(), result.back, kKeptRanges);
    return result;
}

SVerifyResult CRomSession::Verify()
{
    const std::vector<std::uint32_t> blocks = BlocksOf(m_nRomSize);
    return ReadBack(blocks);
}

SVerifyResult CRomSession::VerifyBlocks(std::span<const std::uint32_t> blocks)
{
    return ReadBack(blocks);
}

EEmuResult CRomSession::SetRunState(bool bRun)
{
    return m_pTransport ? Run([&](CEmuLink& link) { return link.SetRunState(bRun); }) : EEmuResult::kNoDevice;
}

EEmuResult CRomSession::Reset()
{
    return m_pTransport ? Run([](CEmuLink& link) { return link.Reset(); }) : EEmuResult::kNoDevice;
}

EEmuResult CRomSession::SendRomType(int nIndex)
{
    return m_pTransport ? Run([&](CEmuLink& link) { return link.SetRomType(nIndex); }) : EEmuResult::kNoDevice;
}

EEmuResult CRomSession::ChangeRomType(int nIndex)
{
    const SRomType* pType = RomTypeAt(nIndex);
    if (!pType)
        return EEmuResult::kOk;
    m_nRomSize = pType->nSize;
    return SendRomType(nIndex);
}

SAutoResult CRomSession::Auto(const LoadFn& load, const std::function<std::uint64_t()>& nCount,
                              const GetDataFn& getData, const std::function<bool()>& afterDownload)
{
    SAutoResult result;
    if (!m_pTransport) {
        result.eResult = EEmuResult::kNoDevice;
        return result;
    }
    const CEmuClaim claim(*m_pTransport);
    if (!Opened(claim)) {
        // Nothing reaches the emulator, yet the file the user asked for still reaches the editor.
        result.eResult = EEmuResult::kNoDevice;
        const SOperationReport refused = m_report;
        result.bLoaded = load && load();
        m_report = refused;
        return result;
    }
    result.eResult = SetRunState(false);
    result.bLoaded = load && load();
    if (!result.bLoaded || result.eResult != EEmuResult::kOk)
        return result;
    result.eResult = Download(nCount ? nCount() : 0, getData);
    result.bDownloaded = true;
    if (result.eResult != EEmuResult::kOk)
        return result;
    // Run and reset keep the download's report: they move no blocks.
    const SOperationReport download = m_report;
    if (afterDownload && !afterDownload()) {
        result.bChecked = false;
        return result;
    }
    result.eResult = SetRunState(true);
    if (result.eResult == EEmuResult::kOk)
        result.eResult = Reset();
    const STransferStatus failure = m_report.failure;
    m_report = download;
    m_report.failure = failure;
    return result;
}
