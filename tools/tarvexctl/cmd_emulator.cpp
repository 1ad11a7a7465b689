// SPDX-License-Identifier: MIT
// tarvexctl's emulator commands: write, read, verify, run, stop, reset, rom and auto.
#include "cli.h"
#include "commands.h"
#include "device.h"
#include "streams.h"
#include "toolload.h"

#include "image/checksum.h"
#include "image/imagediff.h"
#include "image/imageloader.h"
#include "session/romsession.h"
#include "emulink/emuprotocol.h"
#include "emulink/usbtransport.h"
#include "util/fileutil.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <sstream>

namespace tarvexctl {

#define TARVEXCTL_EMU_OPTIONS                                                                      \
    "  --rom TYPE         ROM type the transfers cover: 27C64, 27C128, 27C256, 27C512, 27C010,\n"  \
    "                     27C020, 27C040, 27C080 or its index 0 to 7 (default: 27C64)\n"
#define TARVEXCTL_LOAD_OPTIONS TARVEXCTL_LOAD_OPTIONS_TEXT
#define TARVEXCTL_VERIFY_OPTION                                                                    \
    "  --verify           read the ROM back after the download and compare (exit 6 if it differs)\n"
#define TARVEXCTL_EMU_FOOTER                                                                       \
    "  -q, --quiet        no warnings, no progress bar\n"                                          \
    "  -v, --verbose      say which format FILE was read as, and the CRC-32 of the ROM\n"          \
    TARVEXCTL_DEVICE_OPTION                                                                        \
    "  -h, --help         show this help\n"                                                        \
    "\n"                                                                                           \
    "See 'tarvexctl find' for the emulators attached. USB ids: TARVEX_USB_IDS.\n"

const std::string_view kWriteHelp =
    "Usage: tarvexctl write FILE [--rom TYPE] [--format FORMAT] [--fill HH] [--verify]\n"
    "                            [--device DEV | --pair DEV1,DEV2]\n"
    "\n"
    "Loads FILE as 'tarvexctl load' does and downloads the image to the emulator in 32 KiB\n"
    "blocks, as many as cover the ROM type (the 8 KiB 27C64 still takes one whole block).\n"
    "FILE - is standard input.\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS TARVEXCTL_LOAD_OPTIONS TARVEXCTL_VERIFY_OPTION TARVEXCTL_PAIR_OPTION
        TARVEXCTL_EMU_FOOTER
    "\nExit codes: 0 success, 2 usage error, 3 FILE cannot be read, 4 no emulator, 5 transfer failed,\n"
    "6 the read-back differs (--verify).\n";

const std::string_view kVerifyHelp =
    "Usage: tarvexctl verify FILE [--rom TYPE] [--format FORMAT] [--fill HH] [--json]\n"
    "                             [--device DEV | --pair DEV1,DEV2]\n"
    "\n"
    "Loads FILE as 'tarvexctl write' would, reads back the 32 KiB blocks that cover the ROM type\n"
    "and compares the ROM type's size of bytes. Prints each range of differing bytes (first and\n"
    "last address, count, the first bytes wanted and got), at most 20, then the totals.\n"
    "FILE - is standard input.\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS TARVEXCTL_LOAD_OPTIONS
    "  --json             print the result as one JSON object\n" TARVEXCTL_PAIR_OPTION TARVEXCTL_EMU_FOOTER
    "\nExit codes: 0 identical, 2 usage error, 3 FILE cannot be read, 4 no emulator, 5 transfer failed,\n"
    "6 the emulator's ROM differs from FILE.\n";

const std::string_view kReadHelp =
    "Usage: tarvexctl read OUT [--rom TYPE] [--out-format ihex|srec|bin] [--device DEV | --pair DEV1,DEV2]\n"
    "\n"
    "Uploads the ROM from the emulator and writes its bytes (the ROM type's size, from address\n"
    "0) to OUT. OUT is written only when every block arrived; OUT - is standard output. An OUT\n"
    "that cannot be written fails before any transfer.\n"
    "\n"
    "With --pair, OUT gets both ROMs interleaved, twice the ROM type's size: DEV1's bytes at\n"
    "even offsets, DEV2's at odd ones.\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS
    "  --out-format ihex|srec|bin\n"
    "                     OUT's format; default: by its extension (.hex/.ihx Intel HEX,\n"
    "                     .s19/.s28/.s37/.srec/.mot S-record, anything else binary)\n" TARVEXCTL_PAIR_OPTION
        TARVEXCTL_EMU_FOOTER
    "\nExit codes: 0 success, 2 usage error, 3 OUT cannot be written, 4 no emulator,\n"
    "5 transfer failed.\n";

const std::string_view kRunHelp =
    "Usage: tarvexctl run [--device DEV]\n\nTells the emulator to run the target.\n\nOptions:\n" TARVEXCTL_DEVICE_OPTION "\n"
    "Exit codes: 0 success, 2 usage error, 4 no emulator, 5 transfer failed.\n";
const std::string_view kStopHelp =
    "Usage: tarvexctl stop [--device DEV]\n\nTells the emulator to stop the target.\n\nOptions:\n" TARVEXCTL_DEVICE_OPTION "\n"
    "Exit codes: 0 success, 2 usage error, 4 no emulator, 5 transfer failed.\n";
const std::string_view kResetHelp =
    "Usage: tarvexctl reset [--device DEV]\n\nTells the emulator to reset the target.\n\nOptions:\n" TARVEXCTL_DEVICE_OPTION "\n"
    "Exit codes: 0 success, 2 usage error, 4 no emulator, 5 transfer failed.\n";

const std::string_view kRomHelp =
    "Usage: tarvexctl rom TYPE [--device DEV]\n"
    "\n"
    "Sends the ROM size of TYPE (27C64 ... 27C080, or its index 0 to 7) to the emulator.\n"
    "\n"
    "Options:\n" TARVEXCTL_DEVICE_OPTION "\n"
    "Exit codes: 0 success, 2 usage error, 4 no emulator, 5 transfer failed.\n";

const std::string_view kAutoHelp =
    "Usage: tarvexctl auto FILE [--rom TYPE] [--format FORMAT] [--fill HH] [--verify] [--device DEV]\n"
    "\n"
    "Stop, load FILE, download, run, reset: the Auto button's sequence. A FILE that cannot be\n"
    "read ends it after the stop command. A transfer that fails skips the transfers after it;\n"
    "FILE is still read. With --verify the ROM is read back after the download, and run and\n"
    "reset are sent only when it matches.\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS TARVEXCTL_LOAD_OPTIONS TARVEXCTL_VERIFY_OPTION TARVEXCTL_EMU_FOOTER
    "\nExit codes: 0 success, 2 usage error, 3 FILE cannot be read, 4 no emulator, 5 transfer failed,\n"
    "6 the read-back differs (--verify).\n";

namespace {


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

// The emulator link and the ROM session over it, with the messages printed after the command.
struct SSession {
    SSession(uint32_t romSize, const std::string& device) : transport(OpenTransport(sink, device))
    {
        rom.SetRomSize(romSize);
        rom.SetTransport(transport.get());
    }
    CLinkMessages sink;
    std::unique_ptr<CUsbTransport> transport;
    // Nothing edits the image here, so a download takes nothing back: the image is the editor's copy.
    CRomSession rom{sink, nullptr};
};

int SingleCommand(const std::vector<std::string>& args, Io& io, std::string_view name,
                  EEmuResult (*send)(CRomSession&))
{
    const ArgParser parser(args, {{"device", true}});
    NoPositional(parser);
    SSession s(0, DeviceOf(parser));
    const EEmuResult result = send(s.rom);
    s.sink.Print(name, io.err);
    return ExitOf(result);
}

}  // namespace

namespace {

constexpr std::size_t kShownRanges = 20;

// After a transfer failed inside a download or an upload: how far it got.
void PrintBlocks(const CRomSession& rom, const char* done, Io& io)
{
    const SOperationReport& report = rom.LastReport();
    if (!report.failure.Ok() && report.nBlocks > 0)
        io.err << report.nBlocksDone << " of " << report.nBlocks << " blocks were " << done << '\n';
}
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

// Reads back the ROM and compares it with `wanted`; the result goes to `report` as text or JSON.
// Returns the exit code: 0 identical, 6 different, the transfer's code when the read failed.
int ReadBackAndCompare(SSession& s, const std::vector<uint8_t>& wanted, std::string_view command,
                       const std::string& fileName, bool bQuiet, bool bJson, std::ostream& report, Io& io)
{
    EEmuResult result;
    {
        CProgressBar bar(io.err, bQuiet);
        s.rom.SetProgress(std::ref(bar));
        result = s.rom.Upload();
        s.rom.SetProgress(nullptr);
    }
    s.sink.Print(command, io.err);
    if (result == EEmuResult::kTransferFailed)
        PrintBlocks(s.rom, "read", io);
    if (result != EEmuResult::kOk)
        return ExitOf(result);
    return ReportComparison(wanted, {s.rom.Buffer(), s.rom.RomSize()}, command, fileName, bQuiet, bJson, report);
}

}  // namespace

int ReportComparison(std::span<const uint8_t> wanted, std::span<const uint8_t> got, std::string_view command,
                     const std::string& fileName, bool bQuiet, bool bJson, std::ostream& report)
{
    const SImageDiff diff = CompareImages(wanted, got, kShownRanges);
    if (bJson) {
        report << "{\"command\":" << JsonString(command) << ",\"file\":" << JsonString(fileName)
               << ",\"rom_size\":" << got.size() << ",\"identical\":" << (diff.Identical() ? "true" : "false")
               << ",\"differing_bytes\":" << diff.nBytes << ",\"differing_ranges\":" << diff.nRanges << ",\"ranges\":[";
        for (std::size_t k = 0; k < diff.ranges.size(); ++k) {
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
        for (const SDiffRange& r : diff.ranges) {
            const std::size_t n = std::min<std::size_t>(r.Count(), kShownBytes);
            std::snprintf(line, sizeof line, "  %08x-%08x %8u %-5s", r.nStart, r.nEnd, r.Count(),
                          r.Count() == 1 ? "byte" : "bytes");
            report << line << "  wanted " << HexBytes(wanted.data() + r.nStart, n) << (r.Count() > n ? " ..." : "")
                   << "  got " << HexBytes(got.data() + r.nStart, n) << (r.Count() > n ? " ..." : "") << '\n';
        }
        if (diff.nRanges > diff.ranges.size())
            report << "  ... and " << diff.nRanges - diff.ranges.size() << " more ranges\n";
        report << "  " << diff.nBytes << " of " << got.size() << " bytes differ in " << diff.nRanges
               << (diff.nRanges == 1 ? " range\n" : " ranges\n");
    }
    return diff.Identical() ? kExitOk : kExitVerify;
}

namespace {

std::vector<uint8_t> RomWindow(const SSession& s)
{
    return std::vector<uint8_t>(s.rom.Buffer(), s.rom.Buffer() + s.rom.RomSize());
}

}  // namespace

// The CRC-32 of the ROM window, as -v prints it after a transfer.
void PrintCrc(const SSession& s, std::string_view command, const char* what, Io& io)
{
    char text[96];
    std::snprintf(text, sizeof text, "CRC-32 %08x of the %u bytes %s", Crc32({s.rom.Buffer(), s.rom.RomSize()}),
                  s.rom.RomSize(), what);
    io.err << "tarvexctl " << command << ": " << text << '\n';
}

int RunWrite(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"rom", true}, {"format", true}, {"fill", true}, {"strict", false},
                                  {"verify", false}, {"quiet", false, 'q'}, {"verbose", false, 'v'},
                                  {"device", true}, {"pair", true}});
    const std::string& file = OnePositional(parser, "FILE");
    const uint32_t romSize = RomSize(parser);
    const SLoadChoice choice = LoadChoice(parser);
    if (const auto pair = PairOf(parser))
        return WritePair(*pair, file, romSize, choice, parser.Has("verify"), io);

    SSession s(romSize, DeviceOf(parser));
    SLoaded loaded;
    if (const int code = LoadFile(file, choice, romSize, s.rom.Image(), "write", io, loaded); code != kExitOk)
        return code;
    SDownloadResult result;
    {
        CProgressBar bar(io.err, choice.bQuiet);
        s.rom.SetProgress(std::ref(bar));
        result = s.rom.Download(FormatBytesRead(loaded.result.bytesRead), nullptr);
        s.rom.SetProgress(nullptr);
    }
    s.sink.Print("write", io.err);
    if (result.eResult == EEmuResult::kTransferFailed)
        PrintBlocks(s.rom, "written", io);
    if (result.eResult != EEmuResult::kOk)
        return ExitOf(result.eResult);
    if (choice.bVerbose)
        PrintCrc(s, "write", "written", io);
    if (!parser.Has("verify"))
        return kExitOk;
    return ReadBackAndCompare(s, RomWindow(s), "write", loaded.Name(), choice.bQuiet, false, io.err, io);
}

