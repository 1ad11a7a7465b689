// SPDX-License-Identifier: MIT
// The eight ROM types the emulator stands in for: list text, name, size and the mask it is sent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

struct SRomType {
    std::string_view listEntry;  // the ROM Type list's text
    std::string_view name;       // short name, as tarvexctl --rom takes it
    std::uint32_t nSize;         // bytes: 8192 shifted left by the index
    std::uint8_t nMask;          // EMU_ROM_SIZE parameter: 2^index - 1
};

inline constexpr std::array<SRomType, 8> kRomTypes = {{
    {"27C64(8K*8)", "27C64", 8192u << 0, 0x00},
    {"27C128(16K*8)", "27C128", 8192u << 1, 0x01},
    {"27C256(32K*8)", "27C256", 8192u << 2, 0x03},
    {"27C512(64K*8)", "27C512", 8192u << 3, 0x07},
    {"27C010(128K*8)", "27C010", 8192u << 4, 0x0F},
    {"27C020(256K*8)", "27C020", 8192u << 5, 0x1F},
    {"27C040(512K*8)", "27C040", 8192u << 6, 0x3F},
    {"27C080(1024K*8)", "27C080", 8192u << 7, 0x7F},
}};

inline constexpr int kRomTypeCount = static_cast<int>(kRomTypes.size());

// The ROM type every start begins with, and its size: the ROM Type list's first entry.
inline constexpr int kDefaultRomType = 0;
inline constexpr std::uint32_t kDefaultRomSize = kRomTypes[kDefaultRomType].nSize;

// The ROM image: as large as the largest ROM type, whatever type is chosen.
inline constexpr std::size_t kRomImageSize = kRomTypes.back().nSize;

// The type at `index`, or null outside 0..7.
inline const SRomType* RomTypeAt(int index)
{
    return index >= 0 && index < kRomTypeCount ? &kRomTypes[static_cast<std::size_t>(index)] : nullptr;
}

// A type by its short name, any case, with or without the list's size part ("27c256",
// "27C256(32K*8)"), or by its index
// written as one digit 0 to 7; nullopt for anything else.
std::optional<int> FindRomType(std::string_view text);
