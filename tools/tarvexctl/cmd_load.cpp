// SPDX-License-Identifier: MIT
// `tarvexctl load` and `tarvexctl sum`: load an image file as the tool's other commands do, and
// show or write what it gave.
#include "cli.h"
#include "commands.h"
#include "streams.h"
#include "toolload.h"

#include "image/checksum.h"
#include "image/loadmap.h"
#include "image/romimage.h"
#include "image/transform.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tarvexctl {

const OptionDef kLoadOptions[] = {
    {"rom", "TYPE"}, {"out", "OUT"}, {"out-format", "ihex|srec|bin"}, {"split", "even|odd"}, {"map", {}}, {"json", {}},
};
const std::string_view kLoadHelp =
    "Loads FILE into a 1 MiB (0x100000-byte) ROM image that holds the fill byte\n"
    "wherever the file sets nothing, and prints the \"Bytes were read\" count alone\n"
    "on its line, as eight lower-case hex digits, for scripts to read (--json says\n"
    "more): for Intel HEX, S-record and Tektronix the highest ROM\n"
    "address written plus one, for a binary file where its data ends. Data at\n"
    "0x100000 and above is dropped. Warnings about FILE (bad checksums, records cut\n"
    "short, data dropped...) go to standard error as FILE:LINE: warning. FILE - is\n"
    "standard input; OUT - is standard output (the count then goes to standard\n"
    "error).\n"
    "\n"
    "Options:\n" TARVEXCTL_LOAD_OPTIONS_TEXT
    "  --rom TYPE         the ROM window (27C64 ... 27C080): warn about data beyond\n"
    "                     it; the transforms work on it (default: 27C64)\n"
    "  --out OUT          write the whole 1 MiB image to OUT (a file is replaced\n"
    "                     atomically)\n"
    "  --out-format ihex|srec|bin\n"
    "                     OUT's format; default: by its extension: .hex and .ihx\n"
    "                     Intel HEX; .s19, .s28, .s37, .srec and .mot S-record;\n"
    "                     anything else binary\n"
    "  --split even|odd   write the even or the odd bytes of a 16-bit pair's image\n"
    "                     to OUT: one ROM of the --rom type each, for a programmer\n"
    "  --map              print where FILE's bytes went: the ROM ranges set (with\n"
    "                     the file address and line each came from), the fill\n"
    "                     between, what lies beyond the ROM or had no place, and the\n"
    "                     entry point\n"
    "  --json             print the result (format, count, warnings, entry point,\n"
    "                     and with --map the map) as one JSON object\n"
    "  -q, --quiet        print nothing but errors\n"
    "  -v, --verbose      say which format FILE was read as, the entry point and\n"
    "                     each transform\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit codes: 0 success, 2 usage error, 3 FILE cannot be read (or is refused by\n"
    "--strict) or OUT cannot be written.\n";

const OptionDef kSumOptions[] = {
    {"rom", "TYPE"}, {"range", "START:END"}, {"json", {}},
};
const std::string_view kSumHelp =
    "Loads FILE as 'tarvexctl write' would (mapping and transforms included) and\n"
    "prints the 8-bit sum, the 16-bit sum and the CRC-32 (the zlib / IEEE 802.3 one)\n"
    "of the ROM type's first bytes, or of the addresses START up to but not\n"
    "including END (hex, 0x allowed, END at most 100000). FILE - is standard input.\n"
    "After --checksum sum8:ADDR the 8-bit sum of the ROM is 00.\n"
    "\n"
    "Options:\n"
    "  --rom TYPE         ROM type whose size is summed (default: 27C64)\n"
    "  --range START:END  the addresses summed instead\n" TARVEXCTL_LOAD_OPTIONS_TEXT
    "  --json             print the result as one JSON object\n"
    "  -q, --quiet        no warnings\n"
    "  -v, --verbose      say which format FILE was read as, and each transform\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit codes: 0 success, 2 usage error, 3 FILE cannot be read (or is refused by\n"
    "--strict).\n";

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

std::string HexText(std::uint64_t v)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIx64, v);
    return text;
}

const char* PassedWhy(EPassedOver why)
{
    return why == EPassedOver::BelowBase ? "below-base" : "above-image";
}

