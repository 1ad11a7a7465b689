// SPDX-License-Identifier: MIT
// Loading FILE for a command: format, fill, warnings on standard error, --strict, -v.
#pragma once

#include "cli.h"
#include "streams.h"

#include "image/imageloader.h"
#include "image/imagewriter.h"
#include "image/loaddiagnostics.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The help lines of the options LoadChoice reads (but -q and -v, which each command words itself).
#define TARVEXCTL_LOAD_OPTIONS_TEXT                                                                \
    "  --format auto|ihex|bin|srec|xtek\n"                                                         \
    "                     file format; auto (the default) takes Intel HEX when the file starts\n" \
    "                     with ':', S-record with S0..S9, extended Tektronix with '%', else binary\n" \
    "  --fill HH          fill byte, one or two hex digits (default: 00)\n"                       \
    "  --strict           refuse FILE (exit 3, nothing sent) when loading it gives a warning\n"

namespace tarvexctl {

// --rom's value: a type name (27C256, any case, with or without the list's size part) or its
// index 0 to 7; anything else is a usage error.
int RomIndex(const std::string& text);
// The size of the --rom type given, 27C64 when none is.
std::uint32_t RomSize(const ArgParser& parser);

// The options every command that loads a file takes (see kLoadOptionsHelp).
struct SLoadChoice {
    ImageFormat format = ImageFormat::Auto;
    std::uint8_t fill = 0;
    bool bStrict = false;   // a warning refuses the file
    bool bQuiet = false;    // no warnings, no progress
    bool bVerbose = false;  // the format chosen, the checksum of what moved
};

// --format, --fill, --strict, -q and -v from the command line.
SLoadChoice LoadChoice(const ArgParser& parser);

// A loaded file: its name for messages, what the load gave, its warnings.
struct SLoaded {
    std::optional<CInput> input;
    ImageLoadResult result;
    LoadDiagnostics diagnostics;
    const std::string& Name() const { return input->Name(); }
};

// Loads FILE ("-": standard input) into `image`, checking it against `romSize` (0: no ROM
// size). Warnings go to standard error unless quiet; with --strict any warning refuses the
// file. Returns kExitOk, or kExitFile when the file could not be read or was refused (said on
// standard error as "tarvexctl COMMAND: ...").
int LoadFile(const std::string& file, const SLoadChoice& choice, std::uint64_t romSize, RomImage image,
             std::string_view command, Io& io, SLoaded& loaded);

// The format of an output file: --out-format ihex, srec or bin, else what OUT's extension says
// (.hex/.ihx Intel HEX, .s19/.s28/.s37/.srec/.mot S-record, anything else and "-" binary).
ImageWriteOptions OutputFormat(const std::optional<std::string>& text, const std::string& out);

// Writes data, as from address 0, to OUT in that format ("-": standard output).
bool WriteImage(const std::string& out, std::span<const std::uint8_t> data, const ImageWriteOptions& format,
                std::string& error);

}  // namespace tarvexctl
