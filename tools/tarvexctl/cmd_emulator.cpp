// SPDX-License-Identifier: MIT
// tarvexctl's emulator commands: write, read, verify, run, stop, reset, rom and auto.
#include "cli.h"
#include "commands.h"
#include "device.h"
#include "streams.h"
#include "toolload.h"

#include "image/checksum.h"
#include "image/imagediff.h"
#include "session/romsession.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace tarvexctl {

#define TARVEXCTL_EMU_OPTIONS                                                                      \
    "  --rom TYPE         ROM type the transfers cover: 27C64, 27C128, 27C256,\n"                  \
    "                     27C512, 27C010, 27C020, 27C040, 27C080 or its index 0 to 7\n"            \
    "                     (default: 27C64; a FILE with data beyond 8 KiB needs it)\n"
#define TARVEXCTL_VERIFY_OPTION                                                                    \
    "  --verify           read the ROM back after the download and compare (exit 6\n"              \
    "                     if it differs)\n"
#define TARVEXCTL_EMU_FOOTER                                                                       \
    TARVEXCTL_DEVICE_OPTION                                                                        \
    "  -q, --quiet        no warnings, no progress bar\n"                                          \
    "  -v, --verbose      say which format FILE was read as, and the CRC-32 of the\n"              \
    "                     ROM\n"                                                                   \
    "  -h, --help         show this help\n"                                                        \
    "\n"                                                                                           \
    "See 'tarvexctl find' for the emulators attached. USB ids: TARVEX_USB_IDS.\n"
#define TARVEXCTL_ONE_COMMAND_HELP(what)                                                           \
    what "\n\nOptions:\n" TARVEXCTL_DEVICE_OPTION                                                   \
    "  -q, --quiet        print nothing but errors\n"                                              \
    "  -v, --verbose      say which emulator it went to\n"                                         \
    "  -h, --help         show this help\n"                                                        \
    "\n"                                                                                           \
    "Exit codes: 0 success, 2 usage error, 4 no emulator, 5 busy or transfer failed.\n"

const OptionDef kWriteOptions[] = {
    {"rom", "TYPE"}, {"verify", {}}, {"device", "DEV"}, {"pair", "DEV1,DEV2"},
};
const std::string_view kWriteHelp =
    "Loads FILE as 'tarvexctl load' does and downloads the image to the emulator in\n"
    "32 KiB blocks, as many as cover the ROM type (the 8 KiB 27C64 still takes one\n"
    "whole block). The emulator is held from the first block to the last (and the\n"
    "read-back of --verify): no other program can send it anything in between.\n"
    "FILE - is standard input.\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS TARVEXCTL_LOAD_OPTIONS_TEXT TARVEXCTL_VERIFY_OPTION TARVEXCTL_PAIR_OPTION
        TARVEXCTL_EMU_FOOTER
    "\n"
    "Exit codes: 0 success, 2 usage error, 3 FILE cannot be read, 4 no emulator, 5\n"
    "busy or transfer failed, 6 the read-back differs (--verify).\n";

const OptionDef kVerifyOptions[] = {
    {"rom", "TYPE"}, {"json", {}}, {"device", "DEV"}, {"pair", "DEV1,DEV2"},
};
const std::string_view kVerifyHelp =
    "Loads FILE as 'tarvexctl write' would, reads back the 32 KiB blocks that cover\n"
    "the ROM type and compares the ROM type's size of bytes. Prints each range of\n"
    "differing bytes (first and last address, count, the first bytes wanted and\n"
    "got), at most 20, then the totals. FILE - is standard input.\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS TARVEXCTL_LOAD_OPTIONS_TEXT
    "  --json             print the result as one JSON object\n" TARVEXCTL_PAIR_OPTION TARVEXCTL_EMU_FOOTER
    "\n"
    "Exit codes: 0 identical, 2 usage error, 3 FILE cannot be read, 4 no emulator, 5\n"
    "busy or transfer failed, 6 the emulator's ROM differs from FILE.\n";

const OptionDef kReadOptions[] = {
    {"rom", "TYPE"}, {"out-format", "ihex|srec|bin"}, {"device", "DEV"}, {"pair", "DEV1,DEV2"},
};
const std::string_view kReadHelp =
    "Uploads the ROM from the emulator and writes its bytes (the ROM type's size,\n"
    "from address 0) to OUT. OUT is written only when every block arrived; OUT - is\n"
    "standard output. An OUT that cannot be written fails before any transfer.\n"
    "\n"
    "With --pair, OUT gets both ROMs interleaved, twice the ROM type's size: DEV1's\n"
    "bytes at even offsets, DEV2's at odd ones.\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS
    "  --out-format ihex|srec|bin\n"
    "                     OUT's format; default: by its extension: .hex and .ihx\n"
    "                     Intel HEX; .s19, .s28, .s37, .srec and .mot S-record;\n"
    "                     anything else binary\n" TARVEXCTL_PAIR_OPTION
        TARVEXCTL_EMU_FOOTER
    "\nExit codes: 0 success, 2 usage error, 3 OUT cannot be written, 4 no emulator,\n"
    "5 busy or transfer failed.\n";

