// SPDX-License-Identifier: MIT
// Exit 0 means the emulator holds what was asked for: standard input, a second program, an
// emulator that goes away, a file too large for the default ROM, output that cannot be written,
// and JSON a script can parse whatever a file is called.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "ctlrun.h"

namespace {

using namespace ctltest;

// `tarvex-sim SIMARGS --log LOG -- sh -c SCRIPT`, with $CTL the built tarvexctl.
ProcessResult SimShell(const TempDir& dir, std::vector<std::string> simArgs, const std::string& script)
{
    std::vector<std::string> argv{TARVEX_SIM_PATH};
    argv.insert(argv.end(), simArgs.begin(), simArgs.end());
    argv.insert(argv.end(), {"--log", dir / "transfers.log", "--", "/bin/sh", "-c",
                             std::string("CTL='") + TARVEXCTL_PATH + "'; " + script});
    return RunProcess(argv);
}

ProcessResult Sim(const TempDir& dir, std::vector<std::string> simArgs, std::vector<std::string> ctlArgs)
{
    std::vector<std::string> argv{TARVEX_SIM_PATH};
    argv.insert(argv.end(), simArgs.begin(), simArgs.end());
    argv.insert(argv.end(), {"--log", dir / "transfers.log", "--", TARVEXCTL_PATH});
    argv.insert(argv.end(), ctlArgs.begin(), ctlArgs.end());
    return RunProcess(argv);
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(TarvexctlTrust, StandardInputIsReadOnceAndIsWhatReachesTheEmulator)
{
    const TempDir dir;
    const std::vector<uint8_t> image = Pattern(2 * kBlock, 7);
    WriteFile(dir / "fw.hex", IntelHexOf(image));
    const ProcessResult r = SimShell(dir, {"--dump", dir / "memory.bin"},
                                     "\"$CTL\" auto - --strict --verify --rom 27C512 < '" +
                                         (dir / "fw.hex").string() + "'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "the emulator holds standard input")) << r.err;
    EXPECT_EQ(ReadFile(dir / "memory.bin").substr(0, image.size()), Bytes(image));
}

TEST(TarvexctlTrust, ASecondProgramNeverLandsBetweenACommandBlockAndItsData)
{
    const TempDir dir;
    const std::vector<uint8_t> image = Pattern(1048576, 3);
    WriteFile(dir / "fw.bin", Bytes(image));
    // The download takes about a second at full speed; the second program comes in the middle.
    const ProcessResult r = SimShell(dir, {"--full-speed", "--dump", dir / "memory.bin"},
                                     "\"$CTL\" write '" + (dir / "fw.bin").string() +
                                         "' --format bin --rom 27C080 & w=$!; sleep 0.3; \"$CTL\" run; echo $? > '" +
                                         (dir / "run.rc").string() + "'; wait $w");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string runExit = ReadFile(dir / "run.rc");
    const std::vector<std::string> log = Lines(dir / "transfers.log");
    // Every data block follows its own command block.
    for (size_t i = 0; i < log.size(); ++i) {
        if (Contains(log[i], " OUT 32768 ")) {
            ASSERT_GT(i, 0u);
            EXPECT_TRUE(Contains(log[i - 1], " OUT 64 00")) << "line " << i << ": " << log[i - 1];
        }
    }
    EXPECT_EQ(ReadFile(dir / "memory.bin"), Bytes(image));
    // The run either came after the download or was refused, saying why, with nothing sent.
    if (runExit == "5\n") {
        EXPECT_TRUE(Contains(r.err, "busy: another program is using Ezusb-0")) << r.err;
        EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return Contains(l, " OUT 64 0201"); }),
                  0);
    } else {
        EXPECT_EQ(runExit, "0\n") << r.err;
        EXPECT_TRUE(Contains(log.back(), " OUT 64 0201")) << log.back();
    }
}

TEST(TarvexctlTrust, AnEmulatorGoneDuringAnOperationIsATransferFailureThatSaysHowFar)
{
    const TempDir dir;
    WriteFile(dir / "fw.bin", Bytes(Pattern(4 * kBlock, 1)));
    const std::string file = dir / "fw.bin";
    struct SCase {
        std::vector<std::string> args;
        std::string howFar;
    };
    const std::vector<SCase> cases = {
        {{"write", file, "--format", "bin", "--rom", "27C010"}, "2 of 4 blocks written; the emulator now holds a mix"},
        {{"write", file, "--format", "bin", "--rom", "27C010", "--verify"}, "2 of 4 blocks written"},
        {{"read", dir / "out.bin", "--rom", "27C010"}, "2 of 4 blocks read; nothing was written to OUT"},
        {{"verify", file, "--format", "bin", "--rom", "27C010"}, "2 of 4 blocks read; nothing was compared"},
        {{"auto", file, "--format", "bin", "--rom", "27C010"}, "2 of 4 blocks written"},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.args[0]);
        // Auto's stop command is one more transfer before the blocks.
        const std::string after = c.args[0] == "auto" ? "5" : "4";
        const ProcessResult r = Sim(dir, {"--unplug-after", after}, c.args);
        EXPECT_EQ(r.exitCode, 5) << r.err;
        EXPECT_TRUE(Contains(r.err, "was unplugged")) << r.err;
        EXPECT_TRUE(Contains(r.err, c.howFar)) << r.err;
        EXPECT_FALSE(Contains(r.err, "Could not open the Device")) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
}

