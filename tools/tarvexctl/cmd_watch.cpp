// SPDX-License-Identifier: MIT
// `tarvexctl watch`: keeps the emulator in step with a file that is rebuilt, one changed block at a time.
#include "cli.h"
#include "commands.h"
#include "device.h"
#include "filewatch.h"
#include "toolload.h"
#include "watchcycle.h"

#include "image/checksum.h"
#include "image/imageloader.h"
#include "session/romsession.h"
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

namespace tarvexctl {

const std::string_view kWatchHelp =
    "Usage: tarvexctl watch FILE [--rom TYPE] [--format FORMAT] [--fill HH] [--strict]\n"
    "                       [--device DEV | --pair DEV1,DEV2] [--then stop,run,reset | --then none]\n"
    "                       [--verify] [--keep-going] [--json] [-q] [-v]\n"
    "\n"
    "Downloads FILE as 'tarvexctl write' does, then waits for it to change and sends only the\n"
    "32 KiB blocks whose ROM bytes differ from what was sent last, in ascending order. By default\n"
    "the target is stopped before the blocks and run and reset after them (the Auto order); a\n"
    "change that leaves every block as it was sends nothing at all.\n"
    "\n"
    "Writing in place, writing a new file and renaming it over FILE, and deleting and re-creating\n"
    "FILE are all followed. A rename or a close after writing starts the cycle at once; other\n"
    "writes once FILE has been quiet for 50 ms. A FILE that cannot be loaded (or that --strict\n"
    "refuses) is reported and the emulator keeps what it has until the next change. A FILE that is a symbolic link is followed\n"
    "to the file it points to. The folder is watched with inotify; where that is unavailable, or\n"
    "with TARVEXCTL_WATCH_POLL=1 in the environment, FILE's size, modification time and inode\n"
    "are looked at every 100 ms instead.\n"
    "\n"
    "Each cycle prints one line on standard output:\n"
    "  TIME [full] blocks LIST bytes N crc32 XXXXXXXX MS ms\n"
    "LIST is the blocks sent (\"-\" for none; with --pair one list per emulator, \"0,3|-\"), N the\n"
    "data bytes sent, the CRC-32 (as zlib's) covers the ROM window, MS counts from FILE's change\n"
    "to the last transfer. Progress and warnings go to standard error. Ctrl+C or SIGTERM ends the\n"
    "watch after the block being sent, with exit code 0.\n"
    "\n"
    "Options:\n"
    "  --rom TYPE         ROM type the transfers cover: 27C64, 27C128, 27C256, 27C512, 27C010,\n"
    "                     27C020, 27C040, 27C080 or its index 0 to 7 (default: 27C64)\n"
    TARVEXCTL_LOAD_OPTIONS_TEXT TARVEXCTL_DEVICE_OPTION
        TARVEXCTL_PAIR_OPTION
    "                     and the stop, run and reset commands go to both\n"
    "  --then LIST        commands around the blocks: any of stop, run, reset (always sent in\n"
    "                     that order: stop before the blocks, run and reset after), or none\n"
    "  --verify           read the blocks sent back before run and reset and compare them\n"
    "  --keep-going       after a failed transfer or a mismatch say so and go on; the next\n"
    "                     change then sends the whole image\n"
    "  -q, --quiet        no notes on what the watch is doing; warnings still appear\n"
    "  --json             print each cycle as one JSON object per line:\n"
    "                     {\"time\":\"2026-12-09T12:03:04.123+0000\",\"full\":false,\"blocks\":[0,3],\n"
    "                      \"bytes\":65536,\"crc32\":\"1a2b3c4d\",\"ms\":47}\n"
    "                     (with --pair \"blocks\" holds one list per emulator)\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit codes: 0 stopped by a signal, 2 usage error, 3 FILE's folder cannot be watched,\n"
    "4 no emulator, 5 transfer failed, 6 a block read back differs (--verify).\n";

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

// One emulator of the watch: its link, the image it is to hold, and what it was last sent.
struct SSide {
    SSide(CLinkMessages& s, std::string dev, std::unique_ptr<CUsbTransport> t, uint32_t romSize)
        : device(std::move(dev)), transport(std::move(t)), rom(s, nullptr), sent(kRomImageSize)
    {
        rom.SetRomSize(romSize);
        rom.SetTransport(transport.get());
    }
    std::string device;
    std::unique_ptr<CUsbTransport> transport;
    CRomSession rom;
    std::vector<uint8_t> sent;  // valid while bKnown
    bool bKnown = false;        // false: the emulator's contents are unknown, send everything
    std::vector<uint32_t> changed;
};

struct SOptions {
    std::string file;
    uint32_t romSize = 0;
    SLoadChoice choice;
    SThen then;
    bool bJson = false, bVerify = false, bKeepGoing = false, bPair = false;
};

class CWatch {
public:
    CWatch(const SOptions& options, std::vector<std::unique_ptr<SSide>> sides, CLinkMessages& sink, Io& io,
           const CStopSignals& stop)
        : m_o(options), m_sides(std::move(sides)), m_sink(sink), m_io(io), m_stop(stop), m_loader(sink, nullptr)
    {
    }

