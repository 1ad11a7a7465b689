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

std::span<const OptionDef> LoadOptionDefs()
{
    static const OptionDef kDefs[] = {
        {"format", "FORMAT"}, {"fill", "HH"},       {"strict", {}},        {"base", "ADDR"},
        {"skip", "N"},        {"at", "ADDR"},       {"wrap", {}},          {"segments", {}},
        {"swap-bytes", {}},   {"swap-lines", "A,B"}, {"checksum", "KIND:ADDR"},
    };
    return kDefs;
}

namespace {

constexpr std::uint64_t kAnyAddress = ~std::uint64_t{0};
constexpr unsigned kAddressLines = 20;  // A0..A19 of the 1 MiB image

STransform SwapLinesOf(const std::string& text)
{
    const auto line = [&](std::string_view digits) {
        unsigned v = 0;
        bool ok = !digits.empty() && digits.size() <= 2;
        for (char c : digits) {
            ok = ok && c >= '0' && c <= '9';
            v = v * 10 + static_cast<unsigned>(c - '0');
        }
        if (!ok || v >= kAddressLines)
            throw UsageError("--swap-lines '" + text + "' needs two address lines A,B (decimal, 0 to 19)");
        return v;
    };
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos)
        throw UsageError("--swap-lines '" + text + "' needs two address lines A,B (decimal, 0 to 19)");
    STransform step{STransform::EKind::SwapLines};
    step.lineA = line(std::string_view(text).substr(0, comma));
    step.lineB = line(std::string_view(text).substr(comma + 1));
    return step;
}

STransform ChecksumOf(const std::string& text)
{
    STransform step{STransform::EKind::Checksum};
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || !ParseChecksumKind(std::string_view(text).substr(0, colon), step.checksum))
        throw UsageError("--checksum '" + text + "' needs KIND:ADDR, KIND one of sum8, sum16le, sum16be, crc32le, crc32be");
    step.address = static_cast<std::uint32_t>(ParseHex(text.substr(colon + 1), kRomImageSize - 1, "--checksum address"));
    return step;
}

}  // namespace

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

    const auto base = parser.Value("base"), skip = parser.Value("skip"), at = parser.Value("at");
    if (base)
        choice.map.base = ParseHex(*base, kAnyAddress, "--base");
    if (skip)
        choice.map.skip = ParseHex(*skip, kAnyAddress, "--skip");
    if (at)
        choice.map.at = static_cast<std::uint32_t>(ParseHex(*at, kRomImageSize - 1, "--at"));
    choice.map.wrap = parser.Has("wrap");
    choice.map.segments = parser.Has("segments");
    if (choice.map.wrap && !choice.bRomGiven)
        throw UsageError("--wrap needs --rom: addresses wrap at the ROM size");
    // With --format auto the format is known only once the file is read; LoadFile checks again.
    const ImageFormat f = choice.format;
    if (base && f == ImageFormat::Binary)
        throw UsageError("--base applies to Intel HEX, S-record and Tektronix files, not to --format bin: "
                         "use --skip for a binary file");
    if (skip && f != ImageFormat::Auto && f != ImageFormat::Binary)
        throw UsageError(std::string("--skip applies to binary files, not to --format ") + ImageFormatName(f) +
                         ": use --base for a record file");
    if (choice.map.segments && f != ImageFormat::Auto && f != ImageFormat::IntelHex)
        throw UsageError(std::string("--segments applies to Intel HEX files, not to --format ") + ImageFormatName(f));

    for (const auto& [name, value] : parser.Options()) {
        if (name == "swap-bytes")
            choice.transforms.push_back({STransform::EKind::SwapBytes});
        else if (name == "swap-lines")
            choice.transforms.push_back(SwapLinesOf(value));
        else if (name == "checksum")
            choice.transforms.push_back(ChecksumOf(value));
    }
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
    const auto transformWindow =
        static_cast<std::uint32_t>(window > 0 ? window : std::uint64_t{choice.romSize} * perRom);
    for (const STransform& step : choice.transforms)
        if (std::string why = CheckTransform(step, transformWindow); !why.empty())
            throw UsageError("--" + why);
    ImageLoadOptions options;
    options.format = choice.format;
    options.fill = choice.fill;
    options.map = choice.map;
    // Without --rom a file too large for the default is an error below, not a warning.
    options.romSize = choice.bRomGiven ? window : 0;
    if (choice.map.wrap)
        options.romSize = transformWindow;
    const ImageLoadResult result =
        file == "-" ? LoadImageFromFd(STDIN_FILENO, "standard input", options, image) : LoadImage(file, options, image);
    if (!result.ok) {
        if (result.misuse)
            throw UsageError(result.message);
        io.err << "tarvexctl " << command << ": " << result.message << '\n';
        return kExitFile;
    }
    if (complete)
        *complete = result.complete;
    const std::string& name = image.Source();
    if (choice.bVerbose) {
        io.err << "tarvexctl " << command << ": " << name << " read as " << ImageFormatTitle(image.Format())
               << (choice.format == ImageFormat::Auto ? " (from its first characters)" : "") << '\n';
        if (const std::optional<std::uint64_t> entry = image.EntryPoint()) {
            io.err << "tarvexctl " << command << ": entry point " << Hex(*entry);
            if (image.Trace().entryLine > 0)
                io.err << " (line " << image.Trace().entryLine << ")";
            if (const std::optional<std::uint32_t> rom = MapAddress(image.Trace().map, false, image.Trace().wrapSize, *entry);
                rom && *rom < transformWindow)
                io.err << ", at ROM address " << Hex(*rom);
            io.err << '\n';
        }
    }
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
        const SRomType* type = SmallestHolding(image.BytesRead(), perRom);
        if (type)
            io.err << ": give --rom " << type->name;
        else
            io.err << ", and no ROM type holds it";
        // A build for a CPU whose ROM sits high in its map (a 6502's 0xE000) wants a base.
        if (const std::optional<std::uint64_t> base = SuggestBase(image.Trace(), window))
            io.err << (type ? ", or --base " : "; give --base ") << Hex(*base) << " if the "
                   << kRomTypes[kDefaultRomType].name << (perRom > 1 ? " pair" : "") << " starts there";
        io.err << '\n';
        return kExitFile;
    }
    for (const STransform& step : choice.transforms) {
        std::uint32_t stored = 0;
        ApplyTransform(image, transformWindow, step, &stored);
        if (choice.bVerbose) {
            io.err << "tarvexctl " << command << ": " << DescribeTransform(step) << " over 0x0-" << Hex(transformWindow - 1);
            if (step.kind == STransform::EKind::Checksum) {
                char value[16];
                std::snprintf(value, sizeof value, "%0*x", static_cast<int>(2 * ChecksumWidth(step.checksum)), stored);
                io.err << ": " << value;
            }
            io.err << '\n';
        }
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
