// SPDX-License-Identifier: MIT
// The load map of an image.
#include "image/loadmap.h"

#include <algorithm>

namespace {

// Where the byte now at `address` came from, by the runs sorted on their ROM start.
SLoadMapRange Origin(const SLoadTrace& trace, const std::vector<SPlacedRun>& runs, std::uint32_t start,
                     std::uint32_t end)
{
    SLoadMapRange r{start, end};
    const std::uint32_t loaded = trace.LoadedAddress(start);
    auto it = std::upper_bound(runs.begin(), runs.end(), loaded,
                               [](std::uint32_t a, const SPlacedRun& run) { return a < run.romStart; });
    if (it != runs.begin() && loaded < (--it)->romEnd) {
        r.file = it->fileStart + (loaded - it->romStart);
        r.line = it->line;
    } else {
        r.fromFile = false;
    }
    return r;
}

}  // namespace

SLoadMap BuildLoadMap(const CRomImage& image, std::uint32_t window)
{
    SLoadMap map;
    window = static_cast<std::uint32_t>(std::min<std::size_t>(window, kRomImageSize));
    map.window = window;
    const SLoadTrace& trace = image.Trace();
    std::vector<SPlacedRun> runs = trace.placed;
    std::sort(runs.begin(), runs.end(),
              [](const SPlacedRun& a, const SPlacedRun& b) { return a.romStart < b.romStart; });

    std::uint32_t next = 0;  // first address not yet accounted for inside the window
    for (const SAddressRange& r : image.SetRanges()) {
        if (r.nStart < window) {
            if (r.nStart > next)
                map.fill.push_back({next, r.nStart - 1});
            const std::uint32_t end = std::min(r.nEnd, window - 1);
            map.set.push_back(Origin(trace, runs, r.nStart, end));
            next = end + 1;
        }
        if (r.nEnd >= window) {
            const std::uint32_t start = std::max(r.nStart, window);
            map.beyond.push_back(Origin(trace, runs, start, r.nEnd));
        }
    }
    if (next < window)
        map.fill.push_back({next, window - 1});

    map.passed = trace.passed;
    map.passedBytes = trace.passedBytes;
    map.passedRanges = trace.passedRanges;
    map.entry = image.EntryPoint();
    map.entryLine = trace.entryLine;
    if (map.entry && !trace.binary) {
        if (std::optional<std::uint32_t> rom = MapAddress(trace.map, false, trace.wrapSize, *map.entry)) {
            for (const SAddressMove& move : trace.moves)
                if (*rom < move.window)
                    rom = move.Apply(*rom);
            if (*rom < window)
                map.entryRom = rom;
        }
    }
    return map;
}
