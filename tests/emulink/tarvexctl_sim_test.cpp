// SPDX-License-Identifier: MIT
// tarvexctl's emulator commands end to end: the built tool under the built tarvex-sim, checked on the transfer log.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../tools/process.h"
#include "simemulator.h"

namespace {

constexpr size_t kBlock = 32768;
constexpr size_t kRomImage = 1048576;

// Runs `tarvex-sim SIMARGS --log LOG -- tarvexctl ARGS`; the log's lines land in `log`.
ProcessResult Sim(const TempDir& dir, std::vector<std::string> simArgs, const std::vector<std::string>& ctlArgs,
                  std::vector<std::string>* log = nullptr)
{
    const std::string logFile = dir / "transfers.log";
    std::vector<std::string> argv{TARVEX_SIM_PATH};
    argv.insert(argv.end(), simArgs.begin(), simArgs.end());
    argv.insert(argv.end(), {"--log", logFile, "--", TARVEXCTL_PATH});
    argv.insert(argv.end(), ctlArgs.begin(), ctlArgs.end());
    ProcessResult r = RunProcess(argv);
    if (log) {
        log->clear();
        std::ifstream in(logFile);
        for (std::string line; std::getline(in, line);)
            log->push_back(line);
    }
    return r;
}

std::string Cmd(unsigned seq, uint8_t opcode, uint8_t parameter)
{
    uint8_t block[64] = {opcode, parameter};
    return FormatTransfer(seq, 0, false, block, sizeof block);
}

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

std::vector<uint8_t> Pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 31 + (i >> 11));
    return v;
}

}  // namespace

