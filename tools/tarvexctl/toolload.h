// SPDX-License-Identifier: MIT
// Loading FILE for a command: format, fill, ROM type, warnings on standard error, --strict, -v.
#pragma once

#include "cli.h"

#include "image/imageloader.h"
#include "image/imagewriter.h"
#include "image/romimage.h"
#include "image/transform.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>
#include <string>
#include <string_view>

// The help lines of the options LoadChoice reads (but --rom, -q and -v, which each command words
// itself). Lines stay under 80 columns.
#define TARVEXCTL_LOAD_OPTIONS_TEXT                                                                \
    "  --format auto|ihex|bin|srec|xtek\n"                                                         \
    "                     file format; auto (the default) takes Intel HEX when the\n"              \
    "                     file starts with ':', S-record with S0..S9, extended\n"                  \
    "                     Tektronix with '%', else binary (looking past a byte order\n"            \
    "                     mark, blank lines and comment lines starting with '#' or\n"              \
    "                     ';')\n"                                                                  \
    "  --fill HH          fill byte, one or two hex digits (default: 00)\n"                        \
    "  --strict           refuse FILE (exit 3, nothing sent) when loading it gives a\n"            \
    "                     warning\n"                                                               \
    "Where the data goes (ADDR and N in hex, 0x allowed):\n"                                       \
    "  --base ADDR        Intel HEX, S-record, Tektronix: the ROM address is file\n"               \
    "                     address minus ADDR (a 6502's 27C64 at 0xE000: --base E000)\n"            \
    "  --skip N           binary: the image starts with the file's byte N\n"                       \
    "  --at ADDR          the data starts at ROM address ADDR instead of 0\n"                      \
    "  --wrap             after --base, take addresses modulo the ROM size, as a\n"                \
    "                     chip whose upper address lines are not wired sees them\n"                \
    "                     (needs --rom)\n"                                                         \
    "  --segments         Intel HEX: follow type-02 segment address records (objcopy\n"            \
    "                     writes them for images from 64 KiB to 1 MiB)\n"                          \
    "Transforms of the ROM window, in the order given (each may repeat):\n"                        \
    "  --swap-bytes       swap the two bytes of every 16-bit word\n"                               \
    "  --swap-lines A,B   swap address lines A and B (decimal, 0 is A0; e.g. 14,15)\n"             \
    "  --checksum sum8|sum16le|sum16be|crc32le|crc32be:ADDR\n"                                     \
    "                     store a checksum at ADDR: sum8, the byte that makes the\n"               \
    "                     window's 8-bit sum 0; sum16le/be, the 16-bit sum of the\n"               \
    "                     bytes below ADDR; crc32le/be, their CRC-32 (zlib's)\n"

namespace tarvexctl {

// --rom's value: a type name (27C256, any case, with or without the list's size part) or its
// index 0 to 7; anything else is a usage error.
int RomIndex(const std::string& text);

// The options every command that loads a file takes.
struct SLoadChoice {
    ImageFormat format = ImageFormat::Auto;
    std::uint8_t fill = 0;
    std::uint32_t romSize = kDefaultRomSize;  // --rom's size, the 27C64's when not given
    bool bRomGiven = false;
    bool bStrict = false;   // a warning refuses the file
    bool bQuiet = false;    // no warnings, no progress
    bool bVerbose = false;  // the format chosen, the checksum of what moved
    SAddressMap map;        // --base, --skip, --at, --wrap, --segments
    std::vector<STransform> transforms;  // --swap-bytes, --swap-lines, --checksum in their order
};

// The options LoadChoice reads besides --rom, -q and -v, for each loading command's parser.
std::span<const OptionDef> LoadOptionDefs();

// --format, --fill, --rom, --strict, the mapping and the transforms, -q and -v from the command line.
SLoadChoice LoadChoice(const ArgParser& parser);

// Loads FILE ("-": standard input, read once as a stream) into `image` through the address map,
// then applies the transforms to the ROM window. `window` is the bytes the emulator(s) will
// receive (0: none), warned about when --rom was given; without --rom, data beyond the window is
// an error that names the smallest ROM type that holds it ("give --rom 27C256") or the --base
// that places it; `perRom` divides the window for that advice (2 for a pair). The transforms
// work on `window`, or without one on the ROM type's size times perRom. Warnings go to standard
// error unless quiet; with --strict any warning refuses the file. Returns kExitOk, or kExitFile
// when the file could not be read or was refused (said on standard error as "tarvexctl COMMAND:
// ..."); options that do not fit the file read (--base for a binary one) throw UsageError.
// `complete` (if given) tells whether the file ends where its format says it does.
int LoadFile(const std::string& file, const SLoadChoice& choice, std::uint64_t window, CRomImage& image,
             std::string_view command, Io& io, unsigned perRom = 1, bool* complete = nullptr);

// The format of an output file: --out-format ihex, srec or bin, else what OUT's extension says
// (.hex/.ihx Intel HEX, .s19/.s28/.s37/.srec/.mot S-record, anything else and "-" binary).
ImageWriteOptions OutputFormat(const std::optional<std::string>& text, const std::string& out);

// Writes data, as from address 0, to OUT in that format ("-": standard output).
bool WriteImage(const std::string& out, std::span<const std::uint8_t> data, const ImageWriteOptions& format,
                std::string& error);

}  // namespace tarvexctl
