// SPDX-License-Identifier: MIT
// What every fuzz target shares: the entry point and the checks that end the run on a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// A broken invariant: say which and abort, which both libFuzzer and the replay count as a crash.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

// True when s is well-formed UTF-8 (no surrogates, no overlong forms, nothing past U+10FFFF).
inline bool IsUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t n = b < 0x80 ? 1
            : b >= 0xC2 && b <= 0xDF   ? 2
            : b >= 0xE0 && b <= 0xEF   ? 3
            : b >= 0xF0 && b <= 0xF4   ? 4
                                       : 0;
        if (n == 0 || s.size() - i < n)
            return false;
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (t & 0x3F);
        }
        constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}
