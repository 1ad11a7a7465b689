// SPDX-License-Identifier: MIT
// Comparing a ROM image with what the emulator holds: the ranges of bytes that differ.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct SDiffRange {
    std::uint32_t nStart = 0;  // first differing address
    std::uint32_t nEnd = 0;    // last differing address (inclusive)
    std::uint32_t Count() const { return nEnd - nStart + 1; }
};

struct SImageDiff {
    std::vector<SDiffRange> ranges;  // ascending, at most the number asked for
    std::uint64_t nRanges = 0;       // all differing ranges
    std::uint64_t nBytes = 0;        // all differing bytes
    bool Identical() const { return nBytes == 0; }
};

// Compares the common length of `wanted` and `got` (a length difference counts as differing
// bytes at the end); a run of differing bytes is one range. Keeps the first `maxRanges`.
SImageDiff CompareImages(std::span<const std::uint8_t> wanted, std::span<const std::uint8_t> got,
                         std::size_t maxRanges);

// The comparison in words for one message: "No byte differs: ..." or the count of differing bytes
// and ranges, then the first `maxShown` ranges as "00000010-0000001F (16 bytes)".
std::string DescribeImageDiff(const SImageDiff& diff, std::uint64_t nCompared, std::size_t maxShown = 5);
