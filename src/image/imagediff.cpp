// SPDX-License-Identifier: MIT
// Differing ranges of two images.
#include "image/imagediff.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
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

namespace {

std::string Hex8(std::uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08" PRIX32, v);
    return text;
}

std::string Count(std::uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string DescribeImageDiff(const SImageDiff& diff, std::uint64_t nCompared, std::size_t maxShown)
{
    if (diff.Identical())
        return "No byte differs: the emulator holds the " + Count(nCompared, "byte", "bytes") + " of the buffer.";
    std::string text = Count(diff.nBytes, "byte differs", "bytes differ") + " from the buffer, in " +
                       Count(diff.nRanges, "range", "ranges") + ":";
    const std::size_t shown = std::min(diff.ranges.size(), maxShown);
    for (std::size_t i = 0; i < shown; ++i) {
        const SDiffRange& r = diff.ranges[i];
        text += "\n" + Hex8(r.nStart);
        if (r.nEnd != r.nStart)
            text += "-" + Hex8(r.nEnd);
        text += " (" + Count(r.Count(), "byte", "bytes") + ")";
    }
    if (diff.nRanges > shown)
        text += "\nand " + Count(diff.nRanges - shown, "more range", "more ranges") + ".";
    return text;
}
