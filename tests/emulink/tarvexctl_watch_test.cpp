// SPDX-License-Identifier: MIT
// `tarvexctl watch` end to end: the built tool under tarvex-sim, a file rewritten the ways
// editors and linkers do, the transfer log checked block by block.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ctlrun.h"
#include "image/checksum.h"

namespace {

using namespace ctltest;
using namespace std::chrono_literals;

std::vector<std::string> Tail(const std::vector<std::string>& v, size_t from)
{
    return from >= v.size() ? std::vector<std::string>{} : std::vector<std::string>(v.begin() + static_cast<long>(from), v.end());
}

void WriteWhole(const std::string& path, const std::vector<uint8_t>& data, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    ::close(fd);
}

// The ways a file gets rewritten: in place, a new file renamed over it, deleted and created
// again, and one open written in several pieces.
void Rewrite(const std::string& way, const std::string& path, const std::vector<uint8_t>& data)
{
    if (way == "in place") {
        WriteWhole(path, data, 0);
    } else if (way == "rename") {
        WriteWhole(path + ".new", data, O_CREAT | O_TRUNC);
        ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
    } else if (way == "delete and create") {
        ASSERT_EQ(::unlink(path.c_str()), 0);
        WriteWhole(path, data, O_CREAT | O_EXCL);
    } else if (way == "pieces") {
        const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const size_t third = data.size() / 3;
        for (size_t at = 0; at < data.size(); at += third) {
            const size_t n = std::min(third, data.size() - at);
            ASSERT_EQ(::write(fd, data.data() + at, n), static_cast<ssize_t>(n));
            std::this_thread::sleep_for(5ms);
        }
        ::close(fd);
    } else {
        FAIL() << way;
    }
}

std::string CrcOf(const std::vector<uint8_t>& image, size_t window)
{
    char s[9];
    std::snprintf(s, sizeof s, "%08x", Crc32({image.data(), window}));
    return s;
}

}  // namespace

TEST(TarvexctlWatch, SendsExactlyTheChangedBlocksWhicheverWayTheFileIsWritten)
{
    constexpr size_t kRom = 16 * kBlock;  // 27C040
    struct Step {
        const char* way;
        std::vector<size_t> touched;     // offsets changed
        std::vector<uint32_t> expected;  // blocks sent
    };
    const std::vector<Step> steps = {
        {"in place", {40000}, {1}},
        {"rename", {10, 15 * kBlock + 5}, {0, 15}},
        {"delete and create", {}, {}},
        {"pieces", {100, 8 * kBlock}, {0, 8}},
        {"rename", {}, {}},
        {"delete and create", {3 * kBlock + 7, 3 * kBlock + 9000}, {3}},
        {"in place", {kRom - 1}, {15}},
    };
    for (const bool bPoll : {false, true}) {
        SCOPED_TRACE(bPoll ? "polling" : "inotify");
        const TempDir dir;
        const std::string file = dir / "fw.bin";
        std::vector<uint8_t> image = Pattern(kRom, 7);
        WriteFile(file, Bytes(image));
        CWatchRun run(dir, {}, {file, "--format", "bin", "--rom", "27C040"}, bPoll);

        ASSERT_TRUE(run.OutLines(1)) << run.Err();
        std::vector<uint32_t> all;
        for (uint32_t b = 0; b < 16; ++b)
            all.push_back(b);
        EXPECT_EQ(run.Log(), CycleLog(1, image, all));
        const std::string first = run.Out()[0];
        EXPECT_NE(first.find(" full blocks 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15 bytes 524288 crc32 " +
                             CrcOf(image, kRom) + " "),
                  std::string::npos)
            << first;

        for (size_t i = 0; i < steps.size(); ++i) {
            const Step& step = steps[i];
            SCOPED_TRACE(std::to_string(i) + ": " + step.way);
            for (size_t at : step.touched)
                image[at] ^= 0x5A;
            const size_t logBefore = run.Log().size();
            Rewrite(step.way, file, image);
            ASSERT_TRUE(run.OutLines(i + 2)) << run.Err();
            const std::string line = run.Out()[i + 1];
            std::string list;
            for (uint32_t b : step.expected)
                list.append(list.empty() ? "" : ",").append(std::to_string(b));
            EXPECT_NE(line.find(" blocks " + (list.empty() ? "-" : list) + " bytes " +
                                std::to_string(step.expected.size() * kBlock) + " crc32 " + CrcOf(image, kRom) + " "),
                      std::string::npos)
                << line;
            EXPECT_EQ(line.find("full"), std::string::npos) << line;
            EXPECT_EQ(Tail(run.Log(), logBefore), CycleLog(static_cast<unsigned>(logBefore + 1), image, step.expected));
        }
        EXPECT_EQ(run.End(SIGTERM), 0) << run.Err();
        EXPECT_NE(run.Err().find("tarvexctl watch: stopped\n"), std::string::npos) << run.Err();
    }
}

