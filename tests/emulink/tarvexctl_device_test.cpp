// SPDX-License-Identifier: MIT
// Choosing among several emulators (find, --device) and 16-bit pairs (--pair) end to end under tarvex-sim.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ctlrun.h"

namespace {

using namespace ctltest;

// `tarvex-sim SIMARGS --log LOG -- PROGRAM...`; the log's lines land in `log`.
ProcessResult Sim(const TempDir& dir, std::vector<std::string> simArgs, const std::vector<std::string>& program,
                  std::vector<std::string>* log = nullptr)
{
    const std::string logFile = dir / "transfers.log";
    std::vector<std::string> argv{TARVEX_SIM_PATH};
    argv.insert(argv.end(), simArgs.begin(), simArgs.end());
    argv.insert(argv.end(), {"--log", logFile, "--"});
    argv.insert(argv.end(), program.begin(), program.end());
    ProcessResult r = RunProcess(argv);
    if (log)
        *log = Lines(logFile);
    return r;
}

std::vector<std::string> Ctl(std::vector<std::string> args)
{
    args.insert(args.begin(), TARVEXCTL_PATH);
    return args;
}

const std::vector<std::string> kThree{"-n", "3", "--serial", "A,B"};

}  // namespace

TEST(TarvexctlDevices, FindListsNumberPortIdAndSerial)
{
    const TempDir dir;
    auto r = Sim(dir, kThree, Ctl({"find"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "0  1-1  0547:2131  A\n"
                     "1  1-2  0547:2131  B\n"
                     "2  1-3  0547:2131  -\n");
    r = Sim(dir, kThree, Ctl({"find", "--json"}));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "{\"index\":0,\"port\":\"1-1\",\"id\":\"0547:2131\",\"serial\":\"A\",\"usable\":true,\"error\":null}\n"
                     "{\"index\":1,\"port\":\"1-2\",\"id\":\"0547:2131\",\"serial\":\"B\",\"usable\":true,\"error\":null}\n"
                     "{\"index\":2,\"port\":\"1-3\",\"id\":\"0547:2131\",\"serial\":null,\"usable\":true,"
                     "\"error\":null}\n");
    for (const char* json : {"", "--json"}) {
        std::vector<std::string> args{"find"};
        if (*json)
            args.push_back(json);
        r = Sim(dir, {"-n", "0"}, Ctl(args));
        EXPECT_EQ(r.exitCode, 4);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Could not find Driver! \nPlease Check the connection"), std::string::npos) << r.err;
    }
    // Emulators that are there but may not be opened are listed with the reason, yet none is usable.
    r = Sim(dir, {"-n", "2", "--deny-access"}, Ctl({"find"}));
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.out, "0  1-1  0547:2131  -  (access denied)\n1  1-2  0547:2131  -  (access denied)\n");
    EXPECT_NE(r.err.find("Could not find Driver!"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("The emulator at USB 1-2 may not be opened"), std::string::npos) << r.err;
    r = Sim(dir, {"-n", "1", "--busy"}, Ctl({"find", "--json"}));
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.out, "{\"index\":0,\"port\":\"1-1\",\"id\":\"0547:2131\",\"serial\":null,\"usable\":false,"
                     "\"error\":\"busy\"}\n");
}

TEST(TarvexctlDevices, DeviceByNumberPortOrSerialReachesThatEmulatorOnly)
{
    const TempDir dir;
    struct Case {
        const char* device;
        int expected;  // the emulator in the log; -1: none found, exit 4
    };
    for (const Case& c : std::vector<Case>{{"0", 0},
                                           {"2", 2},
                                           {"Ezusb-1", 1},
                                           {"1-2", 1},
                                           {"1-3", 2},
                                           {"B", 1},
                                           {"serial:A", 0},
                                           {"3", -1},
                                           {"1-9", -1},
                                           {"Z", -1}}) {
        std::vector<std::string> log;
        const auto r = Sim(dir, kThree, Ctl({"reset", "--device", c.device}), &log);
        if (c.expected < 0) {
            EXPECT_EQ(r.exitCode, 4) << c.device;
            EXPECT_NE(r.err.find("Could not open the Device"), std::string::npos) << c.device << ": " << r.err;
            EXPECT_TRUE(log.empty()) << c.device;
        } else {
            EXPECT_EQ(r.exitCode, 0) << c.device << ": " << r.err;
            EXPECT_EQ(log, std::vector<std::string>{Cmd(1, 4, 0, c.expected)}) << c.device;
        }
    }
    // A whole download goes to the chosen one too.
    const std::vector<uint8_t> image = Pattern(kBlock, 8);
    WriteFile(dir / "fw.bin", Bytes(image));
    std::vector<std::string> log;
    const auto r = Sim(dir, kThree, Ctl({"write", dir / "fw.bin", "--format", "bin", "--rom", "27C256", "--device", "1-3"}),
                       &log);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(log, (std::vector<std::string>{Cmd(1, 0, 0, 2), FormatTransfer(2, 2, false, image.data(), kBlock)}));
}