int RunVerify(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"rom", true}, {"format", true}, {"fill", true}, {"strict", false},
                                  {"json", false}, {"quiet", false, 'q'}, {"verbose", false, 'v'},
                                  {"device", true}, {"pair", true}});
    const std::string& file = OnePositional(parser, "FILE");
    const uint32_t romSize = RomSize(parser);
    const SLoadChoice choice = LoadChoice(parser);
    if (const auto pair = PairOf(parser))
        return VerifyPair(*pair, file, romSize, choice, parser.Has("json"), io);

    SSession s(romSize, DeviceOf(parser));
    SLoaded loaded;
    if (const int code = LoadFile(file, choice, romSize, s.rom.Image(), "verify", io, loaded); code != kExitOk)
        return code;
    const int code = ReadBackAndCompare(s, RomWindow(s), "verify", parser.Has("json") ? file : loaded.Name(),
                                        choice.bQuiet, parser.Has("json"), io.out, io);
    if (choice.bVerbose && (code == kExitOk || code == kExitVerify))
        PrintCrc(s, "verify", "read back", io);
    return code;
}

int RunRead(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"rom", true}, {"out-format", true}, {"quiet", false, 'q'}, {"verbose", false, 'v'},
                                  {"device", true}, {"pair", true}});
    const std::string& out = OnePositional(parser, "OUT");
    const uint32_t romSize = RomSize(parser);
    const ImageWriteOptions outFormat = OutputFormat(parser.Value("out-format"), out);
    if (const auto pair = PairOf(parser))
        return ReadPair(*pair, out, romSize, outFormat, io);
    std::string error;
    if (!CheckOutput(out, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }

    SSession s(romSize, DeviceOf(parser));
    s.rom.Fill(0);
    EEmuResult result;
    {
        CProgressBar bar(io.err, parser.Has("quiet"));
        s.rom.SetProgress(std::ref(bar));
        result = s.rom.Upload();
        s.rom.SetProgress(nullptr);
    }
    s.sink.Print("read", io.err);
    if (result == EEmuResult::kTransferFailed)
        PrintBlocks(s.rom, "read", io);
    if (result != EEmuResult::kOk)
        return ExitOf(result);  // a partial image is not written
    if (!WriteImage(out, {s.rom.Buffer(), romSize}, outFormat, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }
    if (parser.Has("verbose"))
        PrintCrc(s, "read", "read", io);
    return kExitOk;
}

int RunRun(const std::vector<std::string>& args, Io& io)
{
    return SingleCommand(args, io, "run", [](CRomSession& r) { return r.SetRunState(true); });
}

int RunStop(const std::vector<std::string>& args, Io& io)
{
    return SingleCommand(args, io, "stop", [](CRomSession& r) { return r.SetRunState(false); });
}

int RunReset(const std::vector<std::string>& args, Io& io)
{
    return SingleCommand(args, io, "reset", [](CRomSession& r) { return r.Reset(); });
}

int RunRom(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"device", true}});
    const int index = RomIndex(OnePositional(parser, "TYPE"));
    SSession s(0, DeviceOf(parser));
    const EEmuResult result = s.rom.SendRomType(index);
    s.sink.Print("rom", io.err);
    return ExitOf(result);
}

