// SPDX-License-Identifier: MIT
// `tarvexctl watch`: keeps the emulator in step with a file that is rebuilt, one changed block at a time.
#include "cli.h"
#include "commands.h"
#include "device.h"
#include "filewatch.h"
#include "toolload.h"
#include "watchreport.h"

#include "image/checksum.h"
#include "image/imageloader.h"
#include "session/watchcycle.h"
#include "emulink/emuprotocol.h"
#include "emulink/usbtransport.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

namespace tarvexctl {

const OptionDef kWatchOptions[] = {
    {"rom", "TYPE"}, {"device", "DEV"}, {"pair", "DEV1,DEV2"}, {"then", "LIST"}, {"json", {}}, {"verify", {}},
    {"keep-going", {}},
};
const std::string_view kWatchHelp =
    "Downloads FILE as 'tarvexctl write' does, then waits for it to change and sends\n"
    "only the 32 KiB blocks whose ROM bytes differ from what was sent last, in\n"
    "ascending order. By default the target is stopped before the blocks and run and\n"
    "reset after them (the Auto order); a change that leaves every block as it was\n"
    "sends nothing at all.\n"
    "\n"
    "Writing in place, writing a new file and renaming it over FILE, and deleting\n"
    "and re-creating FILE are all followed. A close after writing or a rename into\n"
    "place ends a change; writes left open end it after 2 s without another. A FILE\n"
    "that is not complete yet (empty, its last record cut short, Intel HEX or\n"
    "S-record without its end record) is waited for, up to 3 s; then it is reported\n"
    "and nothing is sent. A FILE that cannot be loaded (or that --strict refuses) is\n"
    "reported too: the emulator keeps what it has until the next change. A FILE that\n"
    "is a symbolic link is followed to the file it points to. The folder is watched\n"
    "with inotify; where that is unavailable, or with TARVEXCTL_WATCH_POLL=1 in the\n"
    "environment, FILE's size, modification time and inode are looked at every\n"
    "100 ms instead, and a change ends after 50 ms without another. A folder that\n"
    "goes away (make clean) may take 10 s to come back; then the watch ends.\n"
    "\n"
    "Each cycle prints one line on standard output:\n"
    "  TIME [full] blocks LIST bytes N crc32 XXXXXXXX MS ms\n"
    "LIST is the blocks sent (\"-\" for none; with --pair one list per emulator,\n"
    "\"0,3|-\"), N the data bytes sent, the CRC-32 (as zlib's) covers the ROM window,\n"
    "MS counts from FILE's change to the last transfer. Progress and warnings go to\n"
    "standard error. Ctrl+C or SIGTERM ends the watch after the block being sent,\n"
    "with exit code 0.\n"
    "\n"
    "Options:\n"
    "  --rom TYPE         ROM type the transfers cover: 27C64, 27C128, 27C256,\n"
    "                     27C512, 27C010, 27C020, 27C040, 27C080 or its index 0 to 7\n"
    "                     (default: 27C64)\n"
    TARVEXCTL_LOAD_OPTIONS_TEXT TARVEXCTL_DEVICE_OPTION
        TARVEXCTL_PAIR_OPTION
    "                     and the stop, run and reset commands go to both\n"
    "  --then LIST        commands around the blocks: any of stop, run, reset\n"
    "                     (always sent in that order: stop before the blocks, run\n"
    "                     and reset after), or none\n"
    "  --verify           read the blocks sent back before run and reset and compare\n"
    "                     them\n"
    "  --keep-going       after a failed transfer or a mismatch say so and go on;\n"
    "                     the next change then sends the whole image\n"
    "  -q, --quiet        no notes on what the watch is doing; warnings still appear\n"
    "  -v, --verbose      say which format FILE was read as, and each transform\n"
    "  --json             print each cycle as one JSON object per line:\n"
    "                     {\"time\":\"2026-12-09T12:03:04.123+0000\",\"full\":false,\n"
    "                      \"blocks\":[0,3],\"bytes\":65536,\"crc32\":\"1a2b3c4d\",\"ms\":47}\n"
    "                     (with --pair \"blocks\" holds one list per emulator)\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit codes: 0 stopped by a signal, 2 usage error, 3 FILE's folder cannot be\n"
    "watched or went away, or the first FILE is too large for the default ROM type,\n"
    "4 no emulator, 5 busy or transfer failed, 6 a block read back differs\n"
    "(--verify).\n";

namespace {

// SIGINT and SIGTERM as a descriptor the wait can poll and the block loop can test, so that a
// signal never cuts a block short. The old mask comes back when this goes.
class CStopSignals {
public:
    CStopSignals()
    {
        sigemptyset(&m_set);
        sigaddset(&m_set, SIGINT);
        sigaddset(&m_set, SIGTERM);
        if (::sigprocmask(SIG_BLOCK, &m_set, &m_old) != 0)
            return;
        m_bBlocked = true;
        m_fd = ::signalfd(-1, &m_set, SFD_CLOEXEC | SFD_NONBLOCK);
        if (m_fd < 0) {
            // Without the descriptor the signals would be lost: let them end the program as usual.
            ::sigprocmask(SIG_SETMASK, &m_old, nullptr);
            m_bBlocked = false;
        }
    }
    ~CStopSignals()
    {
        if (m_fd >= 0) {
            // Take the signals that ended the watch, or unblocking would deliver them after all.
            signalfd_siginfo info;
            while (::read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            }
            ::close(m_fd);
        }
        if (m_bBlocked)
            ::sigprocmask(SIG_SETMASK, &m_old, nullptr);
    }
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    int Fd() const { return m_fd; }
    bool Pending() const
    {
        if (m_fd < 0)
            return false;
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

private:
    sigset_t m_set{};
    sigset_t m_old{};
    bool m_bBlocked = false;
    int m_fd = -1;
};

struct SOptions {
    std::string file;
    SLoadChoice choice;
    SThen then;
    bool bJson = false, bVerify = false, bKeepGoing = false, bPair = false;
    std::uint32_t Window() const { return bPair ? 2 * choice.romSize : choice.romSize; }
};

// How long a FILE caught while it is written may take to be complete.
constexpr std::chrono::seconds kCompleteWithin{3};

class CWatch {
public:
    CWatch(const SOptions& options, CToolLink& link, std::vector<SDeviceChoice> devices, Io& io,
           const CStopSignals& stop)
        : m_o(options), m_link(link), m_devices(std::move(devices)), m_io(io), m_stop(stop), m_image(options.choice.fill)
    {
        std::vector<CRomSession*> sides;
        for (const SDeviceChoice& device : m_devices) {
            m_transports.push_back(link.Transport(device));
            m_sessions.push_back(std::make_unique<CRomSession>(link.Sink(), nullptr));
            m_sessions.back()->SetRomSize(m_o.choice.romSize);
            m_sessions.back()->SetTransport(m_transports.back().get());
            sides.push_back(m_sessions.back().get());
        }
        m_cycle = std::make_unique<CWatchCycle>(std::move(sides), m_o.then, m_o.bVerify);
    }

