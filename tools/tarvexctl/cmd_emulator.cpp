// tarvexctl's emulator commands: find, write, read, run, stop, reset, rom and auto.
#include "cli.h"
#include "commands.h"
#include "device.h"

#include "buffer/imageloader.h"
#include "buffer/romsession.h"
#include "emulink/emuprotocol.h"
#include "emulink/findemulators.h"
#include "emulink/usbtransport.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

namespace tarvexctl {

#define TARVEXCTL_EMU_OPTIONS                                                                      \
    "  --rom TYPE         ROM type the transfers cover: 27C64, 27C128, 27C256, 27C512, 27C010,\n"  \
    "                     27C020, 27C040, 27C080 or its index 0 to 7 (default: 27C64)\n"
#define TARVEXCTL_LOAD_OPTIONS                                                                     \
    "  --format ihex|bin  file format (default: ihex)\n"                                           \
    "  --fill HH          fill byte, one or two hex digits (default: 00)\n"
#define TARVEXCTL_EMU_FOOTER                                                                       \
    TARVEXCTL_DEVICE_OPTION                                                                        \
    "  -h, --help         show this help\n"                                                        \
    "\n"                                                                                           \
    "See 'tarvexctl find' for the emulators attached. USB ids: TARVEX_USB_IDS.\n"

const std::string_view kFindHelp =
    "Usage: tarvexctl find\n"
    "\n"
    "Probes emulator instances 0 to 3 and prints one line \"Emulator-N\" for each that opens.\n"
    "\n"
    "Exit codes: 0 at least one found, 4 none found.\n";

const std::string_view kWriteHelp =
    "Usage: tarvexctl write FILE [--rom TYPE] [--format ihex|bin] [--fill HH] [--device DEV | --pair DEV1,DEV2]\n"
    "\n"
    "Loads FILE as 'tarvexctl load' does and downloads the image to the emulator in 32 KiB\n"
    "blocks, as many as cover the ROM type (the 8 KiB 27C64 still takes one whole block).\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS TARVEXCTL_LOAD_OPTIONS TARVEXCTL_PAIR_OPTION TARVEXCTL_EMU_FOOTER
    "\nExit codes: 0 success, 2 usage error, 3 FILE cannot be read, 4 no emulator, 5 transfer failed.\n";

const std::string_view kReadHelp =
    "Usage: tarvexctl read OUT.bin [--rom TYPE] [--device DEV | --pair DEV1,DEV2]\n"
    "\n"
    "Uploads the ROM from the emulator and writes its bytes (the ROM type's size) to OUT.bin.\n"
    "OUT.bin is written only when every block arrived. With --pair, OUT.bin gets both ROMs\n"
    "interleaved, twice the ROM type's size: DEV1's bytes at even offsets, DEV2's at odd ones.\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS TARVEXCTL_PAIR_OPTION TARVEXCTL_EMU_FOOTER
    "\nExit codes: 0 success, 2 usage error, 3 OUT.bin cannot be written, 4 no emulator,\n"
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
    "Usage: tarvexctl auto FILE [--rom TYPE] [--format ihex|bin] [--fill HH] [--device DEV]\n"
    "\n"
    "Stop, load FILE, download, run, reset: the Auto button's sequence. A FILE that cannot be\n"
    "read ends it after the stop command. A transfer that fails skips the transfers after it;\n"
    "FILE is still read.\n"
    "\n"
    "Options:\n" TARVEXCTL_EMU_OPTIONS TARVEXCTL_LOAD_OPTIONS TARVEXCTL_EMU_FOOTER
    "\nExit codes: 0 success, 2 usage error, 3 FILE cannot be read, 4 no emulator, 5 transfer failed.\n";

namespace {

// Messages of the emulator link, each distinct text printed once with its count.
class CStderrSink : public CMessageSink {
public:
    void ShowMessage(void*, const std::string& text) override
    {
        for (auto& [t, n] : m_messages)
            if (t == text) {
                ++n;
                return;
            }
        m_messages.emplace_back(text, 1);
    }
    void Print(std::string_view command, std::ostream& err) const
    {
        for (const auto& [text, n] : m_messages) {
            err << "tarvexctl " << command << ": " << text;
            if (n > 1)
                err << " (" << n << " times)";
            err << '\n';
        }
    }

private:
    std::vector<std::pair<std::string, int>> m_messages;
};

// A text bar on standard error when that is a terminal.
class CProgressBar {
public:
    explicit CProgressBar(std::ostream& err) : m_err(err), m_bEnabled(::isatty(STDERR_FILENO) == 1) {}
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

int ExitOf(EEmuResult result)
{
    switch (result) {
    case EEmuResult::kOk: return kExitOk;
    case EEmuResult::kNoDevice: return kExitNoEmulator;
    case EEmuResult::kTransferFailed: return kExitTransfer;
    }
    return kExitTransfer;
}

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
    CStderrSink sink;
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

int RunFind(const std::vector<std::string>& args, Io& io)
{
    NoPositional(ArgParser(args, {}));
    CStderrSink sink;
    CUsbTransport transport(sink);
    const std::vector<int> found = FindEmulators(transport);
    if (found.empty()) {
        io.err << kMsgNoDriver << '\n';
        return kExitNoEmulator;
    }
    for (int i : found)
        io.out << "Emulator-" << i << '\n';
    return kExitOk;
}

int RunWrite(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"rom", true}, {"format", true}, {"fill", true}, {"device", true}, {"pair", true}});
    const std::string& file = OnePositional(parser, "FILE");
    const uint32_t romSize = RomSize(parser);
    const int format = ParseFormat(parser.Value("format"));
    const uint8_t fill = ParseFill(parser.Value("fill"));
    if (const auto pair = PairOf(parser))
        return WritePair(*pair, file, romSize, format, fill, io);

