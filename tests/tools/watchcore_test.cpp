// SPDX-License-Identifier: MIT
// The watch's pieces without an emulator: the file watch in both modes, block comparison,
// pair splitting, CRC-32, --then and the cycle lines.
#include "filewatch.h"
#include "watchreport.h"

#include "session/blocksync.h"
#include "session/pair.h"

#include "image/checksum.h"
#include "cli.h"
#include "emulink/emuprotocol.h"
#include "process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

using namespace tarvexctl;
using namespace std::chrono_literals;

namespace {

// The watch's next event; kStopped when none came within `limit` (a timer stands for the stop
// signal), so that a change that is missed fails the test instead of hanging it.
CFileWatch::EEvent WaitAtMost(CFileWatch& watch, std::chrono::milliseconds limit,
                              CFileWatch::Clock::time_point* firstSign = nullptr)
{
    const int timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    EXPECT_GE(timer, 0);
    itimerspec when{};
    when.it_value.tv_sec = limit.count() / 1000;
    when.it_value.tv_nsec = (limit.count() % 1000) * 1000000;
    EXPECT_EQ(::timerfd_settime(timer, 0, &when, nullptr), 0);
    CFileWatch::Clock::time_point first{};
    const CFileWatch::EEvent event = watch.Wait(timer, first);
    ::close(timer);
    if (firstSign)
        *firstSign = first;
    return event;
}

constexpr auto kChangeLimit = 10000ms;  // bounds a failure only

void WriteAt(const std::string& path, off_t at, const std::string& bytes, int flags = O_WRONLY)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

struct SWriteWay {
    const char* name;
    std::function<void(const std::string& path)> write;
};

const std::vector<SWriteWay>& WriteWays()
{
    static const std::vector<SWriteWay> ways = {
        {"in place", [](const std::string& p) { WriteAt(p, 3, "new"); }},
        {"truncate and rewrite", [](const std::string& p) { WriteAt(p, 0, "rewritten", O_WRONLY | O_TRUNC); }},
        {"rename over",
         [](const std::string& p) {
             WriteAt(p + ".tmp", 0, "renamed", O_WRONLY | O_CREAT | O_TRUNC);
             ASSERT_EQ(::rename((p + ".tmp").c_str(), p.c_str()), 0);
         }},
        {"delete and create",
         [](const std::string& p) {
             ASSERT_EQ(::unlink(p.c_str()), 0);
             WriteAt(p, 0, "created", O_WRONLY | O_CREAT | O_EXCL);
         }},
        {"several writes, one open",
         [](const std::string& p) {
             const int fd = ::open(p.c_str(), O_WRONLY | O_CLOEXEC);
             ASSERT_GE(fd, 0);
             for (int i = 0; i < 3; ++i) {
                 ASSERT_EQ(::pwrite(fd, "abc", 3, i * 3), 3);
                 std::this_thread::sleep_for(5ms);
             }
             ::close(fd);
         }},
    };
    return ways;
}

// Generous quiet time, so that a slow machine does not split one burst of writes in two.
constexpr CFileWatch::STiming kTiming{300ms, 20ms};

}  // namespace

TEST(FileWatch, EachWayOfWritingIsOneChangeInBothModes)
{
    for (const bool bPoll : {false, true}) {
        for (const SWriteWay& way : WriteWays()) {
            SCOPED_TRACE(std::string(way.name) + (bPoll ? " (polling)" : " (inotify)"));
            const TempDir dir;
            const std::string file = dir / "fw.hex";
            WriteFile(file, "original contents");
            WriteFile(dir / "neighbour.hex", "x");
            std::vector<std::string> notes;
            CFileWatch watch(file, bPoll, kTiming, [&](const std::string& n) { notes.push_back(n); });
            EXPECT_EQ(watch.Mode(), bPoll ? CFileWatch::EMode::kPoll : CFileWatch::EMode::kInotify);

            const auto before = CFileWatch::Clock::now();
            way.write(file);
            CFileWatch::Clock::time_point first{};
            EXPECT_EQ(WaitAtMost(watch, kChangeLimit, &first), CFileWatch::EEvent::kChanged);
            EXPECT_GE(first, before);
            // Another file of the folder changing is no change of ours.
            WriteFile(dir / "neighbour.hex", "y");
            WriteFile(dir / "neighbour.hex.tmp", "y");
            ASSERT_EQ(::rename((dir / "neighbour.hex.tmp").c_str(), (dir / "neighbour.hex").c_str()), 0);

            // Settled: nothing more comes.
            EXPECT_EQ(WaitAtMost(watch, kTiming.quiet + 200ms), CFileWatch::EEvent::kStopped);
            EXPECT_TRUE(notes.empty()) << notes.front();
        }
    }
}