TEST(TarvexctlWatch, AFileThatFailsToLoadLeavesTheEmulatorAlone)
{
    const TempDir dir;
    const std::string file = dir / "fw.bin";
    std::vector<uint8_t> image = Pattern(2 * kBlock, 1);
    WriteFile(file, Bytes(image));
    CWatchRun run(dir, {}, {file, "--format", "bin", "--rom", "27C512"});
    ASSERT_TRUE(run.OutLines(1)) << run.Err();
    const size_t logBefore = run.Log().size();
    EXPECT_EQ(logBefore, 7u);

    // Something the loader refuses lands on the name: a FIFO.
    const std::string fifo = dir / "fw.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::rename(fifo.c_str(), file.c_str()), 0);
    ASSERT_TRUE(WaitFor([&] { return run.Err().find("not a regular file") != std::string::npos; })) << run.Err();
    EXPECT_EQ(run.Log().size(), logBefore);
    EXPECT_EQ(run.Out().size(), 1u);

    // The next good file is compared with what the emulator holds, not with the failed one.
    image[kBlock + 3] ^= 1;
    ASSERT_EQ(::unlink(file.c_str()), 0);
    WriteFile(file, Bytes(image));
    ASSERT_TRUE(run.OutLines(2)) << run.Err();
    EXPECT_EQ(Tail(run.Log(), logBefore), CycleLog(static_cast<unsigned>(logBefore + 1), image, {1}));
    EXPECT_EQ(run.End(SIGINT), 0) << run.Err();
}

TEST(TarvexctlWatch, ThenVerifyAndJsonShapeTheCycle)
{
    const TempDir dir;
    const std::string file = dir / "fw.bin";
    std::vector<uint8_t> image = Pattern(2 * kBlock, 2);
    WriteFile(file, Bytes(image));
    CWatchRun run(dir, {}, {file, "--format", "bin", "--rom", "27C512", "--then", "run", "--verify", "--json"});
    ASSERT_TRUE(run.OutLines(1)) << run.Err();
    // Blocks, then each read back, then run only.
    auto expected = [&](unsigned seq, std::vector<uint32_t> blocks) {
        std::vector<std::string> log = CycleLog(seq, image, blocks, false);
        seq += static_cast<unsigned>(log.size());
        for (uint32_t b : blocks) {
            log.push_back(Cmd(seq++, 1, static_cast<uint8_t>(b)));
            log.push_back(FormatTransfer(seq++, 0, true, image.data() + b * kBlock, kBlock));
        }
        log.push_back(Cmd(seq, 2, 1));
        return log;
    };
    EXPECT_EQ(run.Log(), expected(1, {0, 1}));
    image[5] ^= 0xFF;
    const size_t logBefore = run.Log().size();
    Rewrite("rename", file, image);
    ASSERT_TRUE(run.OutLines(2)) << run.Err();
    EXPECT_EQ(Tail(run.Log(), logBefore), expected(static_cast<unsigned>(logBefore + 1), {0}));
    const std::string json = run.Out()[1];
    EXPECT_EQ(json.front(), '{');
    EXPECT_NE(json.find(",\"full\":false,\"blocks\":[0],\"bytes\":32768,\"crc32\":\"" + CrcOf(image, 2 * kBlock) +
                        "\",\"ms\":"),
              std::string::npos)
        << json;
    EXPECT_EQ(run.End(SIGTERM), 0) << run.Err();
}

