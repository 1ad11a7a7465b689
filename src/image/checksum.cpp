// SPDX-License-Identifier: MIT
// Checksums over a byte range of the ROM image.
#include "image/checksum.h"

#include <array>
#include <algorithm>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TARVEX_CRC_CLMUL 1
#endif

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

#ifdef TARVEX_CRC_CLMUL
#define TARVEX_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

TARVEX_CLMUL_TARGET inline __m128i Load128(const std::uint8_t* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// a x k (low halves) ^ a x k (high halves) ^ b: one 128-bit lane folded over the next.
TARVEX_CLMUL_TARGET inline __m128i Fold(__m128i a, __m128i k, __m128i b)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11)), b);
}

// Folding with carry-less multiplication (Intel's "Fast CRC Computation for Generic Polynomials
// Using PCLMULQDQ"), constants for the reflected 0xEDB88320: 16 bytes per multiply instead of a
// table look-up per byte, which makes a checksum fix-up over a whole 27C080 cheap. len is a
// multiple of 16, at least 64; crc is the inverted running value, as the table loop keeps it.
TARVEX_CLMUL_TARGET std::uint32_t FoldCrc32(const std::uint8_t* buf, std::size_t len,
                                                                 std::uint32_t crc)
{
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);

    __m128i x1 = _mm_xor_si128(Load128(buf), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load128(buf + 16), x3 = Load128(buf + 32), x4 = Load128(buf + 48);
    buf += 64;
    len -= 64;
    // Four lanes in parallel, 64 bytes a step.
    for (; len >= 64; buf += 64, len -= 64) {
        x1 = Fold(x1, k1k2, Load128(buf));
        x2 = Fold(x2, k1k2, Load128(buf + 16));
        x3 = Fold(x3, k1k2, Load128(buf + 32));
        x4 = Fold(x4, k1k2, Load128(buf + 48));
    }
    // Into one lane, then 16 bytes a step.
    x1 = Fold(x1, k3k4, x2);
    x1 = Fold(x1, k3k4, x3);
    x1 = Fold(x1, k3k4, x4);
    for (; len >= 16; buf += 16, len -= 16)
        x1 = Fold(x1, k3k4, Load128(buf));

    // 128 bits to 64, then Barrett reduction to 32.
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x2 = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5k0, 0x00), x2);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, mask32), poly, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

bool HaveClmul()
{
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}
#endif

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
#ifdef TARVEX_CRC_CLMUL
    if (n >= 64 && HaveClmul()) {
        const std::size_t folded = n & ~std::size_t{15};
        crc = FoldCrc32(p, folded, crc);
        p += folded;
        n -= folded;
    }
#endif
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
