// SPDX-License-Identifier: MIT
// `tarvexctl load` and `tarvexctl sum`: load an image file as the tool's other commands do, and
// show or write what it gave.
#include "cli.h"
#include "commands.h"
#include "streams.h"
#include "toolload.h"

#include "image/checksum.h"
#include "image/romimage.h"

#include <cinttypes>
#include <cstdio>
#include <memory>

namespace tarvexctl {

const std::string_view kLoadHelp =
    "Usage: tarvexctl load FILE [--format FORMAT] [--fill HH] [--rom TYPE] [--strict]\n"
    "                      [--out OUT] [--out-format ihex|srec|bin] [--json]\n"
    "\n"
    "Loads FILE into a 1 MiB (0x100000-byte) ROM image that holds the fill byte wherever the\n"
    "file sets nothing, and prints the \"Bytes were read\" count as eight lower-case hex digits:\n"
    "for Intel HEX, S-record and Tektronix the highest address written plus one, for a binary\n"
    "file its length. Data at 0x100000 and above is dropped. Warnings about FILE (bad\n"
    "checksums, records cut short, data dropped...) go to standard error as FILE:LINE: warning.\n"
    "FILE - is standard input; OUT - is standard output (the count then goes to standard error).\n"
    "\n"
    "Options:\n" TARVEXCTL_LOAD_OPTIONS_TEXT
    "  --rom TYPE         also warn about data beyond this ROM type's size (27C64 ... 27C080)\n"
    "  --out OUT          write the whole 1 MiB image to OUT (a file is replaced atomically)\n"
    "  --out-format ihex|srec|bin\n"
    "                     OUT's format; default: by its extension (.hex/.ihx Intel HEX,\n"
    "                     .s19/.s28/.s37/.srec/.mot S-record, anything else binary)\n"
    "  --json             print the result (format, count, warnings) as one JSON object\n"
    "  -q, --quiet        print nothing but errors\n"
    "  -v, --verbose      say which format FILE was read as\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit codes: 0 success, 2 usage error, 3 FILE cannot be read (or is refused by --strict)\n"
    "or OUT cannot be written.\n";

const std::string_view kSumHelp =
    "Usage: tarvexctl sum FILE [--rom TYPE] [--range START:END] [--format FORMAT] [--fill HH]\n"
    "                     [--strict] [--json]\n"
    "\n"
    "Loads FILE as 'tarvexctl write' would and prints the 8-bit sum, the 16-bit sum and the\n"
    "CRC-32 (the zlib / IEEE 802.3 one) of the ROM type's first bytes, or of the addresses\n"
    "START up to but not including END (hex, 0x allowed, END at most 100000). FILE - is\n"
    "standard input.\n"
    "\n"
    "Options:\n"
    "  --rom TYPE         ROM type whose size is summed (default: 27C64)\n"
    "  --range START:END  the addresses summed instead\n" TARVEXCTL_LOAD_OPTIONS_TEXT
    "  --json             print the result as one JSON object\n"
    "  -q, --quiet        no warnings\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit codes: 0 success, 2 usage error, 3 FILE cannot be read (or is refused by --strict).\n";

namespace {

std::string WarningsJson(const LoadDiagnostics& diagnostics)
{
    std::string json = "[";
    for (const LoadWarning& w : diagnostics.Warnings()) {
        if (json.size() > 1)
            json += ',';
        json += "{\"kind\":" + JsonString(LoadWarningKindName(w.kind)) + ",\"line\":" + std::to_string(w.line) +
                ",\"message\":" + JsonString(w.message) + '}';
    }
    return json + ']';
}

const std::string& OneFile(const ArgParser& parser)
{
    if (parser.Positional().size() != 1)
        throw UsageError(parser.Positional().empty() ? "missing FILE" : "more than one FILE given");
    return parser.Positional().front();
}

// One address of --range: hex, with or without 0x, at most 0x100000.
std::uint32_t RangeAddress(const std::string& text, const std::string& range)
{
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.erase(0, 2);
    std::uint64_t value = 0;
    bool ok = !digits.empty() && digits.size() <= 8;
    for (char c : digits) {
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        ok = ok && d >= 0;
        value = value * 16 + static_cast<unsigned>(d < 0 ? 0 : d);
    }
    if (!ok || value > kRomImageSize)
        throw UsageError("--range '" + range + "' needs START:END in hex, up to 100000");
    return static_cast<std::uint32_t>(value);
}

}  // namespace

int RunLoad(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"format", true}, {"fill", true}, {"rom", true}, {"strict", false}, {"out", true},
                                  {"out-format", true}, {"json", false}, {"quiet", false, 'q'}, {"verbose", false, 'v'}});
    const std::string& file = OneFile(parser);
    const SLoadChoice choice = LoadChoice(parser);
    const std::optional<std::string> out = parser.Value("out");
    if (out && out->empty())
        throw UsageError("--out needs a file name");
    if (parser.Value("out-format") && !out)
        throw UsageError("--out-format needs --out");
    const ImageWriteOptions outFormat = OutputFormat(parser.Value("out-format"), out.value_or("-"));
    const bool bJson = parser.Has("json");
    if (bJson && out && *out == "-")
        throw UsageError("--json and --out - both want standard output");

    CRomImage image(choice.fill);
    if (const int code = LoadFile(file, choice, choice.bRomGiven ? choice.romSize : 0, image, "load", io);
        code != kExitOk)
        return code;
    std::string error;
    if (out && !WriteImage(*out, image.Bytes(), outFormat, error)) {
        io.err << "tarvexctl load: " << error << '\n';
        return kExitFile;
    }
    if (bJson) {
        io.out << "{\"file\":" << JsonString(file) << ",\"format\":\"" << ImageFormatName(image.Format())
               << "\",\"bytes_read\":" << image.BytesRead() << ",\"bytes_read_hex\":\""
               << FormatBytesRead(image.BytesRead()) << "\",\"warnings\":" << WarningsJson(image.Diagnostics())
               << "}\n";
    } else if (!choice.bQuiet) {
        // With the image on standard output, the count must not end up inside it.
        (out && *out == "-" ? io.err : io.out) << FormatBytesRead(image.BytesRead()) << '\n';
    }
    return kExitOk;
}

