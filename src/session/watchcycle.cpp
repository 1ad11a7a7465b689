// SPDX-License-Identifier: MIT
// The watch cycle: stop, changed blocks, read-back, run, reset.
#include "session/watchcycle.h"

#include "session/pair.h"

#include <cstdio>
#include <memory>
#include <optional>

CWatchCycle::CWatchCycle(std::vector<CRomSession*> sides, SThen then, bool bVerify)
    : m_sides(std::move(sides)), m_then(then), m_bVerify(bVerify)
{
    for (const CRomSession* side : m_sides)
        m_sync.emplace_back(side->RomSize());
}

void CWatchCycle::Forget()
{
    for (CBlockSync& sync : m_sync)
        sync.Forget();
}

bool CWatchCycle::Each(const std::function<EEmuResult(CRomSession&)>& step, SCycleResult& result)
{
    for (std::size_t n = 0; n < m_sides.size(); ++n) {
        result.eResult = step(*m_sides[n]);
        if (result.eResult != EEmuResult::kOk) {
            result.nSide = static_cast<int>(n);
            return false;
        }
    }
    return true;
}

SCycleResult CWatchCycle::Run(const CRomImage& image, const std::function<bool()>& stop)
{
    SCycleResult result;
    // Each side's new image: the whole image, or its half of a pair.
    if (m_sides.size() == 2) {
        for (CRomSession* side : m_sides)
            side->Fill(image.FillByte());
        SplitPair(image.Data(), m_sides[0]->RomSize(), m_sides[0]->Buffer(), m_sides[1]->Buffer());
    } else {
        m_sides[0]->Image() = image;
    }
    result.bFull = true;
    bool bAny = false;
    for (std::size_t n = 0; n < m_sides.size(); ++n) {
        result.blocks.push_back(m_sync[n].Changed(m_sides[n]->Buffer()));
        result.bFull = result.bFull && !m_sync[n].Known();
        bAny = bAny || !result.blocks.back().empty();
    }
    if (!bAny)
        return result;

    // Every emulator is held from the stop to the reset.
    std::vector<std::unique_ptr<CEmuClaim>> claims;
    for (std::size_t n = 0; n < m_sides.size(); ++n) {
        claims.push_back(std::make_unique<CEmuClaim>(*m_sides[n]->Transport()));
        if (!m_sides[n]->Opened(*claims.back())) {
            result.eResult = EEmuResult::kNoDevice;
            result.nSide = static_cast<int>(n);
            Forget();
            return result;
        }
    }
    const auto failed = [&]() {
        Forget();
        return result;
    };
    if (m_then.bStop && !Each([](CRomSession& s) { return s.SetRunState(false); }, result))
        return failed();
    for (std::size_t n = 0; n < m_sides.size(); ++n) {
        const std::vector<std::uint32_t>& blocks = result.blocks[n];
        for (std::size_t k = 0; k < blocks.size(); ++k) {
            result.nSide = static_cast<int>(n);
            result.nSent = k;
            result.bInBlocks = true;
            if (stop && stop()) {
                result.bInterrupted = true;
                return failed();
            }
            result.eResult = m_sides[n]->WriteBlocks({&blocks[k], 1});
            if (result.eResult != EEmuResult::kOk)
                return failed();
        }
    }
    result.nSide = -1;
    result.bInBlocks = false;
    if (m_bVerify) {
        for (std::size_t n = 0; n < m_sides.size(); ++n) {
            const SVerifyResult back = m_sides[n]->VerifyBlocks(result.blocks[n]);
            if (back.eResult != EEmuResult::kOk) {
                result.eResult = back.eResult;
                result.nSide = static_cast<int>(n);
                return failed();
            }
            if (!back.diff.Identical()) {
                const SDiffRange& r = back.diff.ranges.front();
                char where[160];
                std::snprintf(where, sizeof where,
                              "emulator %zu reads back 0x%02x at 0x%05x where 0x%02x was sent (%llu bytes differ)", n,
                              back.back[r.nStart], r.nStart, m_sides[n]->Buffer()[r.nStart],
                              static_cast<unsigned long long>(back.diff.nBytes));
                result.mismatch = where;
                result.bSame = false;
                result.nSide = static_cast<int>(n);
                return failed();
            }
        }
    }
    if (m_then.bRun && !Each([](CRomSession& s) { return s.SetRunState(true); }, result))
        return failed();
    if (m_then.bReset && !Each([](CRomSession& s) { return s.Reset(); }, result))
        return failed();
    for (std::size_t n = 0; n < m_sides.size(); ++n)
        m_sync[n].Sent(m_sides[n]->Buffer());
    return result;
}