TEST(FileWatch, CloseAndRenameEndAChangeAtOnceWritesLeftOpenAfterTheirQuietTime)
{
    const CFileWatch::STiming slow{50ms, 20ms, 1500ms};
    const TempDir dir;
    const std::string file = dir / "fw.bin";
    WriteFile(file, "0123456789");
    CFileWatch watch(file, false, slow, {});

    WriteAt(file, 0, "A");  // closed after writing
    auto start = CFileWatch::Clock::now();
    ASSERT_EQ(WaitAtMost(watch, kChangeLimit), CFileWatch::EEvent::kChanged);
    EXPECT_LT(CFileWatch::Clock::now() - start, slow.openQuiet);

    // Written and left open (a writer pausing between pieces): only the quiet time ends it.
    const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "B", 1, 1), 1);
    start = CFileWatch::Clock::now();
    ASSERT_EQ(WaitAtMost(watch, kChangeLimit), CFileWatch::EEvent::kChanged);
    EXPECT_GE(CFileWatch::Clock::now() - start, slow.openQuiet - 100ms);
    ::close(fd);
    // The close that follows is a change of its own.
    ASSERT_EQ(WaitAtMost(watch, kChangeLimit), CFileWatch::EEvent::kChanged);
}

TEST(FileWatch, AFileThatIsGoneIsReportedAndItsReturnSeen)
{
    for (const bool bPoll : {false, true}) {
        SCOPED_TRACE(bPoll ? "polling" : "inotify");
        const TempDir dir;
        const std::string file = dir / "fw.bin";
        WriteFile(file, "x");
        CFileWatch watch(file, bPoll, {50ms, 20ms}, {});
        ASSERT_EQ(::unlink(file.c_str()), 0);
        EXPECT_EQ(WaitAtMost(watch, kChangeLimit), CFileWatch::EEvent::kGone);
        WriteFile(file, "back");
        EXPECT_EQ(WaitAtMost(watch, kChangeLimit), CFileWatch::EEvent::kChanged);
    }
}

TEST(FileWatch, AFolderThatGoesAwayMayComeBackInTimeElseTheWatchEnds)
{
    for (const bool bPoll : {false, true}) {
        SCOPED_TRACE(bPoll ? "polling" : "inotify");
        const TempDir dir;
        const std::filesystem::path sub = dir / "build";
        std::filesystem::create_directory(sub);
        const std::string file = sub / "fw.bin";
        WriteFile(file, "x");
        std::vector<std::string> notes;
        CFileWatch::STiming timing{50ms, 20ms, 300ms, 5000ms};
        CFileWatch watch(file, bPoll, timing, [&](const std::string& n) { notes.push_back(n); });
        // make clean: the folder goes, then comes back with the file.
        std::filesystem::remove_all(sub);
        std::thread rebuild([&] {
            std::this_thread::sleep_for(200ms);
            std::filesystem::create_directory(sub);
            WriteFile(file, "rebuilt");
        });
        CFileWatch::EEvent event = WaitAtMost(watch, kChangeLimit);
        if (event == CFileWatch::EEvent::kGone)
            event = WaitAtMost(watch, kChangeLimit);
        rebuild.join();
        EXPECT_EQ(event, CFileWatch::EEvent::kChanged);
        ASSERT_FALSE(notes.empty());
        EXPECT_NE(notes[0].find("moved or removed"), std::string::npos) << notes[0];

        // Gone for longer than the grace time: the watch says so instead of polling for ever.
        timing.folderGrace = 300ms;
        CFileWatch short_(file, bPoll, timing, {});
        std::filesystem::remove_all(sub);
        EXPECT_EQ(WaitAtMost(short_, kChangeLimit), CFileWatch::EEvent::kFolderGone);
    }
}