    SSession s(romSize, DeviceOf(parser));
    const ImageLoadResult loaded = s.rom.Load(file, format, fill);
    if (!loaded.ok) {
        io.err << "tarvexctl write: " << loaded.message << '\n';
        return kExitFile;
    }
    SDownloadResult result;
    {
        CProgressBar bar(io.err);
        s.rom.SetProgress(std::ref(bar));
        result = s.rom.Download(FormatBytesRead(loaded.bytesRead), nullptr);
        s.rom.SetProgress(nullptr);
    }
    s.sink.Print("write", io.err);
    return ExitOf(result.eResult);
}

int RunRead(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"rom", true}, {"device", true}, {"pair", true}});
    const std::string& out = OnePositional(parser, "OUT.bin");
    const uint32_t romSize = RomSize(parser);
    if (const auto pair = PairOf(parser))
        return ReadPair(*pair, out, romSize, io);

    SSession s(romSize, DeviceOf(parser));
    s.rom.Fill(0);
    EEmuResult result;
    {
        CProgressBar bar(io.err);
        s.rom.SetProgress(std::ref(bar));
        result = s.rom.Upload();
        s.rom.SetProgress(nullptr);
    }
    s.sink.Print("read", io.err);
    if (result != EEmuResult::kOk)
        return ExitOf(result);  // a partial image is not written
    std::string error;
    if (!WriteFileAtomically(out, {s.rom.Buffer(), romSize}, error)) {
        io.err << "tarvexctl read: " << error << '\n';
        return kExitFile;
    }
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
    const ArgParser parser(args, {{"rom", true}, {"format", true}, {"fill", true}, {"device", true}});
    const std::string& file = OnePositional(parser, "FILE");
    const uint32_t romSize = RomSize(parser);
    const int format = ParseFormat(parser.Value("format"));
    const uint8_t fill = ParseFill(parser.Value("fill"));

    SSession s(romSize, DeviceOf(parser));
    std::string loadError;
    auto load = [&]() -> std::optional<std::string> {
        const ImageLoadResult loaded = s.rom.Load(file, format, fill);
        if (!loaded.ok) {
            loadError = loaded.message;
            return std::nullopt;
        }
        return FormatBytesRead(loaded.bytesRead);
    };
    SAutoResult result;
    {
        CProgressBar bar(io.err);
        s.rom.SetProgress(std::ref(bar));
        result = s.rom.Auto(load, nullptr);
        s.rom.SetProgress(nullptr);
    }
    s.sink.Print("auto", io.err);
    if (!loadError.empty()) {
        io.err << "tarvexctl auto: " << loadError << '\n';
        return kExitFile;
    }
    return ExitOf(result.eResult);
}

}  // namespace tarvexctl