TEST(TarvexctlSim, FindListsEachEmulatorOrSaysThereIsNone)
{
    const TempDir dir;
    auto r = Sim(dir, {"-n", "3"}, {"find"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "0  1-1  0547:2131  -\n1  1-2  0547:2131  -\n2  1-3  0547:2131  -\n");

    r = Sim(dir, {"-n", "0"}, {"find"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Could not find Driver! \nPlease Check the connection\n");
}

TEST(TarvexctlSim, WriteLoadsAndDownloadsTheCoveringBlocks)
{
    const TempDir dir;
    const std::vector<uint8_t> file = Pattern(40000, 3);
    WriteFile(dir / "image.bin", Bytes(file));
    std::vector<std::string> log;
    auto r = Sim(dir, {"--dump", dir / "memory.bin"},
                 {"write", dir / "image.bin", "--format", "bin", "--fill", "A5", "--rom", "27C512"}, &log);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    std::vector<uint8_t> image(2 * kBlock, 0xA5);
    std::copy(file.begin(), file.end(), image.begin());
    EXPECT_EQ(log, (std::vector<std::string>{Cmd(1, 0, 0), FormatTransfer(2, 0, false, image.data(), kBlock),
                                             Cmd(3, 0, 1), FormatTransfer(4, 0, false, image.data() + kBlock, kBlock)}));
    EXPECT_EQ(ReadFile(dir / "memory.bin").substr(0, 2 * kBlock), Bytes(image));

    // The default 27C64 still sends one whole 32 KiB block; Intel HEX is the default format.
    WriteFile(dir / "small.hex", ":0400100001020304E2\n:00000001FF\n");
    r = Sim(dir, {}, {"write", dir / "small.hex"}, &log);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<uint8_t> block(kBlock, 0);
    for (uint8_t i = 0; i < 4; ++i)
        block[0x10 + i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(log, (std::vector<std::string>{Cmd(1, 0, 0), FormatTransfer(2, 0, false, block.data(), kBlock)}));
}

TEST(TarvexctlSim, ReadWritesTheUploadedRom)
{
    const TempDir dir;
    const std::vector<uint8_t> memory = Pattern(1048576, 9);
    WriteFile(dir / "memory.bin", Bytes(memory));
    std::vector<std::string> log;
    auto r = Sim(dir, {"--memory", dir / "memory.bin"}, {"read", dir / "out.bin", "--rom", "27C128"}, &log);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out.bin"), Bytes(memory).substr(0, 16384));
    EXPECT_EQ(log, (std::vector<std::string>{Cmd(1, 1, 0), FormatTransfer(2, 0, true, memory.data(), kBlock)}));

    r = Sim(dir, {"--memory", dir / "memory.bin"}, {"read", dir / "all.bin", "--rom", "7"}, &log);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "all.bin"), Bytes(memory));
    EXPECT_EQ(log.size(), 64u);
}

TEST(TarvexctlSim, RunStopResetAndRomAreOneCommandEach)
{
    const TempDir dir;
    struct Case {
        std::vector<std::string> args;
        uint8_t opcode, parameter;
    };
    for (const Case& c : std::vector<Case>{{{"run"}, 2, 1},
                                           {{"stop"}, 2, 0},
                                           {{"reset"}, 4, 0},
                                           {{"rom", "27C64"}, 3, 0x00},
                                           {{"rom", "27c256(32K*8)"}, 3, 0x03},
                                           {{"rom", "27C040"}, 3, 0x3F},
                                           {{"rom", "7"}, 3, 0x7F}}) {
        std::vector<std::string> log;
        auto r = Sim(dir, {}, c.args, &log);
        EXPECT_EQ(r.exitCode, 0) << c.args[0] << ": " << r.err;
        EXPECT_EQ(log, std::vector<std::string>{Cmd(1, c.opcode, c.parameter)}) << c.args.back();
    }
    for (const auto& bad : std::vector<std::vector<std::string>>{{"rom", "27C999"}, {"rom", "8"}, {"rom"}, {"run", "x"}}) {
        std::vector<std::string> log;
        auto r = Sim(dir, {}, bad, &log);
        EXPECT_EQ(r.exitCode, 2) << bad.back();
        EXPECT_TRUE(log.empty());
    }
}

TEST(TarvexctlSim, AutoRunsItsSequenceAndSendsNothingForAFileItCannotRead)
{
    const TempDir dir;
    const std::vector<uint8_t> file = Pattern(1000, 1);
    WriteFile(dir / "image.bin", Bytes(file));
    std::vector<std::string> log;
    auto r = Sim(dir, {}, {"auto", dir / "image.bin", "--format", "bin"}, &log);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<uint8_t> block(kBlock, 0);
    std::copy(file.begin(), file.end(), block.begin());
    EXPECT_EQ(log, (std::vector<std::string>{Cmd(1, 2, 0), Cmd(2, 0, 0), FormatTransfer(3, 0, false, block.data(), kBlock),
                                             Cmd(4, 2, 1), Cmd(5, 4, 0)}));

    // The file is read before the stop: one that cannot be read leaves the emulator untouched.
    r = Sim(dir, {}, {"auto", dir / "missing.hex"}, &log);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("missing.hex"), std::string::npos) << r.err;
    EXPECT_TRUE(log.empty());
}

TEST(TarvexctlSim, AutoAfterAFailedStopSendsNothingMore)
{
    const TempDir dir;
    WriteFile(dir / "image.bin", "abc");
    std::vector<std::string> log;
    auto r = Sim(dir, {"--stall", "1"}, {"auto", dir / "image.bin", "--format", "bin"}, &log);
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.err, "tarvexctl auto: The transfer to the Device failed\n"
                     "The emulator at USB 1-1 stalled the transfer (LIBUSB_ERROR_PIPE): check the target's power, "
                     "then unplug the emulator and plug it in again.\n");
    EXPECT_EQ(log.size(), 1u);
}

