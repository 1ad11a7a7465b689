// SPDX-License-Identifier: MIT
// The pieces of one watch cycle that need no emulator: which blocks changed, a pair's halves,
// the commands around the blocks and the line that reports the cycle.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvexctl {

// The 32 KiB blocks covering `romSize` whose ROM bytes differ between `before` and `after`
// (both at least that long), ascending. Bytes of a block past the ROM's end do not count.
std::vector<std::uint32_t> ChangedBlocks(const std::uint8_t* before, const std::uint8_t* after, std::uint32_t romSize);

// A 16-bit target's image split over two 8-bit ROMs of `romSize` bytes each: image byte 2k goes
// to even[k], byte 2k + 1 to odd[k], for k below romSize.
void SplitPair(const std::uint8_t* image, std::uint32_t romSize, std::uint8_t* even, std::uint8_t* odd);
// The reverse: even[k] becomes image byte 2k and odd[k] byte 2k + 1.
void JoinPair(const std::uint8_t* even, const std::uint8_t* odd, std::uint32_t romSize, std::uint8_t* image);

// The commands sent around the changed blocks: stop before them, run and then reset after them.
struct SThen {
    bool bStop = true;
    bool bRun = true;
    bool bReset = true;
};
// "--then stop,run,reset" (any of the three, in any order; they are always sent in that order) or
// "--then none"; the default is all three, the Auto button's order.
SThen ParseThen(const std::optional<std::string>& text);

struct SCycleReport {
    std::chrono::system_clock::time_point when;
    std::vector<std::vector<std::uint32_t>> blocks;  // the blocks sent, one list per emulator
    bool bFull = false;                              // a whole download, not a comparison
    std::uint64_t nBytes = 0;                        // data bytes sent
    std::uint32_t nCrc = 0;                          // CRC-32 of the ROM window
    long long nMillis = 0;                           // from the file's change to the last transfer
};

// "12:03:04.123 blocks 0,31 bytes 65536 crc32 1a2b3c4d 47 ms"; a pair lists "0,31|5", no block "-";
// a whole download adds "full" after the time.
std::string FormatCycleText(const SCycleReport& report);
// {"time":"2026-12-09T12:03:04.123+0000","full":false,"blocks":[0,31],"bytes":65536,
//  "crc32":"1a2b3c4d","ms":47}; a pair gives "blocks":[[0,31],[5]].
std::string FormatCycleJson(const SCycleReport& report);

}  // namespace tarvexctl