// The load map as text: one line per range, ROM addresses first.
void PrintMap(const SLoadMap& map, const CRomImage& image, std::ostream& os)
{
    char line[160];
    os << image.Source() << ": " << ImageFormatTitle(image.Format()) << ", bytes read "
       << FormatBytesRead(image.BytesRead()) << ", ROM window 0x00000-" ;
    std::snprintf(line, sizeof line, "0x%05x (%u bytes)\n", map.window - 1, map.window);
    os << line;
    const auto origin = [&](const SLoadMapRange& r) {
        if (!r.fromFile)
            return std::string("not from the file");
        std::string s = (image.Format() == ImageFormat::Binary ? "from offset " : "from ") + HexText(r.file);
        if (r.line > 0)
            s += ", line " + std::to_string(r.line);
        return s;
    };
    const auto range = [&](std::uint32_t start, std::uint32_t end, const char* what, const std::string& rest) {
        std::snprintf(line, sizeof line, "  0x%05x-0x%05x %8u bytes  %s", start, end, end - start + 1, what);
        os << line;
        if (!rest.empty())
            os << std::string(6 - std::min<std::size_t>(5, std::strlen(what)), ' ') << rest;
        os << '\n';
    };
    // Set and fill ranges in address order.
    std::size_t f = 0;
    for (const SLoadMapRange& r : map.set) {
        for (; f < map.fill.size() && map.fill[f].nStart < r.start; ++f)
            range(map.fill[f].nStart, map.fill[f].nEnd, "fill", "");
        range(r.start, r.end, "set", origin(r));
    }
    for (; f < map.fill.size(); ++f)
        range(map.fill[f].nStart, map.fill[f].nEnd, "fill", "");
    if (!map.beyond.empty()) {
        os << "beyond the ROM window (loaded, not downloaded):\n";
        for (const SLoadMapRange& r : map.beyond)
            range(r.start, r.end, "set", origin(r));
    }
    if (map.passedRanges > 0) {
        os << "no place in the image (file addresses):\n";
        for (const SPassedRun& p : map.passed) {
            os << "  " << HexText(p.fileStart) << '-' << HexText(p.fileEnd - 1) << ' ' << (p.fileEnd - p.fileStart)
               << " bytes  "
               << (p.why == EPassedOver::AboveImage      ? "at or above 0x100000"
                   : image.Format() == ImageFormat::Binary ? "skipped (--skip)"
                                                           : "below --base");
            if (p.line > 0)
                os << "  line " << p.line;
            os << '\n';
        }
        if (map.passedRanges > map.passed.size())
            os << "  ... and " << map.passedRanges - map.passed.size() << " more ranges; " << map.passedBytes
               << " bytes in all\n";
    }
    if (map.entry) {
        os << "entry point " << HexText(*map.entry);
        if (map.entryLine > 0)
            os << " (line " << map.entryLine << ")";
        if (map.entryRom)
            os << ", at ROM address " << HexText(*map.entryRom);
        else
            os << ", outside the ROM window";
        os << '\n';
    }
}

std::string MapRangesJson(const std::vector<SLoadMapRange>& ranges)
{
    std::string json = "[";
    for (const SLoadMapRange& r : ranges) {
        if (json.size() > 1)
            json += ',';
        json += "{\"start\":" + std::to_string(r.start) + ",\"end\":" + std::to_string(r.end) +
                ",\"count\":" + std::to_string(r.Count()) + ",\"file\":" +
                (r.fromFile ? std::to_string(r.file) : "null") + ",\"line\":" +
                (r.fromFile && r.line > 0 ? std::to_string(r.line) : "null") + '}';
    }
    return json + ']';
}

