// SPDX-License-Identifier: MIT
// Loading FILE for a command: format, fill, ROM type, warnings on standard error, --strict, -v.
#pragma once

#include "cli.h"

#include "image/imageloader.h"
#include "image/imagewriter.h"
#include "image/romimage.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The help lines of the options LoadChoice reads (but -q and -v, which each command words itself).
#define TARVEXCTL_LOAD_OPTIONS_TEXT                                                                \
    "  --format auto|ihex|bin|srec|xtek\n"                                                         \
    "                     file format; auto (the default) takes Intel HEX when the file\n"        \
    "                     starts with ':', S-record with S0..S9, extended Tektronix with\n"       \
    "                     '%', else binary\n"                                                      \
    "  --fill HH          fill byte, one or two hex digits (default: 00)\n"                       \
    "  --strict           refuse FILE (exit 3, nothing sent) when loading it gives a warning\n"

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
};

// --format, --fill, --rom, --strict, -q and -v from the command line.
SLoadChoice LoadChoice(const ArgParser& parser);

// Loads FILE ("-": standard input, read once as a stream) into `image`. `window` is the bytes the
// emulator(s) will receive (0: none), warned about when --rom was given; without --rom, data
// beyond the window is an error that names the smallest ROM type that holds it ("give --rom
// 27C256"); `perRom` divides the window for that advice (2 for a pair). Warnings go to standard
// error unless quiet; with --strict any warning refuses the file. Returns kExitOk, or kExitFile
// when the file could not be read or was refused (said on standard error as "tarvexctl COMMAND: ...").
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