const OptionDef kDeviceOnlyOptions[] = {
    {"device", "DEV"},
};
const std::string_view kRunHelp = TARVEXCTL_ONE_COMMAND_HELP("Tells the emulator to run the target.");
const std::string_view kStopHelp = TARVEXCTL_ONE_COMMAND_HELP("Tells the emulator to stop the target.");
const std::string_view kResetHelp = TARVEXCTL_ONE_COMMAND_HELP("Tells the emulator to reset the target.");
const std::string_view kRomHelp = TARVEXCTL_ONE_COMMAND_HELP(
    "Sends the ROM size of TYPE (27C64 ... 27C080, or its index 0 to 7) to the\n"
    "emulator.");

const OptionDef kAutoOptions[] = {
    {"rom", "TYPE"}, {"verify", {}}, {"device", "DEV"},
};
const std::string_view kAutoHelp =
    "Loads FILE, then stop, download, run, reset: the Auto button's sequence, with\n"
    "the emulator held from the first command to the last. A FILE that cannot be\n"
    "read (or that --strict refuses) ends it before anything is sent. A transfer\n"
    "that fails skips the transfers after it. With --verify the ROM is read back\n"
    "after the download, and run and reset are sent only when it matches. FILE - is\n"
    "standard input.\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS TARVEXCTL_LOAD_OPTIONS_TEXT TARVEXCTL_VERIFY_OPTION TARVEXCTL_EMU_FOOTER
    "\n"
    "Exit codes: 0 success, 2 usage error, 3 FILE cannot be read, 4 no emulator, 5\n"
    "busy or transfer failed, 6 the read-back differs (--verify).\n";

namespace {

constexpr const char* kMixed = "the emulator now holds a mix of the old and the new image";

// A text bar on standard error when that is a terminal.
class CProgressBar {
public:
    CProgressBar(std::ostream& err, bool bQuiet) : m_err(err), m_bEnabled(!bQuiet && ::isatty(STDERR_FILENO) == 1) {}
    ~CProgressBar()
    {
        if (m_bShown)
            m_err << '\n';
    }
    void operator()(uint32_t position, uint32_t range)
    {
        if (!m_bEnabled || range == 0)
            return;
        constexpr uint32_t kWidth = 32;
        const uint32_t filled = std::min(position, range) * kWidth / range;
        m_err << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, ' ') << "] " << position << '/'
              << range << std::flush;
        m_bShown = true;
    }

private:
    std::ostream& m_err;
    bool m_bEnabled;
    bool m_bShown = false;
};

void NoPositional(const ArgParser& parser)
{
    if (!parser.Positional().empty())
        throw UsageError("unexpected argument '" + parser.Positional().front() + "'");
}

const std::string& OnePositional(const ArgParser& parser, const char* what)
{
    if (parser.Positional().size() != 1)
        throw UsageError(parser.Positional().empty() ? std::string("missing ") + what
                                                     : std::string("more than one ") + what + " given");
    return parser.Positional().front();
}

// One emulator: the link, its transport and the ROM session over it. Nothing edits the image
// here, so a download sends it as it is.
struct SEmulator {
    SEmulator(std::string_view command, Io& io, SDeviceChoice choice, uint32_t romSize)
        : link(command, io), device(std::move(choice)), transport(link.Transport(device)), rom(link.Sink(), nullptr)
    {
        rom.SetRomSize(romSize);
        rom.SetTransport(transport.get());
    }
    int Finish(EEmuResult result, const char* done = nullptr, const char* after = nullptr)
    {
        return link.Finish(result, rom.LastReport(), device, done, after);
    }

    CToolLink link;
    SDeviceChoice device;
    std::unique_ptr<CUsbTransport> transport;
    CRomSession rom;
};

// Runs `op` with the progress bar on standard error.
template <typename Op>
auto WithProgress(CRomSession& rom, bool bQuiet, Io& io, Op op)
{
    CProgressBar bar(io.err, bQuiet);
    rom.SetProgress(std::ref(bar));
    auto result = op();
    rom.SetProgress(nullptr);
    return result;
}

int SingleCommand(const ArgParser& parser, Io& io, std::string_view name, const char* done,
                  EEmuResult (*send)(CRomSession&))
{
    NoPositional(parser);
    SEmulator e(name, io, DeviceOf(parser), 0);
    const int code = e.Finish(send(e.rom));
    if (code == kExitOk && parser.Has("verbose"))
        e.link.Say(std::string(done) + " (" + e.device.selector.Describe() + ")");
    return code;
}