TEST(TarvexctlDevices, PairSplitsEvenAndOddBytesAndReadInterleavesThem)
{
    const TempDir dir;
    constexpr size_t kRom = 2 * kBlock;  // 27C512 on each side, a 128 KiB image
    const std::vector<uint8_t> image = Pattern(2 * kRom, 6);
    WriteFile(dir / "fw.bin", Bytes(image));
    const std::string ctl = TARVEXCTL_PATH, fw = dir / "fw.bin", out = dir / "out.bin", swapped = dir / "swapped.bin";
    // One simulator for all steps, so that what write sent is there for read and verify.
    const std::string script = ctl + " write " + fw + " --format bin --rom 27C512 --pair 0,2 --verify && " + ctl + " read " +
                               out + " --rom 27C512 --pair 0,2 && " + ctl + " read " + swapped +
                               " --rom 27C512 --pair 2,0 && " + ctl + " verify " + fw +
                               " --format bin --rom 27C512 --pair 1-1,1-3 && { " + ctl + " verify " + fw +
                               " --format bin --rom 27C512 --pair 2,0; echo verify-swapped=$?; }";
    const auto r = Sim(dir, {"-n", "3", "--dump", dir / "memory%d.bin"}, {"/bin/sh", "-c", script});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("verify-swapped=6"), std::string::npos) << r.out;

    std::string even, odd, swappedImage(2 * kRom, '\0');
    for (size_t k = 0; k < kRom; ++k) {
        even += static_cast<char>(image[2 * k]);
        odd += static_cast<char>(image[2 * k + 1]);
        swappedImage[2 * k] = static_cast<char>(image[2 * k + 1]);
        swappedImage[2 * k + 1] = static_cast<char>(image[2 * k]);
    }
    EXPECT_EQ(ReadFile(dir / "memory0.bin").substr(0, kRom), even);
    EXPECT_EQ(ReadFile(dir / "memory2.bin").substr(0, kRom), odd);
    EXPECT_EQ(ReadFile(dir / "memory1.bin"), std::string(1048576, '\xFF')) << "the third emulator was written";
    EXPECT_EQ(ReadFile(out), Bytes(image));
    EXPECT_EQ(ReadFile(swapped), swappedImage);
}

TEST(TarvexctlDevices, WatchedPairSendsTheChangedBlocksOfEachSide)
{
    const TempDir dir;
    constexpr size_t kRom = 2 * kBlock;
    const std::string file = dir / "fw.bin";
    std::vector<uint8_t> image = Pattern(2 * kRom, 9);
    WriteFile(file, Bytes(image));
    CWatchRun run(dir, {"-n", "2"}, {file, "--format", "bin", "--rom", "27C512", "--pair", "0,1"});
    ASSERT_TRUE(run.OutLines(1)) << run.Err();
    EXPECT_NE(run.Out()[0].find(" full blocks 0,1|0,1 bytes 131072 "), std::string::npos) << run.Out()[0];

    auto sides = [&] {
        std::vector<uint8_t> even(kBlock * 2), odd(kBlock * 2);
        for (size_t k = 0; k < kRom; ++k) {
            even[k] = image[2 * k];
            odd[k] = image[2 * k + 1];
        }
        return std::pair{even, odd};
    };
    // Even byte 40000 of the first emulator (block 1), odd byte 5 of the second (block 0).
    image[2 * 40000] ^= 0xFF;
    image[2 * 5 + 1] ^= 0xFF;
    const size_t before = run.Log().size();
    EXPECT_EQ(before, 2u + 8u + 4u);
    WriteFile(file + ".new", Bytes(image));
    ASSERT_EQ(std::rename((file + ".new").c_str(), file.c_str()), 0);
    ASSERT_TRUE(run.OutLines(2)) << run.Err();
    EXPECT_NE(run.Out()[1].find(" blocks 1|0 bytes 65536 "), std::string::npos) << run.Out()[1];

    const auto [even, odd] = sides();
    unsigned seq = static_cast<unsigned>(before + 1);
    std::vector<std::string> expected;
    expected.push_back(Cmd(seq++, 2, 0, 0));
    expected.push_back(Cmd(seq++, 2, 0, 1));
    expected.push_back(Cmd(seq++, 0, 1, 0));
    expected.push_back(FormatTransfer(seq++, 0, false, even.data() + kBlock, kBlock));
    expected.push_back(Cmd(seq++, 0, 0, 1));
    expected.push_back(FormatTransfer(seq++, 1, false, odd.data(), kBlock));
    expected.push_back(Cmd(seq++, 2, 1, 0));
    expected.push_back(Cmd(seq++, 2, 1, 1));
    expected.push_back(Cmd(seq++, 4, 0, 0));
    expected.push_back(Cmd(seq++, 4, 0, 1));
    const std::vector<std::string> log = run.Log();
    EXPECT_EQ(std::vector<std::string>(log.begin() + static_cast<long>(before), log.end()), expected);
    EXPECT_EQ(run.End(SIGTERM), 0) << run.Err();
}