TEST(TarvexctlSim, KernelDriverIsDetachedForWriteAndRead)
{
    // Linux's usbtest module binds these two of the emulator's ids.
    const TempDir dir;
    const std::vector<uint8_t> file = Pattern(2 * kBlock, 4);
    WriteFile(dir / "image.bin", Bytes(file));
    auto r = Sim(dir, {"--kernel-driver", "--id", "0547:2235", "--dump", dir / "memory.bin"},
                 {"write", dir / "image.bin", "--format", "bin", "--rom", "27C512"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("failed"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir / "memory.bin").substr(0, 2 * kBlock), Bytes(file));

    r = Sim(dir, {"--kernel-driver", "--id", "04b4:8613", "--memory", dir / "memory.bin"},
            {"read", dir / "out.bin", "--rom", "27C512"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "out.bin"), Bytes(file));
}

TEST(TarvexctlSim, FailuresHaveTheirOwnExitCodes)
{
    const TempDir dir;
    WriteFile(dir / "image.bin", "abc");
    std::vector<std::string> log;

    auto r = Sim(dir, {"-n", "0"}, {"write", dir / "image.bin", "--format", "bin", "--rom", "27C512"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "tarvexctl write: Could not open the Device\n");

    r = Sim(dir, {"-n", "0"}, {"run"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "tarvexctl run: Could not open the Device\n");

    r = Sim(dir, {"--stall", "3"}, {"write", dir / "image.bin", "--format", "bin", "--rom", "27C512"}, &log);
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.err, "tarvexctl write: The transfer to the Device failed\n"
                     "The emulator at USB 1-1 stalled the transfer (LIBUSB_ERROR_PIPE): check the target's power, "
                     "then unplug the emulator and plug it in again.\n"
                     "The emulator's state is unknown: reconnect or reset it before the next download.\n"
                     "tarvexctl write: 1 of 2 blocks written; the emulator now holds a mix of the old and the new "
                     "image\n");
    EXPECT_EQ(log.size(), 3u);

    r = Sim(dir, {"--short-reads"}, {"read", dir / "out.bin"}, &log);
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.err, "tarvexctl read: The transfer from the Device failed\n"
                     "Only 16384 of 32768 bytes were moved (emulator at USB 1-1).\n"
                     "The emulator's state is unknown: reconnect or reset it before the next download.\n"
                     "tarvexctl read: 0 of 1 blocks read; nothing was written to OUT\n");
    EXPECT_FALSE(std::ifstream(dir / "out.bin").good());  // no half image

    // Gone after the first block: a transfer failure that says how far the download got.
    r = Sim(dir, {"--unplug-after", "2"}, {"write", dir / "image.bin", "--format", "bin", "--rom", "27C512"}, &log);
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_NE(r.err.find("was unplugged"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("tarvexctl write: 1 of 2 blocks written; the emulator now holds a mix"), std::string::npos)
        << r.err;
    EXPECT_EQ(log.size(), 2u);

    r = Sim(dir, {}, {"write", dir / "missing.bin"}, &log);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(log.empty());
}

TEST(TarvexctlSim, RefusedAndVanishingEmulatorsAreNamedWithWhatToDo)
{
    const TempDir dir;
    WriteFile(dir / "image.bin", "abc");
    const std::vector<std::string> write{"write", dir / "image.bin", "--format", "bin", "--rom", "27C512"};
    struct SCase {
        std::vector<std::string> simArgs;
        std::vector<std::string> ctlArgs;
        int nExit;
        size_t nTransfers;
        std::vector<std::string> parts;
    };
    const SCase cases[] = {
        {{"--deny-access"}, write, 4, 0,
         {"tarvexctl write: Could not open the Device\nThe emulator at USB 1-1 may not be opened by this user "
          "(LIBUSB_ERROR_ACCESS)", "udev rules"}},
        {{"--busy"}, {"run"}, 5, 0,
         {"tarvexctl run: Could not open the Device\nbusy: another program is using Ezusb-0 (USB 1-1"}},
        {{"--swap-endpoints"}, {"reset"}, 4, 0, {"pipe 0 must be a bulk IN endpoint and pipe 1 a bulk OUT endpoint"}},
        {{"--unplug-during", "4"}, write, 5, 4,
         {"tarvexctl write: The transfer to the Device failed\nThe emulator at USB 1-1 was unplugged during the "
          "transfer",
          "The emulator's state is unknown: reconnect or reset it before the next download.",
          "1 of 2 blocks written"}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.simArgs[0]);
        std::vector<std::string> log;
        const auto r = Sim(dir, c.simArgs, c.ctlArgs, &log);
        EXPECT_EQ(r.exitCode, c.nExit) << r.err;
        for (const std::string& part : c.parts)
            EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
        EXPECT_EQ(log.size(), c.nTransfers);
    }
    std::vector<std::string> log;
    Sim(dir, {"--unplug-during", "2"}, write, &log);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].substr(0, 15), "2 dev0 OUT 1638");  // half the block moved, then the cable went
    EXPECT_EQ(log[1].substr(log[1].size() - 7), " UNPLUG");
}

