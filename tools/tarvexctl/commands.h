// Declarations of the sub-commands' entry points and help texts.
#pragma once

#include "cli.h"

namespace tarvexctl {

extern const std::string_view kLoadHelp;
int RunLoad(const std::vector<std::string>& args, Io& io);

// Emulator commands (cmd_emulator.cpp).
extern const std::string_view kFindHelp, kWriteHelp, kReadHelp, kRunHelp, kStopHelp, kResetHelp, kRomHelp,
    kAutoHelp;
int RunFind(const std::vector<std::string>& args, Io& io);
int RunWrite(const std::vector<std::string>& args, Io& io);
int RunRead(const std::vector<std::string>& args, Io& io);
int RunRun(const std::vector<std::string>& args, Io& io);
int RunStop(const std::vector<std::string>& args, Io& io);
int RunReset(const std::vector<std::string>& args, Io& io);
int RunRom(const std::vector<std::string>& args, Io& io);
int RunAuto(const std::vector<std::string>& args, Io& io);

extern const std::string_view kWatchHelp;
int RunWatch(const std::vector<std::string>& args, Io& io);

}  // namespace tarvexctl
