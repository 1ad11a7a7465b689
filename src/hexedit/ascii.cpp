// SPDX-License-Identifier: MIT
// CAscii: hex-text to number conversion.
#include "hexedit/ascii.h"

std::uint8_t CAscii::HexDigitValue(const char* p)
{
    const auto c = static_cast<std::uint8_t>(*p);
    // Lower-case digits decode like upper-case ones: valid lower-case Intel HEX must not
    // turn into silently wrong bytes.
    if (c >= 'a' && c <= 'f')
        return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c <= '9')
        return static_cast<std::uint8_t>(c - 0x30);
    return static_cast<std::uint8_t>(c - 0x37);
}

std::uint8_t CAscii::HexByte(const char* p)
{
    return static_cast<std::uint8_t>(16 * HexDigitValue(p) + HexDigitValue(p + 1));
}

std::uint16_t CAscii::HexWord(const char* p)
{
    return static_cast<std::uint16_t>(256 * HexByte(p) + HexByte(p + 2));
}
