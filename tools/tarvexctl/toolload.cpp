// SPDX-License-Identifier: MIT
// Loading FILE for a command, its warnings and --strict.
#include "toolload.h"

#include "emulink/emuprotocol.h"
#include "emulink/romtypes.h"
#include "streams.h"

#include <cstdio>

#include <unistd.h>

namespace tarvexctl {

int RomIndex(const std::string& text)
{
    if (const std::optional<int> index = FindRomType(text))
        return *index;
    throw UsageError("unknown ROM type '" + text + "' (use 27C64 ... 27C080 or 0 to 7)");
}

SLoadChoice LoadChoice(const ArgParser& parser)
{
    SLoadChoice choice;
    choice.format = ParseFormat(parser.Value("format"));
    choice.fill = ParseFill(parser.Value("fill"));
    if (const auto rom = parser.Value("rom")) {
        choice.romSize = RomSizeOfIndex(RomIndex(*rom));
        choice.bRomGiven = true;
    }
    choice.bStrict = parser.Has("strict");
    choice.bQuiet = parser.Has("quiet");
    choice.bVerbose = parser.Has("verbose");
    return choice;
}

namespace {

// The smallest ROM type whose size (times `perRom`) covers `extent` bytes; null when none does.
const SRomType* SmallestHolding(std::uint64_t extent, unsigned perRom)
{
    for (const SRomType& type : kRomTypes)
        if (static_cast<std::uint64_t>(type.nSize) * perRom >= extent && type.nSize * perRom <= kRomImageSize)
            return &type;
    return nullptr;
}

std::string Hex(std::uint64_t v)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
    return text;
}

}  // namespace

int LoadFile(const std::string& file, const SLoadChoice& choice, std::uint64_t window, CRomImage& image,
             std::string_view command, Io& io, unsigned perRom, bool* complete)
{
    ImageLoadOptions options;
    options.format = choice.format;
    options.fill = choice.fill;
    // Without --rom a file too large for the default is an error below, not a warning.
    options.romSize = choice.bRomGiven ? window : 0;
    const ImageLoadResult result =
        file == "-" ? LoadImageFromFd(STDIN_FILENO, "standard input", options, image) : LoadImage(file, options, image);
    if (!result.ok) {
        io.err << "tarvexctl " << command << ": " << result.message << '\n';
        return kExitFile;
    }
    if (complete)
        *complete = result.complete;
    const std::string& name = image.Source();
    if (choice.bVerbose)
        io.err << "tarvexctl " << command << ": " << name << " read as " << ImageFormatTitle(image.Format())
               << (choice.format == ImageFormat::Auto ? " (from its first characters)" : "") << '\n';
    const LoadDiagnostics& diagnostics = image.Diagnostics();
    if (!choice.bQuiet || choice.bStrict)
        for (const LoadWarning& w : diagnostics.Warnings())
            io.err << FormatLoadWarning(name, w) << '\n';
    if (choice.bStrict && !diagnostics.Empty()) {
        const std::size_t n = diagnostics.Warnings().size();
        io.err << "tarvexctl " << command << ": --strict: " << n << (n == 1 ? " warning" : " warnings") << " about "
               << name << ", so it was not used\n";
        return kExitFile;
    }
    if (!choice.bRomGiven && window > 0 && image.BytesRead() > window) {
        // Sending the first 8 KiB of a 32 KiB build would pass for success; ask for the ROM type.
        io.err << "tarvexctl " << command << ": " << name << " holds data up to " << Hex(image.BytesRead() - 1)
               << ", beyond the " << window << " bytes of the default ROM type " << kRomTypes[kDefaultRomType].name
               << (perRom > 1 ? " pair" : "");
        if (const SRomType* type = SmallestHolding(image.BytesRead(), perRom))
            io.err << ": give --rom " << type->name << '\n';
        else
            io.err << ", and no ROM type holds it\n";
        return kExitFile;
    }
    return kExitOk;
}

ImageWriteOptions OutputFormat(const std::optional<std::string>& text, const std::string& out)
{
    if (!text)
        return out == "-" ? ImageWriteOptions{ImageFormat::Binary} : WriteOptionsForFileName(out);
    ImageFormat format = ImageFormat::Auto;
    if (!ParseImageFormat(*text, format) || format == ImageFormat::Auto || format == ImageFormat::TekHex)
        throw UsageError("unknown output format '" + *text + "' (use ihex, srec or bin)");
    ImageWriteOptions options = WriteOptionsForFileName(out);
    if (options.format != format)
        options = ImageWriteOptions{format};
    return options;
}

bool WriteImage(const std::string& out, std::span<const std::uint8_t> data, const ImageWriteOptions& format,
                std::string& error)
{
    if (format.format == ImageFormat::Binary)
        return WriteOutput(out, data, error);
    if (std::string why = CheckWriteOptions(data, format); !why.empty()) {
        error = "cannot write " + out + ": " + why;
        return false;
    }
    const std::string text = EncodeImageToString(data, format);
    return WriteOutput(out, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, error);
}

}  // namespace tarvexctl
