// SPDX-License-Identifier: MIT
// Loading FILE for a command, its warnings and --strict.
#include "toolload.h"

#include "emulink/emuprotocol.h"
#include "emulink/romtypes.h"

namespace tarvexctl {

int RomIndex(const std::string& text)
{
    if (const std::optional<int> index = FindRomType(text))
        return *index;
    throw UsageError("unknown ROM type '" + text + "' (use 27C64 ... 27C080 or 0 to 7)");
}

uint32_t RomSize(const ArgParser& parser)
{
    const auto rom = parser.Value("rom");
    return RomSizeOfIndex(rom ? RomIndex(*rom) : 0);
}

SLoadChoice LoadChoice(const ArgParser& parser)
{
    SLoadChoice choice;
    choice.format = ParseFormat(parser.Value("format"));
    choice.fill = ParseFill(parser.Value("fill"));
    choice.bStrict = parser.Has("strict");
    choice.bQuiet = parser.Has("quiet");
    choice.bVerbose = parser.Has("verbose");
    return choice;
}

int LoadFile(const std::string& file, const SLoadChoice& choice, std::uint64_t romSize, RomImage image,
             std::string_view command, Io& io, SLoaded& loaded)
{
    std::string error;
    loaded.input = CInput::Open(file, error);
    if (!loaded.input) {
        io.err << "tarvexctl " << command << ": " << error << '\n';
        return kExitFile;
    }
    ImageLoadOptions options;
    options.format = choice.format;
    options.fill = choice.fill;
    options.romSize = romSize;
    options.diagnostics = &loaded.diagnostics;
    loaded.result = LoadImage(loaded.input->Path(), options, image);
    if (!loaded.result.ok) {
        io.err << "tarvexctl " << command << ": " << loaded.input->Named(loaded.result.message) << '\n';
        return kExitFile;
    }
    if (choice.bVerbose)
        io.err << "tarvexctl " << command << ": " << loaded.Name() << " read as "
               << ImageFormatTitle(loaded.result.format)
               << (choice.format == ImageFormat::Auto ? " (from its first characters)" : "") << '\n';
    if (!choice.bQuiet || choice.bStrict)
        for (const LoadWarning& w : loaded.diagnostics.Warnings())
            io.err << FormatLoadWarning(loaded.Name(), w) << '\n';
    if (choice.bStrict && !loaded.diagnostics.Empty()) {
        const std::size_t n = loaded.diagnostics.Warnings().size();
        io.err << "tarvexctl " << command << ": --strict: " << n << (n == 1 ? " warning" : " warnings") << " about "
               << loaded.Name() << ", so it was not used\n";
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
