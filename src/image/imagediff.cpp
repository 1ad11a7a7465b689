// SPDX-License-Identifier: MIT
// Differing ranges of two images.
#include "image/imagediff.h"

#include <algorithm>
#include <cstring>

SImageDiff CompareImages(std::span<const std::uint8_t> wanted, std::span<const std::uint8_t> got,
                         std::size_t maxRanges)
{
    SImageDiff diff;
    const std::size_t common = std::min(wanted.size(), got.size());
    const std::size_t total = std::max(wanted.size(), got.size());
    auto differs = [&](std::size_t i) { return i >= common || wanted[i] != got[i]; };
    constexpr std::size_t kStride = 4096;
    std::size_t i = 0;
    while (i < total) {
        // Equal stretches are skipped a page at a time: most of an image matches.
        if (i + kStride <= common && std::memcmp(wanted.data() + i, got.data() + i, kStride) == 0) {
            i += kStride;
            continue;
        }
        if (!differs(i)) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end + 1 < total && differs(end + 1))
            ++end;
        ++diff.nRanges;
        diff.nBytes += end - i + 1;
        if (diff.ranges.size() < maxRanges)
            diff.ranges.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(end)});
        i = end + 1;
    }
    return diff;
}
