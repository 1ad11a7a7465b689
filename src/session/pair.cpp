// SPDX-License-Identifier: MIT
// Two emulators as one 16-bit ROM.
#include "session/pair.h"

#include <cstring>

void SplitPair(const std::uint8_t* image, std::uint32_t romSize, std::uint8_t* even, std::uint8_t* odd)
{
    for (std::uint32_t k = 0; k < romSize; ++k) {
        even[k] = image[2 * static_cast<std::size_t>(k)];
        odd[k] = image[2 * static_cast<std::size_t>(k) + 1];
    }
}

void JoinPair(const std::uint8_t* even, const std::uint8_t* odd, std::uint32_t romSize, std::uint8_t* image)
{
    for (std::uint32_t k = 0; k < romSize; ++k) {
        image[2 * static_cast<std::size_t>(k)] = even[k];
        image[2 * static_cast<std::size_t>(k) + 1] = odd[k];
    }
}

bool PairFits(std::uint32_t romSize)
{
    return 2 * static_cast<std::size_t>(romSize) <= kRomImageSize;
}

CRomPair::CRomPair(CMessageSink& sink, CEmuTransport& even, CEmuTransport& odd, std::uint32_t romSize, void* pOwner)
    : m_even(sink, pOwner), m_odd(sink, pOwner)
{
    for (CRomSession* side : {&m_even, &m_odd}) {
        side->SetRomSize(romSize);
    }
    m_even.SetTransport(&even);
    m_odd.SetTransport(&odd);
}

CRomPair::CHold::CHold(CRomPair& pair) : m_even(*pair.m_even.Transport()), m_odd(*pair.m_odd.Transport())
{
    if (!pair.m_even.Opened(m_even))
        m_nFailed = 0;
    else if (!pair.m_odd.Opened(m_odd))
        m_nFailed = 1;
}

void CRomPair::Split(const CRomImage& image)
{
    for (CRomSession* side : {&m_even, &m_odd})
        side->Fill(image.FillByte());
    SplitPair(image.Data(), RomSize(), m_even.Buffer(), m_odd.Buffer());
}

SPairResult CRomPair::Download()
{
    const CHold hold(*this);
    if (!hold.Ok())
        return {EEmuResult::kNoDevice, hold.FailedSide()};
    for (int n = 0; n < 2; ++n)
        if (const EEmuResult r = Side(n).Download(); r != EEmuResult::kOk)
            return {r, n};
    return {};
}

SPairResult CRomPair::Upload(std::vector<std::uint8_t>& joined)
{
    const CHold hold(*this);
    if (!hold.Ok())
        return {EEmuResult::kNoDevice, hold.FailedSide()};
    for (int n = 0; n < 2; ++n)
        if (const EEmuResult r = Side(n).Upload(); r != EEmuResult::kOk)
            return {r, n};
    joined.assign(2 * static_cast<std::size_t>(RomSize()), 0);
    JoinPair(m_even.Buffer(), m_odd.Buffer(), RomSize(), joined.data());
    return {};
}

SPairResult CRomPair::Verify(const CRomImage& image, SVerifyResult& result)
{
    result = {};
    const CHold hold(*this);
    if (!hold.Ok()) {
        result.eResult = EEmuResult::kNoDevice;
        return {EEmuResult::kNoDevice, hold.FailedSide()};
    }
    SVerifyResult halves[2];
    for (int n = 0; n < 2; ++n) {
        halves[n] = Side(n).Verify();
        if (halves[n].eResult != EEmuResult::kOk) {
            result.eResult = halves[n].eResult;
            return {halves[n].eResult, n};
        }
    }
    result.back.assign(2 * static_cast<std::size_t>(RomSize()), 0);
    JoinPair(halves[0].back.data(), halves[1].back.data(), RomSize(), result.back.data());
    result.diff = CompareImages(image.Window(result.back.size()), result.back, CRomSession::kKeptRanges);
    return {};
}
