// SPDX-License-Identifier: MIT
#include "hexedit/ascii.h"

#include <gtest/gtest.h>

TEST(CAscii, DecodesDigitsOfBothCases)
{
    EXPECT_EQ(CAscii::HexByte("7F"), 0x7F);
    EXPECT_EQ(CAscii::HexByte("ff"), 0xFF);
    EXPECT_EQ(CAscii::HexByte("aB"), 0xAB);
    EXPECT_EQ(CAscii::HexByte("09"), 0x09);
    EXPECT_EQ(CAscii::HexWord("1234"), 0x1234);
    EXPECT_EQ(CAscii::HexWord("beef"), 0xBEEF);
    for (int v = 0; v < 16; ++v) {
        const char upper = "0123456789ABCDEF"[v];
        const char lower = "0123456789abcdef"[v];
        EXPECT_EQ(CAscii::HexDigitValue(&upper), v);
        EXPECT_EQ(CAscii::HexDigitValue(&lower), v);
    }
}

TEST(CAscii, NonHexCharactersKeepTheUnvalidatedArithmetic)
{
    // Not validated: the result is the plain offset arithmetic, wrapped to 8 bits.
    EXPECT_EQ(CAscii::HexByte("1:"), 0x13);          // ":" is past "9": 0x3A - 0x37 = 3
    EXPECT_EQ(CAscii::HexDigitValue("G"), 0x10);     // 'G' - 0x37
    EXPECT_EQ(CAscii::HexDigitValue("g"), 0x30);     // 'g' - 0x37
    EXPECT_EQ(CAscii::HexDigitValue(" "), 0xF0);     // 0x20 - 0x30 wraps
    EXPECT_EQ(CAscii::HexDigitValue("\xff"), 0xC8);  // 0xFF - 0x37
    EXPECT_EQ(CAscii::HexByte("GG"), 0x10);          // (16*16 + 16) mod 256
}
