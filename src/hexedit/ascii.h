// SPDX-License-Identifier: MIT
// CAscii: hex-text to number conversion used by the Intel HEX loader and the buffer page.
#pragma once

#include <cstdint>

class CAscii {
public:
    CAscii() = default;
    virtual ~CAscii() = default;

    // Value of one hex digit. '0'-'9', 'A'-'F' and 'a'-'f' decode as expected; any other
    // character is not validated and gives (code - 0x30) or (code - 0x37), 8-bit wrapped.
    static std::uint8_t HexDigitValue(const char* p);
    // Two characters, first digit high; modulo 256.
    static std::uint8_t HexByte(const char* p);
    // Four characters, first pair is the high byte.
    static std::uint16_t HexWord(const char* p);
};