// Reads back the ROM and compares it with the image; the result goes to `report` as text or JSON.
// Returns the exit code: 0 identical, 6 different, the transfer's code when the read failed.
int ReadBackAndCompare(SEmulator& e, std::string_view command, const std::string& fileName, bool bQuiet, bool bJson,
                       std::ostream& report, Io& io)
{
    const SVerifyResult back = WithProgress(e.rom, bQuiet, io, [&] { return e.rom.Verify(); });
    if (back.eResult != EEmuResult::kOk)
        return e.Finish(back.eResult, "read", "nothing was compared");
    e.link.Flush();
    return ReportComparison(back.diff, e.rom.Window(), back.back, command, fileName, bQuiet, bJson, report);
}

constexpr std::size_t kShownRanges = 20;
constexpr std::size_t kShownBytes = 8;

std::string HexBytes(const uint8_t* p, std::size_t n)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0)
            text += ' ';
        text += kDigits[p[i] >> 4];
        text += kDigits[p[i] & 15];
    }
    return text;
}

// The CRC-32 of the ROM window, as -v prints it after a transfer.
void PrintCrc(std::span<const uint8_t> window, std::string_view command, const char* what, Io& io)
{
    char text[96];
    std::snprintf(text, sizeof text, "CRC-32 %08x of the %zu bytes %s", Crc32(window), window.size(), what);
    io.err << "tarvexctl " << command << ": " << text << '\n';
}

}  // namespace

int ReportComparison(const SImageDiff& diff, std::span<const uint8_t> wanted, std::span<const uint8_t> got,
                     std::string_view command, const std::string& fileName, bool bQuiet, bool bJson,
                     std::ostream& report)
{
    const std::size_t shown = std::min(diff.ranges.size(), kShownRanges);
    if (bJson) {
        report << "{\"command\":" << JsonString(command) << ",\"file\":" << JsonString(fileName)
               << ",\"rom_size\":" << got.size() << ",\"identical\":" << (diff.Identical() ? "true" : "false")
               << ",\"differing_bytes\":" << diff.nBytes << ",\"differing_ranges\":" << diff.nRanges << ",\"ranges\":[";
        for (std::size_t k = 0; k < shown; ++k) {
            const SDiffRange& r = diff.ranges[k];
            const std::size_t n = std::min<std::size_t>(r.Count(), kShownBytes);
            report << (k ? "," : "") << "{\"start\":" << r.nStart << ",\"end\":" << r.nEnd << ",\"count\":" << r.Count()
                   << ",\"wanted\":\"" << HexBytes(wanted.data() + r.nStart, n) << "\",\"got\":\""
                   << HexBytes(got.data() + r.nStart, n) << "\"}";
        }
        report << "]}\n";
    } else if (diff.Identical()) {
        if (!bQuiet)
            report << "tarvexctl " << command << ": the emulator holds " << fileName << " (" << got.size()
                   << " bytes identical)\n";
    } else {
        report << "tarvexctl " << command << ": the emulator's ROM differs from " << fileName << ":\n";
        char line[96];
        for (std::size_t k = 0; k < shown; ++k) {
            const SDiffRange& r = diff.ranges[k];
            const std::size_t n = std::min<std::size_t>(r.Count(), kShownBytes);
            std::snprintf(line, sizeof line, "  %08x-%08x %8u %-5s", r.nStart, r.nEnd, r.Count(),
                          r.Count() == 1 ? "byte" : "bytes");
            report << line << "  wanted " << HexBytes(wanted.data() + r.nStart, n) << (r.Count() > n ? " ..." : "")
                   << "  got " << HexBytes(got.data() + r.nStart, n) << (r.Count() > n ? " ..." : "") << '\n';
        }
        if (diff.nRanges > shown)
            report << "  ... and " << diff.nRanges - shown << " more ranges\n";
        report << "  " << diff.nBytes << " of " << got.size() << " bytes differ in " << diff.nRanges
               << (diff.nRanges == 1 ? " range\n" : " ranges\n");
    }
    return diff.Identical() ? kExitOk : kExitVerify;
}

int RunWrite(const ArgParser& parser, Io& io)
{
    const std::string& file = OnePositional(parser, "FILE");
    const SLoadChoice choice = LoadChoice(parser);
    if (const auto pair = PairOf(parser))
        return WritePair(*pair, file, choice, parser.Has("verify"), io);

    SEmulator e("write", io, DeviceOf(parser), choice.romSize);
    if (const int code = LoadFile(file, choice, choice.romSize, e.rom.Image(), "write", io); code != kExitOk)
        return code;
    // One claim for the download and its read-back: nothing can come between them.
    const CEmuClaim claim(*e.transport);
    if (!e.rom.Opened(claim))
        return e.Finish(EEmuResult::kNoDevice);
    const EEmuResult result = WithProgress(e.rom, choice.bQuiet, io, [&] { return e.rom.Download(); });
    if (result != EEmuResult::kOk)
        return e.Finish(result, "written", kMixed);
    e.link.Flush();
    if (choice.bVerbose)
        PrintCrc(e.rom.Window(), "write", "written", io);
    if (!parser.Has("verify"))
        return kExitOk;
    return ReadBackAndCompare(e, "write", e.rom.Image().Source(), choice.bQuiet, false, io.err, io);
}