    // One cycle for a change first noticed at `firstSign`. Returns an exit code to end the watch
    // with, or nullopt to go on watching.
    std::optional<int> Cycle(CFileWatch::Clock::time_point firstSign)
    {
        const uint32_t window = m_o.bPair ? 2 * m_o.romSize : m_o.romSize;
        SLoaded loaded;
        if (LoadFile(m_o.file, m_o.choice, window, m_loader.Image(), "watch", m_io, loaded) != kExitOk) {
            Warn("the emulator keeps what it has until the next change");
            return std::nullopt;
        }
        SCycleReport report;
        report.bFull = true;
        bool bAny = false;
        for (auto& side : m_sides) {
            Prepare(*side);
            report.bFull = report.bFull && !side->bKnown;
            bAny = bAny || !side->changed.empty();
        }
        if (bAny) {
            m_bFailed = false;
            if (const std::optional<int> end = Send())
                return end;
            if (m_bInterrupted)
                return kExitOk;
            if (m_bFailed)
                return std::nullopt;  // said on standard error; no cycle to report
        }
        for (auto& side : m_sides) {
            report.blocks.push_back(side->changed);
            report.nBytes += side->changed.size() * kDataBlockSize;
        }
        report.when = std::chrono::system_clock::now();
        report.nMillis = std::chrono::duration_cast<std::chrono::milliseconds>(CFileWatch::Clock::now() - firstSign).count();
        report.nCrc = ::Crc32({m_loader.Buffer(), window});
        m_io.out << (m_o.bJson ? FormatCycleJson(report) : FormatCycleText(report)) << std::endl;
        return std::nullopt;
    }

    void Warn(const std::string& text)
    {
        m_io.err << "tarvexctl watch: " << text << std::endl;
    }
    // What the watch is doing, left out with --quiet.
    void Note(const std::string& text)
    {
        if (!m_o.choice.bQuiet)
            Warn(text);
    }

private:
    // The side's new image from the loaded one, and the blocks that differ from what it holds.
    void Prepare(SSide& side)
    {
        uint8_t* image = side.rom.Buffer();
        if (m_o.bPair) {
            // Past the ROM's end a block carries the fill byte.
            std::memset(image, m_o.choice.fill, kRomImageSize);
            const bool bEven = &side == m_sides.front().get();
            std::vector<uint8_t> other(m_o.romSize);
            if (bEven)
                SplitPair(m_loader.Buffer(), m_o.romSize, image, other.data());
            else
                SplitPair(m_loader.Buffer(), m_o.romSize, other.data(), image);
        } else {
            std::memcpy(image, m_loader.Buffer(), kRomImageSize);
        }
        side.changed.clear();
        if (side.bKnown) {
            side.changed = ChangedBlocks(side.sent.data(), image, m_o.romSize);
        } else {
            for (uint32_t i = 0; i < BlockCount(m_o.romSize); ++i)
                side.changed.push_back(i);
        }
    }

    // A failed step: the message, then either the end of the watch or a whole download next time.
    std::optional<int> Failed(EEmuResult result)
    {
        m_sink.Print("watch", m_io.err);
        for (auto& side : m_sides)
            side->bKnown = false;
        if (!m_o.bKeepGoing)
            return ExitOf(result);
        GoOn();
        return std::nullopt;
    }

    void GoOn()
    {
        m_bFailed = true;
        Warn("going on (--keep-going); the next change sends the whole image");
    }

    // Runs `step` on every side; the first failure ends it.
    template <typename Step>
    std::optional<EEmuResult> Each(Step step)
    {
        for (auto& side : m_sides) {
            const EEmuResult r = step(*side);
            if (r != EEmuResult::kOk)
                return r;
        }
        return std::nullopt;
    }

    std::optional<int> Send()
    {
        if (m_o.then.bStop)
            if (const auto bad = Each([](SSide& s) { return s.rom.SetRunState(false); }))
                return Failed(*bad);
        for (auto& side : m_sides) {
            for (std::size_t n = 0; n < side->changed.size(); ++n) {
                if (m_stop.Pending()) {
                    Interrupted(*side, n);
                    return std::nullopt;
                }
                const EEmuResult r = side->rom.WriteBlock(side->changed[n]);
                if (r != EEmuResult::kOk) {
                    m_sink.Print("watch", m_io.err);
                    Warn(std::to_string(n) + " of " + std::to_string(side->changed.size()) +
                         " changed blocks reached emulator " + side->device + " before the failure");
                    return Failed(r);
                }
            }
        }
        if (m_o.bVerify) {
            EEmuResult read = EEmuResult::kOk;
            const bool bSame = Verified(read);
            if (read != EEmuResult::kOk)
                return Failed(read);
            if (!bSame) {
                for (auto& side : m_sides)
                    side->bKnown = false;
                if (!m_o.bKeepGoing)
                    return kExitVerify;
                GoOn();
                return std::nullopt;
            }
        }
        if (m_o.then.bRun)
            if (const auto bad = Each([](SSide& s) { return s.rom.SetRunState(true); }))
                return Failed(*bad);
        if (m_o.then.bReset)
            if (const auto bad = Each([](SSide& s) { return s.rom.Reset(); }))
                return Failed(*bad);
        for (auto& side : m_sides) {
            std::memcpy(side->sent.data(), side->rom.Buffer(), kRomImageSize);
            side->bKnown = true;
        }
        m_sink.Print("watch", m_io.err);
        return std::nullopt;
    }

