// SPDX-License-Identifier: MIT
// The emulator's command protocol: command blocks, block counts and ROM size masks.
#include "emulink/emuprotocol.h"

CommandBlock MakeCommandBlock(uint8_t opcode, uint8_t parameter)
{
    CommandBlock block{};
    block[0] = opcode;
    block[1] = parameter;
    return block;
}

uint32_t BlockCount(uint32_t romSize)
{
    return (romSize >> 15) + ((romSize & 0x7FFF) != 0 ? 1 : 0);
}

uint8_t RomSizeMask(int index)
{
    const SRomType* type = RomTypeAt(index);
    return type ? type->nMask : 0;
}

uint32_t RomSizeOfIndex(int index)
{
    const SRomType* type = RomTypeAt(index);
    return type ? type->nSize : 0;
}