int RunVerify(const ArgParser& parser, Io& io)
{
    const std::string& file = OnePositional(parser, "FILE");
    const SLoadChoice choice = LoadChoice(parser);
    if (const auto pair = PairOf(parser))
        return VerifyPair(*pair, file, choice, parser.Has("json"), io);

    SEmulator e("verify", io, DeviceOf(parser), choice.romSize);
    if (const int code = LoadFile(file, choice, choice.romSize, e.rom.Image(), "verify", io); code != kExitOk)
        return code;
    const bool bJson = parser.Has("json");
    const int code = ReadBackAndCompare(e, "verify", bJson ? file : e.rom.Image().Source(), choice.bQuiet, bJson,
                                        io.out, io);
    if (choice.bVerbose && (code == kExitOk || code == kExitVerify))
        PrintCrc(e.rom.Window(), "verify", "wanted", io);
    return code;
}

int RunRead(const ArgParser& parser, Io& io)
{
    const std::string& out = OnePositional(parser, "OUT");
    const uint32_t romSize = parser.Value("rom") ? RomSizeOfIndex(RomIndex(*parser.Value("rom"))) : kDefaultRomSize;
    const ImageWriteOptions outFormat = OutputFormat(parser.Value("out-format"), out);
    if (const auto pair = PairOf(parser))
        return ReadPair(*pair, out, romSize, outFormat, io);
    std::string error;
    if (!CheckOutput(out, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }

    SEmulator e("read", io, DeviceOf(parser), romSize);
    e.rom.Fill(0);
    const EEmuResult result = WithProgress(e.rom, parser.Has("quiet"), io, [&] { return e.rom.Upload(); });
    if (result != EEmuResult::kOk)
        return e.Finish(result, "read", "nothing was written to OUT");  // a partial image is not written
    e.link.Flush();
    if (!WriteImage(out, e.rom.Window(), outFormat, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }
    if (parser.Has("verbose"))
        PrintCrc(e.rom.Window(), "read", "read", io);
    return kExitOk;
}

int RunRun(const ArgParser& parser, Io& io)
{
    return SingleCommand(parser, io, "run", "the target runs", [](CRomSession& r) { return r.SetRunState(true); });
}

int RunStop(const ArgParser& parser, Io& io)
{
    return SingleCommand(parser, io, "stop", "the target is stopped",
                         [](CRomSession& r) { return r.SetRunState(false); });
}

int RunReset(const ArgParser& parser, Io& io)
{
    return SingleCommand(parser, io, "reset", "the target was reset", [](CRomSession& r) { return r.Reset(); });
}

int RunRom(const ArgParser& parser, Io& io)
{
    const int index = RomIndex(OnePositional(parser, "TYPE"));
    SEmulator e("rom", io, DeviceOf(parser), 0);
    return e.Finish(e.rom.SendRomType(index));
}

int RunAuto(const ArgParser& parser, Io& io)
{
    const std::string& file = OnePositional(parser, "FILE");
    const SLoadChoice choice = LoadChoice(parser);

    SEmulator e("auto", io, DeviceOf(parser), choice.romSize);
    // Loaded once, before the stop: a file that cannot be read or that --strict refuses leaves
    // the emulator untouched, and what is sent is what was checked.
    if (const int code = LoadFile(file, choice, choice.romSize, e.rom.Image(), "auto", io); code != kExitOk)
        return code;
    int verifyExit = kExitOk;
    std::function<bool()> verify;
    if (parser.Has("verify"))
        verify = [&]() {
            verifyExit = ReadBackAndCompare(e, "auto", e.rom.Image().Source(), choice.bQuiet, false, io.err, io);
            return verifyExit == kExitOk;
        };
    const SAutoResult result =
        WithProgress(e.rom, choice.bQuiet, io, [&] { return e.rom.Auto([] { return true; }, {}, {}, verify); });
    if (!result.bChecked)
        return verifyExit;
    if (result.eResult != EEmuResult::kOk)
        return e.Finish(result.eResult, "written", kMixed);
    e.link.Flush();
    if (choice.bVerbose)
        PrintCrc(e.rom.Window(), "auto", "written", io);
    return kExitOk;
}

}  // namespace tarvexctl
