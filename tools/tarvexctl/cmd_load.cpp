// `tarvexctl load`: loads an image file as the buffer page's Load does.
#include "cli.h"
#include "commands.h"
#include "streams.h"

#include "buffer/imageloader.h"
#include "util/fileutil.h"

#include <cctype>
#include <memory>

namespace tarvexctl {

const std::string_view kLoadHelp =
    "Usage: tarvexctl load FILE [--format ihex|bin] [--fill HH] [--out IMAGE.bin] [--json]\n"
    "\n"
    "Loads FILE into a 1 MiB (0x100000-byte) ROM image that holds the fill byte wherever the\n"
    "file sets nothing, and prints the \"Bytes were read\" count as eight lower-case hex digits:\n"
    "for Intel HEX the highest address written plus one, for a binary file its length.\n"
    "Intel HEX data at 0x100000 and above and binary bytes past 1 MiB are dropped.\n"
    "FILE - is standard input; IMAGE.bin - is standard output (the count then goes to standard\n"
    "error).\n"
    "\n"
    "Options:\n"
    "  --format ihex|bin  file format (default: ihex)\n"
    "  --fill HH          fill byte, one or two hex digits (default: 00)\n"
    "  --out IMAGE.bin    write the whole 1 MiB image to IMAGE.bin (replaced atomically)\n"
    "  --json             print the result as one JSON object\n"
    "  -q, --quiet        print nothing but errors\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit codes: 0 success, 2 usage error, 3 FILE cannot be read or IMAGE.bin cannot be written.\n";

int RunLoad(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"format", true}, {"fill", true}, {"out", true}, {"json", false},
                                  {"quiet", false, 'q'}});
    if (parser.Positional().size() != 1)
        throw UsageError(parser.Positional().empty() ? "missing FILE" : "more than one FILE given");
    const std::string& file = parser.Positional().front();
    const int format = ParseFormat(parser.Value("format"));
    const std::uint8_t fill = ParseFill(parser.Value("fill"));
    const std::optional<std::string> out = parser.Value("out");
    if (out && out->empty())
        throw UsageError("--out needs a file name");
    const bool bJson = parser.Has("json");
    if (bJson && out && *out == "-")
        throw UsageError("--json and --out - both want standard output");

    std::string error;
    const std::optional<CInput> input = CInput::Open(file, error);
    if (!input) {
        io.err << "tarvexctl load: " << error << '\n';
        return kExitFile;
    }
    const auto image = std::make_unique<std::uint8_t[]>(kRomImageSize);
    const ImageLoadResult result = LoadImageFile(input->Path(), format, fill, RomImage(image.get(), kRomImageSize));
    if (!result.ok) {
        io.err << "tarvexctl load: " << input->Named(result.message) << '\n';
        return kExitFile;
    }
    if (out && !WriteOutput(*out, {image.get(), kRomImageSize}, error)) {
        io.err << "tarvexctl load: " << error << '\n';
        return kExitFile;
    }
    if (bJson) {
        io.out << "{\"file\":" << JsonString(file) << ",\"format\":\"" << (format == 0 ? "ihex" : "bin")
               << "\",\"bytes_read\":" << result.bytesRead << ",\"bytes_read_hex\":\""
               << FormatBytesRead(result.bytesRead) << "\"}\n";
    } else if (!parser.Has("quiet")) {
        // With the image on standard output, the count must not end up inside it.
        (out && *out == "-" ? io.err : io.out) << FormatBytesRead(result.bytesRead) << '\n';
    }
    return kExitOk;
}

}  // namespace tarvexctl
