// SPDX-License-Identifier: MIT
// The emulator's command protocol: command blocks, data blocks, opcodes and the ROM size masks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "emulink/romtypes.h"

enum EEmuOpcode : uint8_t {
    EMU_WRITE_BLOCK = 0,
    EMU_READ_BLOCK = 1,
    EMU_RUN = 2,
    EMU_ROM_SIZE = 3,
    EMU_RESET = 4,
};

inline constexpr size_t kCommandBlockSize = 64;
inline constexpr size_t kDataBlockSize = 32768;
// The blocks of the whole image.
inline constexpr uint32_t kImageBlocks = static_cast<uint32_t>(kRomImageSize / kDataBlockSize);

using CommandBlock = std::array<uint8_t, kCommandBlockSize>;

CommandBlock MakeCommandBlock(uint8_t opcode, uint8_t parameter);
// Number of 32 KiB data blocks that cover `romSize` bytes (rounded up; 0 gives 0).
uint32_t BlockCount(uint32_t romSize);
// Mask sent with EMU_ROM_SIZE for ROM type index k (kRomTypes); an index outside 0..7 gives 0.
uint8_t RomSizeMask(int index);
// The size of ROM type index 0..7 (kRomTypes); 0 outside.
uint32_t RomSizeOfIndex(int index);