TEST(TarvexSim, DumpWithANumberInTheNameWritesEveryEmulator)
{
    const TempDir dir;
    WriteFile(dir / "image.bin", "hello");
    const std::string pattern = dir / "memory-%d.bin";
    auto r = Sim(dir, {"-n", "3", "--dump", pattern}, {"write", dir / "image.bin", "--format", "bin"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string first = ReadFile(dir / "memory-0.bin");
    ASSERT_EQ(first.size(), 1048576u);
    EXPECT_EQ(first.substr(0, 6), std::string("hello\0", 6));
    for (const char* other : {"memory-1.bin", "memory-2.bin"})
        EXPECT_EQ(ReadFile(dir / other), std::string(1048576, '\xFF')) << other;
    EXPECT_FALSE(std::filesystem::exists(dir / "memory-3.bin"));

    // Without a number only emulator 0 is written.
    r = Sim(dir, {"-n", "2", "--dump", dir / "only.bin"}, {"reset"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir / "only.bin").size(), 1048576u);
}

TEST(TarvexSim, TerminationReachesTheProgramAndTheSimulatorCleansUp)
{
    const TempDir dir;
    const std::string tmp = dir / "tmp";  // umockdev makes its folder under TMPDIR
    std::filesystem::create_directory(tmp);
    const std::string pidFile = dir / "child.pid";
    const std::string script = "echo $$ > " + pidFile + ".new && mv " + pidFile + ".new " + pidFile + " && exec sleep 30";
    const pid_t sim = ::fork();
    ASSERT_GE(sim, 0);
    if (sim == 0) {
        ::setenv("TMPDIR", tmp.c_str(), 1);
        ::execl(TARVEX_SIM_PATH, TARVEX_SIM_PATH, "--", "/bin/sh", "-c", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pid_t child = 0;
    for (int i = 0; i < 200 && child <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream(pidFile) >> child;
    }
    ASSERT_GT(child, 0) << "the program did not start";

    ::kill(sim, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(sim, &status, 0), sim);
    const bool childAlive = ::kill(child, 0) == 0;
    if (childAlive)
        ::kill(child, SIGKILL);
    EXPECT_FALSE(childAlive) << "the program was left running";
    ASSERT_TRUE(WIFEXITED(status)) << "tarvex-sim itself was killed";
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "umockdev's folder was left behind";
}

TEST(TarvexSim, MemoryImageIsReadNoFurtherThanOneMegabyte)
{
    // A pipe whose writer stays open never ends: only its first 1 MiB may be waited for.
    const TempDir dir;
    const std::string fifo = dir / "memory.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int writer = ::open(fifo.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    const std::vector<uint8_t> image = Pattern(1048576 + 100, 5);
    std::atomic<bool> fed{false};
    std::thread feed([&] {
        for (size_t done = 0; done < image.size();) {
            const ssize_t n = ::write(writer, image.data() + done, image.size() - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        fed = true;
    });

    const std::string out = dir / "out.bin";
    const pid_t sim = ::fork();
    ASSERT_GE(sim, 0);
    if (sim == 0) {
        ::execl(TARVEX_SIM_PATH, TARVEX_SIM_PATH, "--memory", fifo.c_str(), "--", TARVEXCTL_PATH, "read",
                out.c_str(), "--rom", "27C080", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 300 && ended == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ended = ::waitpid(sim, &status, WNOHANG);
    }
    if (ended == 0) {
        ::kill(sim, SIGKILL);
        ::waitpid(sim, &status, 0);
    }
    // Should tarvex-sim have stopped reading early, drain the pipe so that the feed can end.
    const int drain = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    for (char sink[4096]; !fed;)
        if (::read(drain, sink, sizeof sink) <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    feed.join();
    ::close(drain);
    ::close(writer);
    ASSERT_EQ(ended, sim) << "tarvex-sim kept reading its memory image";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(out), Bytes(image).substr(0, 1048576));
}

TEST(TarvexctlSim, VerifyFindsEveryPlantedDifferenceWithinTheRom)
{
    const TempDir dir;
    const std::vector<uint8_t> file = Pattern(2 * kBlock, 7);
    WriteFile(dir / "image.bin", Bytes(file));
    const std::vector<std::string> verify{"verify", dir / "image.bin", "--format", "bin", "--rom", "27C512"};
    struct Case {
        const char* name;
        std::vector<size_t> planted;  // addresses whose byte the emulator holds inverted
        int exitCode;
        std::vector<std::string> lines;  // expected in the report, in this order
    };
    std::vector<size_t> many;
    for (size_t a = 100; many.size() < 25; a += 1000)
        many.push_back(a);
    const std::vector<Case> cases{
        {"identical", {}, 0, {"65536 bytes identical"}},
        {"beyond the ROM size", {2 * kBlock, kRomImage - 1}, 0, {"65536 bytes identical"}},
        {"three ranges",
         {5, kBlock, kBlock + 1, kBlock + 2, 2 * kBlock - 1},
         6,
         {"00000005-00000005        1 byte ", "00008000-00008002        3 bytes", "0000ffff-0000ffff        1 byte ",
          "5 of 65536 bytes differ in 3 ranges"}},
        {"more than twenty", many, 6, {"00000064-00000064", "... and 5 more ranges", "25 of 65536 bytes differ in 25 ranges"}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> memory(kRomImage, 0xFF);
        std::copy(file.begin(), file.end(), memory.begin());
        for (size_t a : c.planted)
            memory[a] = static_cast<uint8_t>(~memory[a]);
        WriteFile(dir / "memory.bin", Bytes(memory));
        std::vector<std::string> log;
        const auto r = Sim(dir, {"--memory", dir / "memory.bin"}, verify, &log);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.name << ": " << r.err;
        size_t at = 0;
        for (const std::string& line : c.lines) {
            at = r.out.find(line, at);
            EXPECT_NE(at, std::string::npos) << c.name << ": no '" << line << "' in order in\n" << r.out;
        }
        // Only reads: verify never changes the emulator.
        EXPECT_EQ(log.size(), 4u) << c.name;
        for (size_t k = 0; k < log.size(); k += 2)
            EXPECT_EQ(log[k], Cmd(static_cast<unsigned>(k + 1), 1, static_cast<uint8_t>(k / 2))) << c.name;
    }
    if (testing::Test::HasFailure())
        return;
    // The first byte wanted and got, and the totals, for scripts.
    const auto r = Sim(dir, {"--memory", dir / "memory.bin"},
                       {"verify", dir / "image.bin", "--format", "bin", "--rom", "27C512", "--json"});
    EXPECT_EQ(r.exitCode, 6);
    EXPECT_NE(r.out.find("\"identical\":false,\"differing_bytes\":25,\"differing_ranges\":25"), std::string::npos) << r.out;
    char first[64];
    std::snprintf(first, sizeof first, "{\"start\":100,\"end\":100,\"count\":1,\"wanted\":\"%02x\",\"got\":\"%02x\"}",
                  file[100], static_cast<uint8_t>(~file[100]));
    EXPECT_NE(r.out.find(first), std::string::npos) << r.out;
}

TEST(TarvexctlSim, WriteAndAutoVerifyReadBackBeforeTheyEnd)
{
    const TempDir dir;
    const std::vector<uint8_t> file = Pattern(1000, 5);
    WriteFile(dir / "image.bin", Bytes(file));
    std::vector<uint8_t> block(kBlock, 0);
    std::copy(file.begin(), file.end(), block.begin());

    std::vector<std::string> log;
    auto r = Sim(dir, {}, {"write", dir / "image.bin", "--format", "bin", "--verify"}, &log);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(log, (std::vector<std::string>{Cmd(1, 0, 0), FormatTransfer(2, 0, false, block.data(), kBlock),
                                             Cmd(3, 1, 0), FormatTransfer(4, 0, true, block.data(), kBlock)}));

    r = Sim(dir, {}, {"auto", dir / "image.bin", "--format", "bin", "--verify"}, &log);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(log, (std::vector<std::string>{Cmd(1, 2, 0), Cmd(2, 0, 0), FormatTransfer(3, 0, false, block.data(), kBlock),
                                             Cmd(4, 1, 0), FormatTransfer(5, 0, true, block.data(), kBlock),
                                             Cmd(6, 2, 1), Cmd(7, 4, 0)}));

    // A read-back that fails is a transfer failure, and Auto then sends no run or reset.
    r = Sim(dir, {"--short-read", "5"}, {"auto", dir / "image.bin", "--format", "bin", "--verify"}, &log);
    EXPECT_EQ(r.exitCode, 5) << r.err;
    EXPECT_EQ(log.size(), 5u);
}

TEST(TarvexctlSim, StandardInputAndOutputStandForFiles)
{
    const TempDir dir;
    const std::vector<uint8_t> file = Pattern(3000, 2);
    WriteFile(dir / "image.bin", Bytes(file));
    const std::string logFile = dir / "transfers.log";
    const std::string pipeline = std::string("cat '") + (dir / "image.bin").string() + "' | '" + TARVEXCTL_PATH +
                                 "' write - --format bin --fill 5a && '" + TARVEXCTL_PATH + "' read - --rom 27C64";
    const ProcessResult r =
        RunProcess({TARVEX_SIM_PATH, "--log", logFile, "--", "/bin/sh", "-c", pipeline});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<uint8_t> rom(8192, 0x5A);
    std::copy(file.begin(), file.end(), rom.begin());
    EXPECT_EQ(r.out, Bytes(rom));  // the image alone on standard output
}

TEST(TarvexctlSim, ReadToAPathItCannotWriteFailsBeforeAnyTransfer)
{
    const TempDir dir;
    for (const std::string& out : {(dir / "no-such-folder" / "out.bin").string(), dir.Path().string()}) {
        std::vector<std::string> log;
        const auto r = Sim(dir, {}, {"read", out}, &log);
        EXPECT_EQ(r.exitCode, 3) << out;
        EXPECT_NE(r.err.find("cannot write " + out), std::string::npos) << r.err;
        EXPECT_TRUE(log.empty()) << out;
    }
}

TEST(TarvexctlSim, StrictRefusesADoubtfulFileBeforeAnyTransfer)
{
    const TempDir dir;
    WriteFile(dir / "bad.hex", ":0400100001020304E3\n:00000001FF\n");  // wrong checksum
    for (const char* command : {"write", "auto", "verify"}) {
        std::vector<std::string> log;
        auto r = Sim(dir, {}, {command, dir / "bad.hex", "--strict"}, &log);
        EXPECT_EQ(r.exitCode, 3) << command << ": " << r.err;
        EXPECT_NE(r.err.find("bad.hex:1: warning: 1 record with a wrong checksum"), std::string::npos) << r.err;
        EXPECT_TRUE(log.empty()) << command;
        // Without --strict the file is used, and the warning still said (a fresh emulator holds
        // none of it, so verify finds it differs).
        r = Sim(dir, {}, {command, dir / "bad.hex"}, &log);
        EXPECT_EQ(r.exitCode, std::string(command) == "verify" ? 6 : 0) << command << ": " << r.err;
        EXPECT_NE(r.err.find("wrong checksum"), std::string::npos) << r.err;
        EXPECT_FALSE(log.empty()) << command;
    }
}
