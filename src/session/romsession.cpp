// SPDX-License-Identifier: MIT
// The ROM session: one image, one size, the operations of the page and the tool.
#include "session/romsession.h"

#include <cstring>

CRomSession::CRomSession(CMessageSink& sink, void* pOwner)
    : m_pBuffer(std::make_unique_for_overwrite<std::uint8_t[]>(kRomImageSize)), m_sink(sink), m_pOwner(pOwner)
{
}

void CRomSession::Fill(std::uint8_t fill)
{
    std::memset(m_pBuffer.get(), fill, kRomImageSize);
}

ImageLoadResult CRomSession::Load(const std::string& fileName, int fileFormat, std::uint8_t fill)
{
    return LoadImageFile(fileName, fileFormat, fill, Image());
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

SDownloadResult CRomSession::Download(std::string_view csBytesRead, const GetDataFn& getData)
{
    if (!m_pTransport)
        return {EEmuResult::kNoDevice, false};
    return Run([&](CEmuLink& link) { return link.Download(m_pBuffer.get(), m_nRomSize, csBytesRead, getData); });
}

EEmuResult CRomSession::Upload()
{
    if (!m_pTransport)
        return EEmuResult::kNoDevice;
    return Run([&](CEmuLink& link) { return link.Upload(m_pBuffer.get(), m_nRomSize); });
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

SAutoResult CRomSession::Auto(const LoadFn& load, const GetDataFn& getData, const std::function<bool()>& afterDownload)
{
    if (!m_pTransport)
        return {EEmuResult::kNoDevice, false, false};
    return Run([&](CEmuLink& link) { return link.Auto(m_pBuffer.get(), m_nRomSize, load, getData, afterDownload); });
}

EEmuResult CRomSession::WriteBlock(std::uint32_t nIndex)
{
    return m_pTransport ? Run([&](CEmuLink& link) { return link.WriteBlock(m_pBuffer.get(), nIndex); })
                        : EEmuResult::kNoDevice;
}

EEmuResult CRomSession::ReadBlock(std::uint32_t nIndex, std::uint8_t* pDest)
{
    return m_pTransport ? Run([&](CEmuLink& link) { return link.ReadBlock(pDest, nIndex); }) : EEmuResult::kNoDevice;
}