    // Loads FILE for a change first noticed at `firstSign`, waiting (through `files`) while it is
    // not complete. Returns an exit code to end the watch with, or nullopt to go on watching.
    std::optional<int> Change(CFileWatch& files, CFileWatch::Clock::time_point firstSign)
    {
        const auto giveUp = CFileWatch::Clock::now() + kCompleteWithin;
        for (;;) {
            std::ostringstream warnings;
            Io loadIo{m_io.out, warnings};
            const int code =
                LoadFile(m_o.file, m_o.choice, m_o.Window(), m_image, "watch", loadIo, m_o.bPair ? 2 : 1, &m_bComplete);
            if (code == kExitOk && !Complete()) {
                // Caught while it is written: wait for the rest before anything is sent.
                CFileWatch::Clock::time_point again{};
                switch (files.Wait(m_stop.Fd(), again, giveUp)) {
                case CFileWatch::EEvent::kChanged: continue;
                case CFileWatch::EEvent::kStopped: return Stopped();
                case CFileWatch::EEvent::kFolderGone: return FolderGone();
                case CFileWatch::EEvent::kGone:
                case CFileWatch::EEvent::kTimedOut: break;
                }
                m_io.err << warnings.str();
                Warn(m_o.file + " is not complete (" + Incomplete() + ") after " +
                     std::to_string(kCompleteWithin.count()) +
                     " s; nothing was sent, the emulator keeps what it has until the next change");
                return std::nullopt;
            }
            m_io.err << warnings.str();
            if (code != kExitOk) {
                // Without --rom a first FILE too large for the default ends the watch, as write does.
                if (!m_bCycled && TooLargeForDefault())
                    return kExitFile;
                Warn("the emulator keeps what it has until the next change");
                return std::nullopt;
            }
            return Cycle(firstSign);
        }
    }

    std::optional<int> Stopped()
    {
        Note("stopped");
        return kExitOk;
    }

    std::optional<int> FolderGone()
    {
        Warn("the folder of " + m_o.file + " went away and did not come back; the watch ends");
        return kExitFile;
    }

    void Warn(const std::string& text) { m_io.err << "tarvexctl watch: " << text << std::endl; }
    // What the watch is doing, left out with --quiet.
    void Note(const std::string& text)
    {
        if (!m_o.choice.bQuiet)
            Warn(text);
    }

private:
    bool Complete() const { return m_bComplete; }

    std::string Incomplete() const
    {
        if (m_image.BytesRead() == 0 && m_image.Format() == ImageFormat::Binary)
            return "it is empty";
        if (m_image.Diagnostics().Has(LoadWarningKind::NoEndRecord))
            return "no end record";
        return "its last record is cut short";
    }

    bool TooLargeForDefault() const { return !m_o.choice.bRomGiven && m_image.BytesRead() > m_o.Window(); }

