// SPDX-License-Identifier: MIT
// Checksums over a byte range of the ROM image.
#include "image/checksum.h"

#include <array>
#include <algorithm>

namespace {

// Slicing by eight: table[k][b] is the CRC of byte b followed by k zero bytes, so eight bytes
// fold in with eight look-ups and no dependency chain between them.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr CrcTables MakeTables()
{
    CrcTables t{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t c = b;
        for (int i = 0; i < 8; ++i)
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][b] = c;
    }
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t b = 0; b < 256; ++b)
            t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

constexpr CrcTables kTables = MakeTables();

std::uint32_t LoadLe32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint8_t Sum8(std::span<const std::uint8_t> data)
{
    return static_cast<std::uint8_t>(Sum16(data));
}

std::uint16_t Sum16(std::span<const std::uint8_t> data)
{
    // 32-bit partial sums cannot overflow within 16 Mi bytes; fold per block to be safe.
    std::uint32_t total = 0;
    std::size_t i = 0;
    while (i < data.size()) {
        const std::size_t end = std::min(data.size(), i + (std::size_t{1} << 23));
        std::uint32_t s = 0;
        for (; i < end; ++i)
            s += data[i];
        total += s & 0xFFFF;
    }
    return static_cast<std::uint16_t>(total);
}

std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc)
{
    crc = ~crc;
    const std::uint8_t* p = data.data();
    std::size_t n = data.size();
    while (n >= 8) {
        const std::uint32_t lo = LoadLe32(p) ^ crc;
        const std::uint32_t hi = LoadLe32(p + 4);
        crc = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
              kTables[4][lo >> 24] ^ kTables[3][hi & 0xFF] ^ kTables[2][(hi >> 8) & 0xFF] ^
              kTables[1][(hi >> 16) & 0xFF] ^ kTables[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n-- > 0)
        crc = kTables[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

ImageChecksums ComputeChecksums(std::span<const std::uint8_t> data)
{
    ImageChecksums c;
    c.sum16 = Sum16(data);
    c.sum8 = static_cast<std::uint8_t>(c.sum16);
    c.crc32 = Crc32(data);
    return c;
}
