// SPDX-License-Identifier: MIT
// The watch's presentation: --then and the line that reports a cycle.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "session/watchcycle.h"

namespace tarvexctl {

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
