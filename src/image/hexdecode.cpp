// SPDX-License-Identifier: MIT
// Shared decoding helpers of the text image readers.
#include "image/hexdecode.h"

#include "hexedit/ascii.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hexdecode {

unsigned Digit(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    return kInvalid;
}

PairTable::PairTable()
{
    for (unsigned i = 0; i < 0x10000; ++i) {
        const char pair[2] = {static_cast<char>(i >> 8), static_cast<char>(i & 0xFF)};
        unsigned v = CAscii::HexByte(pair);
        if (Digit(pair[0]) == kInvalid || Digit(pair[1]) == kInvalid)
            v |= kInvalid;
        m_value[i] = static_cast<std::uint16_t>(v);
    }
}

const PairTable& Pairs()
{
    static const PairTable table;
    return table;
}

std::size_t CountNewlines(const char* p, const char* end)
{
    std::size_t n = 0;
#if defined(__SSE2__)
    // Byte-wise counters (a match is -1, subtracted) summed by psadbw every 255 blocks: no
    // popcount, which baseline x86-64 lacks.
    const __m128i nl = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    while (end - p >= 16) {
        __m128i counts = zero;
        int blocks = 0;
        while (blocks < 255 && end - p >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(v, nl));
            p += 16;
            ++blocks;
        }
        const __m128i sums = _mm_sad_epu8(counts, zero);
        n += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    return n + static_cast<std::size_t>(std::count(p, end, '\n'));
}

bool HoldsRecordBreak(const char* p, const char* end, char recordMark)
{
    return std::any_of(p, end, [recordMark](char c) { return c == '\n' || c == '\r' || c == recordMark; });
}

}  // namespace hexdecode
