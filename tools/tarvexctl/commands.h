// SPDX-License-Identifier: MIT
// Declarations of the sub-commands' entry points and help texts.
#pragma once

#include "cli.h"

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
// Compares what the emulator gave back with what it should hold and reports it as verify does,
// as text or JSON; returns 0 when identical, 6 when not.
int ReportComparison(std::span<const std::uint8_t> wanted, std::span<const std::uint8_t> got, std::string_view command,
                     const std::string& fileName, bool bQuiet, bool bJson, std::ostream& report);

extern const std::string_view kWatchHelp;
int RunWatch(const std::vector<std::string>& args, Io& io);

}  // namespace tarvexctl