TEST(TarvexctlWatch, ATransferFailureEndsTheWatchUnlessKeepGoing)
{
    const TempDir dir;
    const std::string file = dir / "fw.bin";
    std::vector<uint8_t> image = Pattern(2 * kBlock, 3);
    WriteFile(file, Bytes(image));
    {
        CWatchRun run(dir, {"--stall", "3"}, {file, "--format", "bin", "--rom", "27C512"});
        EXPECT_EQ(run.End(), 5) << run.Err();
        EXPECT_NE(run.Err().find("The transfer to the Device failed"), std::string::npos) << run.Err();
        EXPECT_NE(run.Err().find("0 of 2 changed blocks reached emulator 0"), std::string::npos) << run.Err();
        EXPECT_EQ(run.Log().size(), 3u);
    }
    {
        // A read-back that comes short is a failed transfer, not a mismatch.
        CWatchRun run(dir, {"--short-read", "7"}, {file, "--format", "bin", "--rom", "27C512", "--verify"});
        EXPECT_EQ(run.End(), 5) << run.Err();
        EXPECT_NE(run.Err().find("The transfer from the Device failed"), std::string::npos) << run.Err();
        EXPECT_EQ(run.Log().size(), 7u);
    }
    {
        CWatchRun run(dir, {"-n", "0"}, {file, "--format", "bin", "--rom", "27C512"});
        EXPECT_EQ(run.End(), 4) << run.Err();
        EXPECT_NE(run.Err().find("Could not open the Device"), std::string::npos) << run.Err();
    }
    {
        // The data block of block 0 stalls; the next change sends everything again.
        CWatchRun run(dir, {"--stall", "3"}, {file, "--format", "bin", "--rom", "27C512", "--keep-going"});
        ASSERT_TRUE(WaitFor([&] { return run.Err().find("--keep-going") != std::string::npos; })) << run.Err();
        EXPECT_EQ(run.Out().size(), 0u);
        image[kBlock] ^= 1;
        const size_t logBefore = run.Log().size();
        EXPECT_EQ(logBefore, 3u);
        Rewrite("in place", file, image);
        ASSERT_TRUE(run.OutLines(1)) << run.Err();
        EXPECT_NE(run.Out()[0].find(" full blocks 0,1 "), std::string::npos) << run.Out()[0];
        EXPECT_EQ(Tail(run.Log(), logBefore), CycleLog(static_cast<unsigned>(logBefore + 1), image, {0, 1}));
        EXPECT_EQ(run.End(SIGTERM), 0) << run.Err();
    }
}

TEST(TarvexctlWatch, ASignalDuringTheBlocksEndsItAfterAWholeBlockPair)
{
    const TempDir dir;
    const std::string file = dir / "fw.bin";
    const std::vector<uint8_t> image = Pattern(16 * kBlock, 4);
    WriteFile(file, Bytes(image));
    // About 0.16 s per block: the signal lands in the middle of the download.
    CWatchRun run(dir, {"--throughput", "200000"}, {file, "--format", "bin", "--rom", "27C040"});
    ASSERT_TRUE(WaitFor([&] { return run.Log().size() >= 4; })) << run.Err();
    EXPECT_EQ(run.End(SIGTERM), 0) << run.Err();
    const std::vector<std::string> log = run.Log();
    ASSERT_GE(log.size(), 5u);
    ASSERT_LT(log.size(), 33u) << "the whole image went out before the signal";
    // Stop, then whole pairs only, and no run or reset after a part of the image.
    const size_t pairs = (log.size() - 1) / 2;
    EXPECT_EQ(log.size(), 1 + 2 * pairs);
    std::vector<uint32_t> sent;
    for (uint32_t b = 0; b < pairs; ++b)
        sent.push_back(b);
    std::vector<std::string> expected = CycleLog(1, image, sent);
    expected.resize(expected.size() - 2);
    EXPECT_EQ(log, expected);
    EXPECT_NE(run.Err().find("stopped with " + std::to_string(pairs) + " of 16 changed blocks sent"), std::string::npos)
        << run.Err();
    EXPECT_TRUE(run.Out().empty());
}

