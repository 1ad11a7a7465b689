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
extern const OptionDef kLoadOptions[6], kSumOptions[3];
int RunLoad(const ArgParser& parser, Io& io);
int RunSum(const ArgParser& parser, Io& io);

// Emulator commands (cmd_emulator.cpp; find in cmd_find.cpp, watch in cmd_watch.cpp).
extern const std::string_view kFindHelp, kWriteHelp, kReadHelp, kVerifyHelp, kRunHelp, kStopHelp, kResetHelp,
    kRomHelp, kAutoHelp;
extern const OptionDef kFindOptions[1], kWriteOptions[4], kVerifyOptions[4], kReadOptions[4],
    kDeviceOnlyOptions[1], kAutoOptions[3];
int RunFind(const ArgParser& parser, Io& io);
int RunWrite(const ArgParser& parser, Io& io);
int RunRead(const ArgParser& parser, Io& io);
int RunVerify(const ArgParser& parser, Io& io);
int RunRun(const ArgParser& parser, Io& io);
int RunStop(const ArgParser& parser, Io& io);
int RunReset(const ArgParser& parser, Io& io);
int RunRom(const ArgParser& parser, Io& io);
int RunAuto(const ArgParser& parser, Io& io);
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
extern const OptionDef kWatchOptions[7];
int RunWatch(const ArgParser& parser, Io& io);

}  // namespace tarvexctl