std::string MapJson(const SLoadMap& map)
{
    std::string json = "{\"window\":" + std::to_string(map.window) + ",\"set\":" + MapRangesJson(map.set) +
                       ",\"fill\":[";
    for (std::size_t i = 0; i < map.fill.size(); ++i)
        json += (i ? ",{\"start\":" : "{\"start\":") + std::to_string(map.fill[i].nStart) +
                ",\"end\":" + std::to_string(map.fill[i].nEnd) + ",\"count\":" + std::to_string(map.fill[i].Count()) +
                '}';
    json += "],\"beyond\":" + MapRangesJson(map.beyond) + ",\"passed\":[";
    for (std::size_t i = 0; i < map.passed.size(); ++i) {
        const SPassedRun& p = map.passed[i];
        json += (i ? "," : "") + std::string("{\"file_start\":") + std::to_string(p.fileStart) +
                ",\"file_end\":" + std::to_string(p.fileEnd - 1) + ",\"count\":" +
                std::to_string(p.fileEnd - p.fileStart) + ",\"line\":" +
                (p.line > 0 ? std::to_string(p.line) : "null") + ",\"why\":\"" + PassedWhy(p.why) + "\"}";
    }
    json += "],\"passed_bytes\":" + std::to_string(map.passedBytes) +
            ",\"passed_ranges\":" + std::to_string(map.passedRanges) + ",\"entry_rom\":" +
            (map.entryRom ? std::to_string(*map.entryRom) : "null") + '}';
    return json;
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

int RunLoad(const ArgParser& parser, Io& io)
{
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
    const std::optional<std::string> split = parser.Value("split");
    if (split && *split != "even" && *split != "odd")
        throw UsageError("--split '" + *split + "' needs even or odd");
    if (split && !out)
        throw UsageError("--split needs --out");
    const unsigned perRom = split ? 2 : 1;
    if (split)
        CheckPairSize(choice.romSize);
    // A ROM window when one is asked for: by --rom, or by what works on one.
    const bool windowed = choice.bRomGiven || split || !choice.transforms.empty();
    const std::uint64_t window = windowed ? std::uint64_t{choice.romSize} * perRom : 0;

    CRomImage image(choice.fill);
    if (const int code = LoadFile(file, choice, window, image, "load", io, perRom); code != kExitOk)
        return code;
    std::string error;
    const std::span<const std::uint8_t> whole = image.Bytes();
    const std::vector<std::uint8_t> half =
        split ? SplitHalf(image.Window(window), *split == "odd") : std::vector<std::uint8_t>();
    if (out && !WriteImage(*out, split ? std::span<const std::uint8_t>(half) : whole, outFormat, error)) {
        io.err << "tarvexctl load: " << error << '\n';
        return kExitFile;
    }
    std::ostream& report = out && *out == "-" ? io.err : io.out;
    const bool bMap = parser.Has("map");
    const SLoadMap map = bMap ? BuildLoadMap(image, static_cast<std::uint32_t>(window > 0 ? window : kRomImageSize))
                              : SLoadMap();
    if (bJson) {
        const std::optional<std::uint64_t> entry = image.EntryPoint();
        io.out << "{\"file\":" << JsonString(file) << ",\"format\":\"" << ImageFormatName(image.Format())
               << "\",\"bytes_read\":" << image.BytesRead() << ",\"bytes_read_hex\":\""
               << FormatBytesRead(image.BytesRead()) << "\",\"entry_point\":"
               << (entry ? std::to_string(*entry) : "null") << ",\"warnings\":" << WarningsJson(image.Diagnostics());
        if (bMap)
            io.out << ",\"map\":" << MapJson(map);
        io.out << "}\n";
    } else if (bMap) {
        PrintMap(map, image, report);
    } else if (!choice.bQuiet) {
        // With the image on standard output, the count must not end up inside it.
        report << FormatBytesRead(image.BytesRead()) << '\n';
    }
    return kExitOk;
}

int RunSum(const ArgParser& parser, Io& io)
{
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
        const std::optional<std::uint64_t> entry = image.EntryPoint();
        io.out << "{\"file\":" << JsonString(file) << ",\"entry_point\":" << (entry ? std::to_string(*entry) : "null");
    } else {
        std::snprintf(text, sizeof text, "sum8 %02x  sum16 %04x  crc32 %08" PRIx32 "  %08x-%08x (%u bytes)\n",
                      unsigned{sums.sum8}, unsigned{sums.sum16}, sums.crc32, start, end, end - start);
    }
    io.out << text;
    return kExitOk;
}

}  // namespace tarvexctl
