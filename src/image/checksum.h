// SPDX-License-Identifier: MIT
// Checksums over a byte range of the ROM image: what `tarvexctl sum` and -v print.
#pragma once

#include <cstdint>
#include <span>

// Sum of the bytes modulo 256 and modulo 65536.
std::uint8_t Sum8(std::span<const std::uint8_t> data);
std::uint16_t Sum16(std::span<const std::uint8_t> data);

// The zlib / IEEE 802.3 CRC-32 (reflected polynomial 0xEDB88320, initial and final XOR
// 0xFFFFFFFF). Continues from crc, so Crc32(b, Crc32(a)) is the CRC of a followed by b.
std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

struct ImageChecksums {
    std::uint8_t sum8 = 0;
    std::uint16_t sum16 = 0;
    std::uint32_t crc32 = 0;
};

ImageChecksums ComputeChecksums(std::span<const std::uint8_t> data);