TEST(WatchCycle, ChangedBlocksCountOnlyTheRomsBytes)
{
    std::vector<uint8_t> before(kRomImageSize, 0x11);
    struct Case {
        uint32_t romSize;
        std::vector<size_t> touched;  // offsets changed in `after`
        std::vector<uint32_t> expected;
    };
    const std::vector<Case> cases = {
        {65536, {}, {}},
        {65536, {40000}, {1}},
        {65536, {0, 65535}, {0, 1}},
        {1048576, {32768 * 1 + 1, 32768 * 30, 32768 * 30 + 5}, {1, 30}},
        {1048576, {1048575}, {31}},
        // A 27C64 sends one whole block, yet bytes past its 8 KiB are no part of the ROM.
        {8192, {8191}, {0}},
        {8192, {8192, 20000}, {}},
        // Past the ROM's last block nothing counts.
        {65536, {65536, 500000}, {}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> after = before;
        for (size_t at : c.touched)
            after[at] ^= 0xFF;
        EXPECT_EQ(ChangedBlocks(before.data(), after.data(), c.romSize), c.expected)
            << "rom " << c.romSize << ", " << c.touched.size() << " bytes touched";
    }
}

TEST(WatchCycle, BlocksHoldingAreThoseTheBytesFallIn)
{
    EXPECT_EQ(BlocksHolding(0, 0), (std::vector<uint32_t>{}));
    EXPECT_EQ(BlocksHolding(0, 1), (std::vector<uint32_t>{0}));
    EXPECT_EQ(BlocksHolding(32767, 1), (std::vector<uint32_t>{0}));
    EXPECT_EQ(BlocksHolding(32767, 2), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(BlocksHolding(32768, 32768), (std::vector<uint32_t>{1}));
    EXPECT_EQ(BlocksHolding(32768, 32769), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(BlocksHolding(1048575, 1), (std::vector<uint32_t>{31}));
    EXPECT_EQ(BlocksHolding(0, 1048576).size(), 32u);
}

TEST(WatchCycle, PairSplitsEvenAndOddBytesAndJoinsThemBack)
{
    const std::vector<uint8_t> image = {0x10, 0x11, 0x20, 0x21, 0x30, 0x31, 0x40, 0x41, 0xEE};
    std::vector<uint8_t> even(5, 0xAA), odd(5, 0xAA);
    SplitPair(image.data(), 4, even.data(), odd.data());
    EXPECT_EQ(even, (std::vector<uint8_t>{0x10, 0x20, 0x30, 0x40, 0xAA}));
    EXPECT_EQ(odd, (std::vector<uint8_t>{0x11, 0x21, 0x31, 0x41, 0xAA}));
    std::vector<uint8_t> joined(9, 0x55);
    JoinPair(even.data(), odd.data(), 4, joined.data());
    EXPECT_EQ(joined, (std::vector<uint8_t>{0x10, 0x11, 0x20, 0x21, 0x30, 0x31, 0x40, 0x41, 0x55}));
}

// The cycle line's CRC-32 must be the one zlib, srec_cat and the vendor tools print.
TEST(WatchCycle, Crc32MatchesZlibsCheckValues)
{
    auto crc = [](std::string_view s) { return ::Crc32({reinterpret_cast<const uint8_t*>(s.data()), s.size()}); };
    EXPECT_EQ(crc(""), 0x00000000u);
    EXPECT_EQ(crc("a"), 0xE8B7BE43u);
    EXPECT_EQ(crc("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    const std::vector<uint8_t> ff(32768, 0xFF);
    EXPECT_NE(::Crc32(ff), ::Crc32({ff.data(), ff.size() - 1}));
}

TEST(WatchCycle, ThenTakesAnyOfStopRunResetOrNone)
{
    struct Case {
        std::optional<std::string> text;
        bool stop, run, reset;
    };
    for (const Case& c : std::vector<Case>{{std::nullopt, true, true, true},
                                           {"none", false, false, false},
                                           {"run", false, true, false},
                                           {"reset,stop", true, false, true},
                                           {"stop,run,reset", true, true, true}}) {
        const SThen then = ParseThen(c.text);
        EXPECT_EQ(then.bStop, c.stop) << c.text.value_or("(default)");
        EXPECT_EQ(then.bRun, c.run) << c.text.value_or("(default)");
        EXPECT_EQ(then.bReset, c.reset) << c.text.value_or("(default)");
    }
    for (const char* bad : {"", "go", "stop,", "none,run", "stop;run"})
        EXPECT_THROW(ParseThen(std::string(bad)), UsageError) << bad;
}

TEST(WatchCycle, CycleLinesInTextAndJson)
{
    SCycleReport r;
    r.when = std::chrono::system_clock::now();
    r.blocks = {{0, 31}};
    r.nBytes = 65536;
    r.nCrc = 0x1a2b3c4d;
    r.nMillis = 47;
    const std::string text = FormatCycleText(r);
    // "HH:MM:SS.mmm " then the fields.
    ASSERT_GE(text.size(), 13u);
    EXPECT_EQ(text[2], ':');
    EXPECT_EQ(text[8], '.');
    EXPECT_EQ(text.substr(12), " blocks 0,31 bytes 65536 crc32 1a2b3c4d 47 ms");
    const std::string json = FormatCycleJson(r);
    EXPECT_EQ(json.substr(json.find("\",\"full\"")),
              "\",\"full\":false,\"blocks\":[0,31],\"bytes\":65536,\"crc32\":\"1a2b3c4d\",\"ms\":47}");

    r.blocks = {{}, {5}};
    r.bFull = true;
    r.nCrc = 0xabc;
    EXPECT_EQ(FormatCycleText(r).substr(12), " full blocks -|5 bytes 65536 crc32 00000abc 47 ms");
    const std::string pair = FormatCycleJson(r);
    EXPECT_NE(pair.find("\"full\":true,\"blocks\":[[],[5]],"), std::string::npos) << pair;
}

TEST(TarvexctlWatchUsage, BadCommandLinesAreRefusedBeforeAnyTransfer)
{
    const TempDir dir;
    const std::string file = dir / "fw.bin";
    WriteFile(file, "x");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* said;
    };
    const std::vector<Case> cases = {
        {{"watch"}, 2, "missing FILE"},
        {{"watch", file, file}, 2, "more than one FILE"},
        {{"watch", "-"}, 2, "standard input cannot be watched"},
        {{"watch", file, "--then", "go"}, 2, "--then takes stop, run and reset"},
        {{"watch", file, "--rom", "27C999"}, 2, "unknown ROM type"},
        {{"watch", file, "--pair", "0"}, 2, "two devices separated by a comma"},
        {{"watch", file, "--pair", "0,1,2"}, 2, "two devices separated by a comma"},
        {{"watch", file, "--pair", "1,1"}, 2, "names 1 twice"},
        {{"watch", file, "--pair", "0,1", "--device", "0"}, 2, "cannot be given together"},
        {{"watch", file, "--pair", "0,1", "--rom", "27C080"}, 2, "needs a 2 MiB image"},
        {{"write", file, "--pair", "0,1", "--rom", "27C080"}, 2, "needs a 2 MiB image"},
        {{"read", file, "--pair", ",1"}, 2, "empty device name"},
        {{"run", "--device", ""}, 2, "empty device name"},
        {{"watch", dir.Path().string()}, 3, "is a folder"},
        {{"watch", (dir / "no/such/fw.bin").string()}, 3, "does not exist"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{TARVEXCTL_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const ProcessResult r = RunProcess(argv);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back() << ": " << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST(FileWatch, ALinkIsFollowedToItsFileAndRetargetingIsSeen)
{
    for (const bool bPoll : {false, true}) {
        SCOPED_TRACE(bPoll ? "polling" : "inotify");
        const TempDir dir;
        std::filesystem::create_directory(dir / "out");
        const std::string v1 = dir / "out/v1.bin", v2 = dir / "out/v2.bin", link = dir / "fw.bin";
        WriteFile(v1, "one");
        WriteFile(v2, "two");
        ASSERT_EQ(::symlink("out/v1.bin", link.c_str()), 0);
        CFileWatch watch(link, bPoll, {50ms, 20ms}, {});

        // The build writes the file behind the link, in another folder.
        WriteAt(v1, 0, "ONE");
        EXPECT_EQ(WaitAtMost(watch, kChangeLimit), CFileWatch::EEvent::kChanged);
        // The link is pointed at another build.
        ASSERT_EQ(::symlink("out/v2.bin", (link + ".new").c_str()), 0);
        ASSERT_EQ(::rename((link + ".new").c_str(), link.c_str()), 0);
        EXPECT_EQ(WaitAtMost(watch, kChangeLimit), CFileWatch::EEvent::kChanged);
        // From now on the new target counts, the old one no more.
        WriteAt(v2, 0, "TWO");
        EXPECT_EQ(WaitAtMost(watch, kChangeLimit), CFileWatch::EEvent::kChanged);
        WriteAt(v1, 0, "one");
        EXPECT_EQ(WaitAtMost(watch, 400ms), CFileWatch::EEvent::kStopped);
    }
}
