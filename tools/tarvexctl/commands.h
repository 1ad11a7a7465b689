// SPDX-License-Identifier: MIT
// Declarations of the sub-commands' entry points and help texts.
#pragma once

#include "cli.h"
#include "device.h"
#include "toolload.h"

#include "image/imagediff.h"

#include <cstdint>
#include <ostream>
#include <span>

namespace tarvexctl {

extern const std::string_view kLoadHelp, kSumHelp;
int RunLoad(const std::vector<std::string>& args, Io& io);
int RunSum(const std::vector<std::string>& args, Io& io);

// Emulator commands (cmd_emulator.cpp; find in cmd_find.cpp, watch in cmd_watch.cpp).
extern const std::string_view kFindHelp, kWriteHelp, kReadHelp, kVerifyHelp, kRunHelp, kStopHelp, kResetHelp,
    kRomHelp, kAutoHelp;
int RunFind(const std::vector<std::string>& args, Io& io);
int RunWrite(const std::vector<std::string>& args, Io& io);
int RunRead(const std::vector<std::string>& args, Io& io);
int RunVerify(const std::vector<std::string>& args, Io& io);
int RunRun(const std::vector<std::string>& args, Io& io);
int RunStop(const std::vector<std::string>& args, Io& io);
int RunReset(const std::vector<std::string>& args, Io& io);
int RunRom(const std::vector<std::string>& args, Io& io);
int RunAuto(const std::vector<std::string>& args, Io& io);
// Reports a read-back's comparison as verify does, as text or JSON: the first ranges of `diff`
// with the bytes wanted and got. Returns 0 when identical, 6 when not.
int ReportComparison(const SImageDiff& diff, std::span<const std::uint8_t> wanted, std::span<const std::uint8_t> got,
                     std::string_view command, const std::string& fileName, bool bQuiet, bool bJson,
                     std::ostream& report);

// 16-bit pairs (cmd_pair.cpp): write, read and verify on two emulators.
int WritePair(const std::pair<SDeviceChoice, SDeviceChoice>& devices, const std::string& file,
              const SLoadChoice& choice, bool bVerify, Io& io);
int ReadPair(const std::pair<SDeviceChoice, SDeviceChoice>& devices, const std::string& out, std::uint32_t romSize,
             const ImageWriteOptions& format, Io& io);
int VerifyPair(const std::pair<SDeviceChoice, SDeviceChoice>& devices, const std::string& file,
               const SLoadChoice& choice, bool bJson, Io& io);
// A pair's image is twice the ROM; more than the 1 MiB image holds is a usage error.
void CheckPairSize(std::uint32_t romSize);

extern const std::string_view kWatchHelp;
int RunWatch(const std::vector<std::string>& args, Io& io);

}  // namespace tarvexctl