TEST(TarvexctlTrust, WithoutRomAFileBeyondTheDefaultIsRefusedNamingTheTypeThatHoldsIt)
{
    const TempDir dir;
    WriteFile(dir / "fw.hex", IntelHexOf(Pattern(kBlock, 5)));
    const std::string file = dir / "fw.hex";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"write", file}, {"auto", file}, {"verify", file}, {"watch", file}, {"write", file, "--pair", "0,1"}}) {
        SCOPED_TRACE(args[0] + (args.size() > 2 ? " --pair" : ""));
        const ProcessResult r = Sim(dir, {"-n", "2"}, args);
        EXPECT_EQ(r.exitCode, 3) << r.err;
        EXPECT_TRUE(Contains(r.err, args.size() > 2 ? "give --rom 27C128" : "give --rom 27C256")) << r.err;
        EXPECT_TRUE(Lines(dir / "transfers.log").empty());
    }
    // With --rom given, the data beyond it is a warning; --strict refuses it.
    ProcessResult r = Sim(dir, {}, {"write", file, "--rom", "27C64"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "beyond the ROM size")) << r.err;
    r = Sim(dir, {}, {"write", file, "--rom", "27C64", "--strict"});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_TRUE(Lines(dir / "transfers.log").empty());
}

TEST(TarvexctlTrust, DevicesThatMatchNothingOrReadTwoWaysAreNamed)
{
    const TempDir dir;
    ProcessResult r = Sim(dir, {"-n", "2", "--serial", "A1,B2"}, {"run", "--device", "serial:C3"});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_TRUE(Contains(r.err, "no emulator matches --device serial:C3 (the emulator with serial number C3); "
                                "attached:\n  0  port:1-1  0547:2131  serial:A1\n  1  port:1-2  0547:2131  serial:B2\n"))
        << r.err;
    r = Sim(dir, {}, {"run", "--device", "0001"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(Contains(r.err, "'0001' reads as emulator number 1 and as a serial number: give 1 for the number or "
                                "serial:0001 for the serial number"))
        << r.err;
    r = Sim(dir, {"-n", "2"}, {"run", "--device", "port:1-2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> log = Lines(dir / "transfers.log");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(Contains(log[0], " dev1 OUT 64 0201")) << log[0];
}

TEST(TarvexctlTrust, AMalformedUsbIdListIsWarnedAboutByName)
{
    const TempDir dir;
    ::setenv("TARVEX_USB_IDS", "0547:2131,zz:1", 1);
    const ProcessResult r = Sim(dir, {}, {"run"});
    ::unsetenv("TARVEX_USB_IDS");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "tarvexctl run: warning: TARVEX_USB_IDS")) << r.err;
    EXPECT_TRUE(Contains(r.err, "'zz:1'")) << r.err;
}

TEST(TarvexctlTrust, StandardOutputThatCannotBeWrittenIsAFailure)
{
    const TempDir dir;
    WriteFile(dir / "fw.hex", IntelHexOf(Pattern(256, 2)));
    const std::string file = dir / "fw.hex";
    for (const std::string& command : std::vector<std::string>{"sum '" + file + "'", "load '" + file + "' --json", "find",
                                       "read - --rom 27C64", "load '" + file + "' --out -"}) {
        SCOPED_TRACE(command);
        const ProcessResult r = SimShell(dir, {}, "\"$CTL\" " + command + " > /dev/full");
        EXPECT_EQ(r.exitCode, 3) << r.err;
        EXPECT_TRUE(Contains(r.err, "standard output")) << r.err;
        EXPECT_TRUE(Contains(r.err, "No space left on device")) << r.err;
    }
}

TEST(TarvexctlTrust, EveryJsonLineIsValidUtf8WhateverTheFileIsCalled)
{
    const TempDir dir;
    // A name holding bytes that are no UTF-8 at all (F5 80 80 80) and a lone continuation byte.
    const std::string name = std::string("fw-\xF5\x80\x80\x80-\x80.hex");
    WriteFile(dir / name, ":0400100001020304E2\n:020000040001F9\n");  // no end record: a warning too
    const std::string file = dir / name;
    const std::string check = "python3 -c 'import json,sys\nfor l in sys.stdin.buffer.read().splitlines(): "
                              "json.loads(l.decode(\"utf-8\"))'";
    for (const std::string& command : std::vector<std::string>{"load '" + file + "' --json", "sum '" + file + "' --json",
                                       "verify '" + file + "' --json", "find --json"}) {
        SCOPED_TRACE(command);
        const std::string out = "'" + (dir / "out.json").string() + "'";
        const ProcessResult r = SimShell(dir, {}, "\"$CTL\" " + command + " > " + out + "; " + check + " < " + out);
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
}
