// SPDX-License-Identifier: MIT
// A 16-bit target with two ROM sockets: two emulators, image bytes 2k on the first, 2k + 1 on the second.
#pragma once

#include "session/romsession.h"

#include <cstdint>
#include <vector>

// Image byte 2k goes to even[k], byte 2k + 1 to odd[k], for k below romSize.
void SplitPair(const std::uint8_t* image, std::uint32_t romSize, std::uint8_t* even, std::uint8_t* odd);
// The reverse: even[k] becomes image byte 2k and odd[k] byte 2k + 1.
void JoinPair(const std::uint8_t* even, const std::uint8_t* odd, std::uint32_t romSize, std::uint8_t* image);

// A pair's image covers twice the ROM; the image holds 1 MiB, so 27C040 is the largest pair.
bool PairFits(std::uint32_t romSize);

struct SPairResult {
    EEmuResult eResult = EEmuResult::kOk;
    int nSide = -1;  // 0 or 1: the emulator that failed; -1 when none did
};

// The two emulators of a pair, each a ROM of `romSize` bytes. Every operation holds both
// emulators from its first transfer to its last.
class CRomPair {
public:
    CRomPair(CMessageSink& sink, CEmuTransport& even, CEmuTransport& odd, std::uint32_t romSize, void* pOwner = nullptr);

    CRomSession& Side(int n) { return n == 0 ? m_even : m_odd; }
    const CRomSession& Side(int n) const { return n == 0 ? m_even : m_odd; }
    std::uint32_t RomSize() const { return m_even.RomSize(); }

    // Each side's image becomes its half of `image`'s first 2 x romSize bytes; past the ROM's
    // end a side holds `image`'s fill byte.
    void Split(const CRomImage& image);
    // Downloads both halves.
    SPairResult Download();
    // Uploads both ROMs; `joined` gets them interleaved (2 x romSize bytes) when both arrived.
    SPairResult Upload(std::vector<std::uint8_t>& joined);
    // Reads both ROMs back and compares them, interleaved, with `image`'s first 2 x romSize bytes.
    SPairResult Verify(const CRomImage& image, SVerifyResult& result);

    // Claims both emulators for the operation; false (after saying so) when either cannot be opened.
    class CHold {
    public:
        explicit CHold(CRomPair& pair);
        bool Ok() const { return m_nFailed < 0; }
        int FailedSide() const { return m_nFailed; }

    private:
        CEmuClaim m_even, m_odd;
        int m_nFailed = -1;
    };

private:
    CRomSession m_even, m_odd;
};
