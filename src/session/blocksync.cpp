// SPDX-License-Identifier: MIT
// Block comparison and what an emulator was last sent.
#include "session/blocksync.h"

#include "emulink/emuprotocol.h"
#include "session/emulink.h"

#include <algorithm>
#include <cstring>

std::vector<std::uint32_t> ChangedBlocks(const std::uint8_t* before, const std::uint8_t* after, std::uint32_t romSize)
{
    std::vector<std::uint32_t> changed;
    for (const std::uint32_t i : BlocksOf(romSize)) {
        const std::size_t start = static_cast<std::size_t>(i) * kDataBlockSize;
        const std::size_t length = std::min<std::size_t>(kDataBlockSize, romSize - start);
        if (std::memcmp(before + start, after + start, length) != 0)
            changed.push_back(i);
    }
    return changed;
}

std::vector<std::uint32_t> BlocksHolding(std::uint32_t start, std::uint32_t count)
{
    std::vector<std::uint32_t> blocks;
    if (count == 0)
        return blocks;
    const std::uint64_t last = (static_cast<std::uint64_t>(start) + count - 1) / kDataBlockSize;
    for (std::uint64_t b = start / kDataBlockSize; b <= last; ++b)
        blocks.push_back(static_cast<std::uint32_t>(b));
    return blocks;
}

CBlockSync::CBlockSync(std::uint32_t romSize)
    : m_nRomSize(std::min<std::uint32_t>(romSize, kRomImageSize)),
      m_pSent(std::make_unique<std::uint8_t[]>(kRomImageSize))
{
}

std::vector<std::uint32_t> CBlockSync::Changed(const std::uint8_t* image) const
{
    return m_bKnown ? ChangedBlocks(m_pSent.get(), image, m_nRomSize) : BlocksOf(m_nRomSize);
}

void CBlockSync::Sent(const std::uint8_t* image)
{
    std::memcpy(m_pSent.get(), image, kRomImageSize);
    m_bKnown = true;
}
