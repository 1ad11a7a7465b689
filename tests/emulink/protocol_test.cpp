// SPDX-License-Identifier: MIT
// Command blocks, block counts, masks and hex counts: the arithmetic the operations rest on.
#include <gtest/gtest.h>

#include "emulink/emuprotocol.h"
#include "image/imageloader.h"

TEST(Protocol, CommandBlockIsOpcodeParameterAndZeros)
{
    CommandBlock b = MakeCommandBlock(EMU_READ_BLOCK, 0x1F);
    EXPECT_EQ(b.size(), 64u);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[1], 0x1F);
    for (size_t i = 2; i < b.size(); ++i)
        EXPECT_EQ(b[i], 0) << i;
}

TEST(Protocol, BlockCountRoundsUpToWholeBlocks)
{
    EXPECT_EQ(BlockCount(0), 0u);
    EXPECT_EQ(BlockCount(1), 1u);
    EXPECT_EQ(BlockCount(8192), 1u);
    EXPECT_EQ(BlockCount(32768), 1u);
    EXPECT_EQ(BlockCount(32769), 2u);
    EXPECT_EQ(BlockCount(65536), 2u);
    EXPECT_EQ(BlockCount(1048576), 32u);
}

TEST(Protocol, RomTypesGiveSizesMasksAndBlocks)
{
    const uint8_t masks[] = {0x00, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F};
    const uint32_t blocks[] = {1, 1, 1, 2, 4, 8, 16, 32};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(RomSizeOfIndex(k), 8192u << k);
        EXPECT_EQ(RomSizeMask(k), masks[k]) << k;
        EXPECT_EQ(BlockCount(RomSizeOfIndex(k)), blocks[k]) << k;
    }
    EXPECT_EQ(RomSizeMask(-1), 0);
    EXPECT_EQ(RomSizeMask(8), 0);
    EXPECT_EQ(RomSizeOfIndex(8), 0u);
    EXPECT_EQ(kRomTypes.size(), 8u);
    EXPECT_EQ(kRomTypes[2].name, "27C256");
    EXPECT_EQ(kRomTypes[7].listEntry, "27C080(1024K*8)");
    EXPECT_EQ(kRomImageSize, 1048576u);
}

TEST(Protocol, RomTypesAreFoundByNameListTextOrIndex)
{
    const struct {
        const char* text;
        std::optional<int> index;
    } cases[] = {
        {"27C64", 0}, {"27c256", 2}, {"27C256(32K*8)", 2}, {"27C080(1024K*8)", 7}, {"7", 7}, {"0", 0},
        {"8", std::nullopt}, {"27C", std::nullopt}, {"", std::nullopt}, {"27C2560", std::nullopt},
        {"(27C256)", std::nullopt}, {"07", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindRomType(c.text), c.index) << c.text;
}

TEST(Protocol, HexCountReadsLikeThePageField)
{
    EXPECT_EQ(ParseHexCount("0"), 0u);
    EXPECT_EQ(ParseHexCount(""), 0u);
    EXPECT_EQ(ParseHexCount("00002000"), 0x2000u);
    EXPECT_EQ(ParseHexCount("  1fF"), 0x1FFu);
    EXPECT_EQ(ParseHexCount("12g4"), 0x12u);
    EXPECT_EQ(ParseHexCount("zz"), 0u);
    EXPECT_EQ(ParseHexCount("-5"), 0u);
    EXPECT_EQ(ParseHexCount("ffffffffffffffffff"), UINT64_MAX);
}