TEST(TarvexctlWatch, AFileNotThereYetIsDownloadedWholeWhenItComes)
{
    const TempDir dir;
    const std::string file = dir / "fw.bin";
    CWatchRun run(dir, {}, {file, "--format", "bin", "--rom", "27C512", "--then", "none"});
    ASSERT_TRUE(WaitFor([&] { return run.Err().find("keeps what it has") != std::string::npos; })) << run.Err();
    EXPECT_TRUE(run.Log().empty());
    const std::vector<uint8_t> image = Pattern(2 * kBlock, 5);
    Rewrite("rename", file, image);
    ASSERT_TRUE(run.OutLines(1)) << run.Err();
    EXPECT_NE(run.Out()[0].find(" full blocks 0,1 bytes 65536 "), std::string::npos) << run.Out()[0];
    EXPECT_EQ(run.Log(), CycleLog(1, image, {0, 1}, false));
    EXPECT_EQ(run.End(SIGTERM), 0) << run.Err();
}

TEST(TarvexctlWatch, StrictRefusesAFileWithWarningsUntilItIsFixed)
{
    const TempDir dir;
    const std::string file = dir / "fw.hex";
    // The data record's checksum is off by one: a warning, which --strict makes a refusal.
    WriteFile(file, ":0400100001020304E3\n:00000001FF\n");
    CWatchRun run(dir, {}, {file, "--rom", "27C256", "--strict"});
    ASSERT_TRUE(WaitFor([&] { return run.Err().find("keeps what it has") != std::string::npos; })) << run.Err();
    EXPECT_NE(run.Err().find("--strict"), std::string::npos) << run.Err();
    EXPECT_TRUE(run.Log().empty());
    EXPECT_TRUE(run.Out().empty());

    const std::string fixed = ":0400100001020304E2\n:00000001FF\n";
    Rewrite("rename", file, std::vector<uint8_t>(fixed.begin(), fixed.end()));
    ASSERT_TRUE(run.OutLines(1)) << run.Err();
    std::vector<uint8_t> block(kBlock, 0);
    for (uint8_t i = 0; i < 4; ++i)
        block[0x10 + i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(run.Log(), CycleLog(1, block, {0}));
    EXPECT_EQ(run.End(SIGTERM), 0) << run.Err();
}

namespace {

void WriteText(const std::string& path, const std::string& text, int flags)
{
    WriteWhole(path, std::vector<uint8_t>(text.begin(), text.end()), flags);
}

}  // namespace

// A linker, an editor or a shell caught half way: nothing incomplete reaches the emulator, and
// the target is not run on it.
TEST(TarvexctlWatch, AFileCaughtWhileItIsWrittenIsWaitedFor)
{
    const std::vector<uint8_t> before = Pattern(2 * kBlock, 1);
    const std::vector<uint8_t> after = Pattern(2 * kBlock, 2);
    const std::string whole = IntelHexOf(after);
    const std::string cut = whole.substr(0, whole.size() / 2 + 7);  // ends inside a record
    struct SWay {
        const char* name;
        std::function<void(const std::string&)> write;
    };
    const std::vector<SWay> ways = {
        {"in place, in pieces with pauses",
         [&](const std::string& p) {
             const int fd = ::open(p.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
             ASSERT_GE(fd, 0);
             for (size_t at = 0; at < whole.size(); at += whole.size() / 3 + 1) {
                 const size_t n = std::min(whole.size() / 3 + 1, whole.size() - at);
                 ASSERT_EQ(::write(fd, whole.data() + at, n), static_cast<ssize_t>(n));
                 std::this_thread::sleep_for(300ms);
             }
             ::close(fd);
         }},
        {"truncated, then written",
         [&](const std::string& p) {
             WriteText(p, "", O_TRUNC);  // what '> fw.hex' leaves
             std::this_thread::sleep_for(500ms);
             WriteText(p, whole, O_TRUNC);
         }},
        {"closed without its end record, then finished",
         [&](const std::string& p) {
             WriteText(p, IntelHexOf(after, false), O_TRUNC);
             std::this_thread::sleep_for(500ms);
             WriteText(p, whole, O_TRUNC);
         }},
        {"cut inside a record, then finished",
         [&](const std::string& p) {
             WriteText(p, cut, O_TRUNC);
             std::this_thread::sleep_for(500ms);
             WriteText(p, whole, O_TRUNC);
         }},
        {"deleted, then created in two closes",
         [&](const std::string& p) {
             ASSERT_EQ(::unlink(p.c_str()), 0);
             WriteText(p, cut, O_CREAT | O_EXCL);
             std::this_thread::sleep_for(500ms);
             WriteText(p, whole, O_TRUNC);
         }},
        {"renamed over", [&](const std::string& p) {
             WriteText(p + ".new", whole, O_CREAT | O_TRUNC);
             ASSERT_EQ(::rename((p + ".new").c_str(), p.c_str()), 0);
         }},
    };
    for (const SWay& way : ways) {
        SCOPED_TRACE(way.name);
        const TempDir dir;
        const std::string file = dir / "fw.hex";
        WriteText(file, IntelHexOf(before), O_CREAT | O_TRUNC);
        CWatchRun run(dir, {}, {file, "--rom", "27C512", "--strict"});
        ASSERT_TRUE(run.OutLines(1)) << run.Err();
        const size_t logBefore = run.Log().size();
        way.write(file);
        ASSERT_TRUE(run.OutLines(2)) << run.Err();
        // One cycle, with the whole new image: no data block of a half-written file went out.
        EXPECT_EQ(Tail(run.Log(), logBefore), CycleLog(static_cast<unsigned>(logBefore + 1), after, {0, 1}));
        EXPECT_NE(run.Out()[1].find(" blocks 0,1 bytes 65536 crc32 " + CrcOf(after, 2 * kBlock)), std::string::npos)
            << run.Out()[1];
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(run.Out().size(), 2u) << run.Err();
        EXPECT_EQ(run.End(SIGTERM), 0) << run.Err();
    }
}

TEST(TarvexctlWatch, AFileThatStaysIncompleteIsReportedAndNothingIsSent)
{
    const TempDir dir;
    const std::string file = dir / "fw.hex";
    const std::vector<uint8_t> before = Pattern(kBlock, 1);
    WriteText(file, IntelHexOf(before), O_CREAT | O_TRUNC);
    CWatchRun run(dir, {}, {file, "--rom", "27C256"});
    ASSERT_TRUE(run.OutLines(1)) << run.Err();
    const size_t logBefore = run.Log().size();
    WriteText(file, IntelHexOf(Pattern(kBlock, 9), false), O_TRUNC);
    ASSERT_TRUE(WaitFor([&] { return run.Err().find("is not complete") != std::string::npos; })) << run.Err();
    EXPECT_NE(run.Err().find("no end record"), std::string::npos) << run.Err();
    EXPECT_NE(run.Err().find("nothing was sent"), std::string::npos) << run.Err();
    EXPECT_EQ(run.Log().size(), logBefore);
    EXPECT_EQ(run.Out().size(), 1u);
    EXPECT_EQ(run.End(SIGTERM), 0) << run.Err();
}