int RunSum(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"rom", true}, {"range", true}, {"format", true}, {"fill", true}, {"strict", false},
                                  {"json", false}, {"quiet", false, 'q'}, {"verbose", false, 'v'}});
    const std::string& file = OneFile(parser);
    SLoadChoice choice = LoadChoice(parser);
    std::uint32_t start = 0, end = choice.romSize;
    if (const auto range = parser.Value("range")) {
        const std::size_t colon = range->find(':');
        if (colon == std::string::npos)
            throw UsageError("--range '" + *range + "' needs START:END in hex, up to 100000");
        start = RangeAddress(range->substr(0, colon), *range);
        end = RangeAddress(range->substr(colon + 1), *range);
        if (end < start)
            throw UsageError("--range '" + *range + "' ends before it starts");
    }

    CRomImage image(choice.fill);
    // The sums cover what is asked for, the default ROM's bytes included: no ROM-size error here.
    choice.bRomGiven = choice.bRomGiven && !parser.Value("range");
    if (const int code = LoadFile(file, choice, choice.bRomGiven ? choice.romSize : 0, image, "sum", io);
        code != kExitOk)
        return code;
    const ImageChecksums sums = ComputeChecksums(std::span<const std::uint8_t>(image.Data() + start, end - start));
    char text[160];
    if (parser.Has("json")) {
        // The file name goes in whole: a long one must not cut the object short.
        std::snprintf(text, sizeof text,
                      ",\"start\":%u,\"end\":%u,\"size\":%u,\"sum8\":%u,\"sum16\":%u,\"crc32\":%" PRIu32
                      ",\"crc32_hex\":\"%08" PRIx32 "\"}\n",
                      start, end, end - start, unsigned{sums.sum8}, unsigned{sums.sum16}, sums.crc32, sums.crc32);
        io.out << "{\"file\":" << JsonString(file);
    } else {
        std::snprintf(text, sizeof text, "sum8 %02x  sum16 %04x  crc32 %08" PRIx32 "  %08x-%08x (%u bytes)\n",
                      unsigned{sums.sum8}, unsigned{sums.sum16}, sums.crc32, start, end, end - start);
    }
    io.out << text;
    return kExitOk;
}

}  // namespace tarvexctl