    std::optional<int> Cycle(CFileWatch::Clock::time_point firstSign)
    {
        const SCycleResult r = m_cycle->Run(m_image, [this] { return m_stop.Pending(); });
        if (r.bInterrupted) {
            m_link.Flush();
            Warn("stopped with " + std::to_string(r.nSent) + " of " + std::to_string(r.blocks[r.nSide].size()) +
                 " changed blocks sent to emulator " + m_devices[r.nSide].sText +
                 "; it holds part of the new image and was not run");
            return kExitOk;
        }
        if (r.eResult != EEmuResult::kOk) {
            m_link.Flush();
            if (r.bInBlocks)
                Warn(std::to_string(r.nSent) + " of " + std::to_string(r.blocks[r.nSide].size()) +
                     " changed blocks reached emulator " + m_devices[r.nSide].sText + " before the failure");
            const int code = ExitOf(r.eResult, m_sessions[r.nSide < 0 ? 0 : r.nSide]->LastReport());
            return GoOnOr(code);
        }
        if (!r.bSame) {
            m_link.Flush();
            Warn("block read back differs: " + r.mismatch);
            return GoOnOr(kExitVerify);
        }
        m_link.Flush();
        m_bCycled = true;
        SCycleReport report;
        report.bFull = r.bFull;
        for (const auto& side : r.blocks) {
            report.blocks.push_back(side);
            report.nBytes += side.size() * kDataBlockSize;
        }
        report.when = std::chrono::system_clock::now();
        report.nMillis = std::chrono::duration_cast<std::chrono::milliseconds>(CFileWatch::Clock::now() - firstSign).count();
        report.nCrc = ::Crc32(m_image.Window(m_o.Window()));
        m_io.out << (m_o.bJson ? FormatCycleJson(report) : FormatCycleText(report)) << std::endl;
        return std::nullopt;
    }

    // After a failed cycle: the end of the watch, or with --keep-going a whole download next time.
    std::optional<int> GoOnOr(int code)
    {
        if (!m_o.bKeepGoing)
            return code;
        Warn("going on (--keep-going); the next change sends the whole image");
        return std::nullopt;
    }

    const SOptions& m_o;
    CToolLink& m_link;
    std::vector<SDeviceChoice> m_devices;
    Io& m_io;
    const CStopSignals& m_stop;
    std::vector<std::unique_ptr<CUsbTransport>> m_transports;
    std::vector<std::unique_ptr<CRomSession>> m_sessions;
    std::unique_ptr<CWatchCycle> m_cycle;
    CRomImage m_image;
    bool m_bComplete = true;
    bool m_bCycled = false;  // a cycle went through
};

bool ForcePolling()
{
    const char* poll = std::getenv("TARVEXCTL_WATCH_POLL");
    return poll != nullptr && *poll != '\0' && std::strcmp(poll, "0") != 0;
}

}  // namespace

int RunWatch(const ArgParser& parser, Io& io)
{
    if (parser.Positional().size() != 1)
        throw UsageError(parser.Positional().empty() ? "missing FILE" : "more than one FILE given");
    SOptions o;
    o.file = parser.Positional().front();
    if (o.file == "-")
        throw UsageError("standard input cannot be watched; name a file");
    o.choice = LoadChoice(parser);
    o.then = ParseThen(parser.Value("then"));
    o.bJson = parser.Has("json");
    o.bVerify = parser.Has("verify");
    o.bKeepGoing = parser.Has("keep-going");
    std::vector<SDeviceChoice> devices;
    if (const auto pair = PairOf(parser)) {
        CheckPairSize(o.choice.romSize);
        o.bPair = true;
        devices = {pair->first, pair->second};
    } else {
        devices = {DeviceOf(parser)};
    }

    struct stat st {};
    if (::stat(o.file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        io.err << "tarvexctl watch: " << o.file << " is a folder; watch a file in it\n";
        return kExitFile;
    }
    const std::size_t slash = o.file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : o.file.substr(0, slash);
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        io.err << "tarvexctl watch: cannot watch " << o.file << ": the folder " << folder << " does not exist\n";
        return kExitFile;
    }

    // Before the USB links exist: threads they start inherit the blocked signals, so that none of
    // them takes a signal meant for the descriptor.
    const CStopSignals stop;
    CToolLink link("watch", io);
    CWatch watch(o, link, std::move(devices), io, stop);
    // Watching starts before the first download, so that a change during it is not missed.
    CFileWatch files(o.file, ForcePolling(), {}, [&](const std::string& note) { watch.Warn(note); });
    watch.Note("watching " + o.file + (files.Mode() == CFileWatch::EMode::kInotify ? "" : " by polling"));
    if (const std::optional<int> end = watch.Change(files, CFileWatch::Clock::now()))
        return *end;
    for (;;) {
        CFileWatch::Clock::time_point firstSign{};
        switch (files.Wait(stop.Fd(), firstSign)) {
        case CFileWatch::EEvent::kStopped:
        case CFileWatch::EEvent::kTimedOut:
            return *watch.Stopped();
        case CFileWatch::EEvent::kFolderGone:
            return *watch.FolderGone();
        case CFileWatch::EEvent::kGone:
            watch.Warn(o.file + " is gone; waiting for it to come back");
            break;
        case CFileWatch::EEvent::kChanged:
            if (const std::optional<int> end = watch.Change(files, firstSign))
                return *end;
            break;
        }
    }
}

}  // namespace tarvexctl
