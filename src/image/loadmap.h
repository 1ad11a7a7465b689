// SPDX-License-Identifier: MIT
// The load map: where a load put each part of the file, in ROM addresses, the fill between, and
// what found no place; the answer to "where did my bytes go?".
#pragma once

#include "image/romimage.h"

#include <cstdint>
#include <optional>
#include <vector>

// Set bytes in one merged range of ROM addresses.
struct SLoadMapRange {
    std::uint32_t start = 0;  // ROM addresses, both included
    std::uint32_t end = 0;
    std::uint64_t file = 0;   // the file address (a binary file's offset) the byte at start came from
    std::uint64_t line = 0;   // the line of the record that set it; 0 for a binary file
    bool fromFile = true;     // false: a fix-up or an edit set it, not the file
    std::uint32_t Count() const { return end - start + 1; }
};

struct SLoadMap {
    std::uint32_t window = 0;            // the ROM window it is drawn for
    std::vector<SLoadMapRange> set;      // the set bytes inside the window, merged, ascending
    std::vector<SAddressRange> fill;     // the fill bytes inside the window
    std::vector<SLoadMapRange> beyond;   // set bytes in the image beyond the window: not downloaded
    std::vector<SPassedRun> passed;      // the file's bytes with no place in the image (the first few)
    std::uint64_t passedBytes = 0;       // all of those
    std::uint64_t passedRanges = 0;
    std::optional<std::uint64_t> entry;  // the entry point a start-address record named (a CPU address)
    std::uint64_t entryLine = 0;
    std::optional<std::uint32_t> entryRom;  // where the map puts the entry point, when inside the window
};

// The map of `image` for a ROM window of `window` bytes (at most 1 MiB), as it stands now:
// after transforms, each range still names where its first byte came from.
SLoadMap BuildLoadMap(const CRomImage& image, std::uint32_t window);
