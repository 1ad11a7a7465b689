// SPDX-License-Identifier: MIT
// Changed-block downloads: which 32 KiB blocks of the ROM differ from what an emulator was sent.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// The 32 KiB blocks covering `romSize` whose ROM bytes differ between `before` and `after`
// (both at least that long), ascending. Bytes of a block past the ROM's end do not count.
std::vector<std::uint32_t> ChangedBlocks(const std::uint8_t* before, const std::uint8_t* after, std::uint32_t romSize);

// The 32 KiB blocks that hold the `count` bytes from `start` on (none for no bytes), ascending:
// what a change of those bytes alone must send.
std::vector<std::uint32_t> BlocksHolding(std::uint32_t start, std::uint32_t count);

// What one emulator was last sent, so that the next download sends only the blocks that differ.
// Unknown at first and after any failure: then every block is sent.
class CBlockSync {
public:
    explicit CBlockSync(std::uint32_t romSize);

    std::uint32_t RomSize() const { return m_nRomSize; }
    bool Known() const { return m_bKnown; }
    // The blocks to send for `image` (1 MiB): all that cover the ROM while the emulator's
    // contents are unknown, else those whose ROM bytes differ from what it holds.
    std::vector<std::uint32_t> Changed(const std::uint8_t* image) const;
    // The emulator now holds `image`.
    void Sent(const std::uint8_t* image);
    // The emulator's contents are unknown again.
    void Forget() { m_bKnown = false; }

private:
    std::uint32_t m_nRomSize;
    std::unique_ptr<std::uint8_t[]> m_pSent;
    bool m_bKnown = false;
};