int RunAuto(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"rom", true}, {"format", true}, {"fill", true}, {"strict", false},
                                  {"verify", false}, {"quiet", false, 'q'}, {"verbose", false, 'v'},
                                  {"device", true}});
    const std::string& file = OnePositional(parser, "FILE");
    const uint32_t romSize = RomSize(parser);
    const SLoadChoice choice = LoadChoice(parser);

    SSession s(romSize, DeviceOf(parser));
    SLoaded loaded;
    // --strict must refuse the file before the stop command goes out, so the file is checked
    // first; without it the file is read after the stop, as the Auto button does.
    if (choice.bStrict) {
        SLoaded check;
        std::ostringstream err;
        Io checkIo{io.out, err};
        if (LoadFile(file, choice, romSize, s.rom.Image(), "auto", checkIo, check) == kExitFile &&
            check.result.ok) {
            io.err << err.str();
            return kExitFile;
        }
    }
    std::string loadError;
    auto load = [&]() -> std::optional<std::string> {
        std::ostringstream err;
        Io loadIo{io.out, err};
        const int code = LoadFile(file, choice, romSize, s.rom.Image(), "auto", loadIo, loaded);
        io.err << (code == kExitOk ? err.str() : "");
        if (code != kExitOk) {
            loadError = err.str();
            return std::nullopt;
        }
        return FormatBytesRead(loaded.result.bytesRead);
    };
    int verifyExit = kExitOk;
    std::function<bool()> verify;
    if (parser.Has("verify"))
        verify = [&]() {
            verifyExit = ReadBackAndCompare(s, RomWindow(s), "auto", loaded.Name(), choice.bQuiet, false, io.err, io);
            return verifyExit == kExitOk;
        };
    SAutoResult result;
    {
        CProgressBar bar(io.err, choice.bQuiet);
        s.rom.SetProgress(std::ref(bar));
        result = s.rom.Auto(load, nullptr, verify);
        s.rom.SetProgress(nullptr);
    }
    s.sink.Print("auto", io.err);
    if (result.eResult == EEmuResult::kTransferFailed && result.nBlocks > 0 && result.nBlocksWritten < result.nBlocks &&
        verifyExit == kExitOk)
        io.err << result.nBlocksWritten << " of " << result.nBlocks << " blocks were written\n";
    if (!loadError.empty()) {
        io.err << loadError;
        return kExitFile;
    }
    if (result.eResult == EEmuResult::kOk && verifyExit != kExitOk)
        return verifyExit;
    if (result.eResult == EEmuResult::kOk && choice.bVerbose)
        PrintCrc(s, "auto", "written", io);
    return ExitOf(result.eResult);
}

}  // namespace tarvexctl
