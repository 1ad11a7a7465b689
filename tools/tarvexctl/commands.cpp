// SPDX-License-Identifier: MIT
// The sub-command table: add a command here with its own function in its own file.
#include "cli.h"
#include "commands.h"

namespace tarvexctl {

std::span<const Command> Commands()
{
    static const Command kCommands[] = {
        {"load", "load a HEX, S-record, Tektronix or binary file into a 1 MiB image", kLoadHelp,
         RunLoad},
        {"sum", "print the 8-bit sum, 16-bit sum and CRC-32 of an image file's ROM", kSumHelp, RunSum},
        {"find", "list the attached emulators", kFindHelp, RunFind},
        {"write", "load a file and download it to the emulator", kWriteHelp, RunWrite},
        {"read", "upload the ROM from the emulator into a file", kReadHelp, RunRead},
        {"verify", "compare the emulator's ROM with a file", kVerifyHelp, RunVerify},
        {"run", "let the emulator run the target", kRunHelp, RunRun},
        {"stop", "stop the target", kStopHelp, RunStop},
        {"reset", "reset the target", kResetHelp, RunReset},
        {"rom", "set the emulated ROM type", kRomHelp, RunRom},
        {"auto", "stop, load, download, run and reset in one go", kAutoHelp, RunAuto},
        {"watch", "download a file, then only the blocks each change of it touches", kWatchHelp, RunWatch},
    };
    return kCommands;
}

}  // namespace tarvexctl
