// SPDX-License-Identifier: MIT
// What can be done to a loaded image's ROM window after the mapping, in the order asked: swap
// the bytes of each 16-bit word, swap two address lines, store a checksum, and take one ROM's
// half of a 16-bit pair. Each works on the first romSize bytes (a power of two up to 1 MiB) and
// moves the set bits with the bytes; moves are recorded in the image's trace, so the load map
// still finds the line each byte came from.
#pragma once

#include "image/romimage.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class ChecksumKind {
    Sum8,     // one byte that makes the 8-bit sum of the whole window zero
    Sum16Le,  // the 16-bit sum of the bytes below the address, low byte first
    Sum16Be,
    Crc32Le,  // the CRC-32 (zlib's) of the bytes below the address, low byte first
    Crc32Be,
};

// "sum8", "sum16le", "sum16be", "crc32le", "crc32be".
const char* ChecksumKindName(ChecksumKind kind);
// The inverse of ChecksumKindName; false for an unknown name.
bool ParseChecksumKind(std::string_view name, ChecksumKind& kind);
// Bytes stored: 1, 2 or 4.
unsigned ChecksumWidth(ChecksumKind kind);

// Each returns why it cannot be done (the window, the line or the address does not fit), or an
// empty string when it was done.

// Swaps the two bytes of every 16-bit word.
std::string SwapBytes(CRomImage& image, std::uint32_t romSize);
// Swaps address lines a and b (0 is A0): the byte at an address goes where the address with
// the two lines' values exchanged points.
std::string SwapAddressLines(CRomImage& image, std::uint32_t romSize, unsigned a, unsigned b);
// Stores the checksum of `kind` at `address`; `stored` (if given) gets the value stored.
std::string PutChecksum(CRomImage& image, std::uint32_t romSize, ChecksumKind kind, std::uint32_t address,
                        std::uint32_t* stored = nullptr);

// One of the above, as a command line lists them.
struct STransform {
    enum class EKind { SwapBytes, SwapLines, Checksum };
    EKind kind = EKind::SwapBytes;
    unsigned lineA = 0, lineB = 0;  // SwapLines
    ChecksumKind checksum = ChecksumKind::Sum8;
    std::uint32_t address = 0;      // Checksum
};

// "swap-bytes", "swap-lines 14,15", "checksum crc32le:0x1FFC".
std::string DescribeTransform(const STransform& step);
// Why the step cannot be done on a window of romSize bytes; empty when it can.
std::string CheckTransform(const STransform& step, std::uint32_t romSize);
// Does the step; the same as the functions above. `stored`: a checksum's value.
std::string ApplyTransform(CRomImage& image, std::uint32_t romSize, const STransform& step,
                           std::uint32_t* stored = nullptr);

// Every other byte, from the first (even) or the second (odd): what one ROM of a 16-bit pair
// holds, for a programmer.
std::vector<std::uint8_t> SplitHalf(std::span<const std::uint8_t> data, bool odd);