    // Reads every block sent back; false (after saying where) when a ROM byte differs. A read
    // that fails ends it with `read` set.
    bool Verified(EEmuResult& read)
    {
        std::vector<uint8_t> back(kRomImageSize);
        bool bSame = true;
        for (auto& side : m_sides) {
            for (uint32_t b : side->changed) {
                read = side->rom.ReadBlock(b, back.data());
                if (read != EEmuResult::kOk)
                    return false;
                const std::size_t start = static_cast<std::size_t>(b) * kDataBlockSize;
                const std::size_t end = std::min<std::size_t>(start + kDataBlockSize, m_o.romSize);
                const uint8_t* want = side->rom.Buffer();
                for (std::size_t i = start; i < end; ++i)
                    if (back[i] != want[i]) {
                        char where[160];
                        std::snprintf(where, sizeof where,
                                      "block %u of emulator %s reads back 0x%02x at 0x%05zx where 0x%02x was sent", b,
                                      side->device.c_str(), back[i], i, want[i]);
                        Warn(where);
                        bSame = false;
                        break;
                    }
            }
        }
        return bSame;
    }

    void Interrupted(SSide& side, std::size_t sentOfSide)
    {
        m_bInterrupted = true;
        m_sink.Print("watch", m_io.err);
        Warn("stopped with " + std::to_string(sentOfSide) + " of " + std::to_string(side.changed.size()) +
             " changed blocks sent to emulator " + side.device + "; it holds part of the new image and was not run");
    }

    const SOptions& m_o;
    std::vector<std::unique_ptr<SSide>> m_sides;
    CLinkMessages& m_sink;
    Io& m_io;
    const CStopSignals& m_stop;
    CRomSession m_loader;
    bool m_bInterrupted = false;
    bool m_bFailed = false;  // the cycle's transfers failed and --keep-going goes on
};

bool ForcePolling()
{
    const char* poll = std::getenv("TARVEXCTL_WATCH_POLL");
    return poll != nullptr && *poll != '\0' && std::strcmp(poll, "0") != 0;
}

}  // namespace

int RunWatch(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"rom", true},
                                  {"format", true},
                                  {"fill", true},
                                  {"device", true},
                                  {"pair", true},
                                  {"then", true},
                                  {"json", false},
                                  {"verify", false},
                                  {"keep-going", false},
                                  {"strict", false},
                                  {"quiet", false, 'q'},
                                  {"verbose", false, 'v'}});
    if (parser.Positional().size() != 1)
        throw UsageError(parser.Positional().empty() ? "missing FILE" : "more than one FILE given");
    SOptions o;
    o.file = parser.Positional().front();
    if (o.file == "-")
        throw UsageError("standard input cannot be watched; name a file");
    o.romSize = RomSize(parser);
    o.choice = LoadChoice(parser);
    o.then = ParseThen(parser.Value("then"));
    o.bJson = parser.Has("json");
    o.bVerify = parser.Has("verify");
    o.bKeepGoing = parser.Has("keep-going");
    std::vector<std::string> devices;
    if (const auto pair = PairOf(parser)) {
        CheckPairSize(o.romSize);
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
    CLinkMessages sink;
    std::vector<std::unique_ptr<SSide>> sides;
    for (const std::string& device : devices) {
        sides.push_back(std::make_unique<SSide>(sink, device, OpenTransport(sink, device), o.romSize));
    }

    CWatch watch(o, std::move(sides), sink, io, stop);
    // Watching starts before the first download, so that a change during it is not missed.
    CFileWatch files(o.file, ForcePolling(), {}, [&](const std::string& note) { watch.Warn(note); });
    watch.Note("watching " + o.file + (files.Mode() == CFileWatch::EMode::kInotify ? "" : " by polling"));
    if (const std::optional<int> end = watch.Cycle(CFileWatch::Clock::now()))
        return *end;
    for (;;) {
        CFileWatch::Clock::time_point firstSign{};
        switch (files.Wait(stop.Fd(), firstSign)) {
        case CFileWatch::EEvent::kStopped:
            watch.Note("stopped");
            return kExitOk;
        case CFileWatch::EEvent::kGone:
            watch.Warn(o.file + " is gone; waiting for it to come back");
            break;
        case CFileWatch::EEvent::kChanged:
            if (const std::optional<int> end = watch.Cycle(firstSign))
                return *end;
            break;
        }
    }
}

}  // namespace tarvexctl
