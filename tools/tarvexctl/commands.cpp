// SPDX-License-Identifier: MIT
// The sub-command table: add a command here with its own function in its own file.
#include "cli.h"
#include "commands.h"

namespace tarvexctl {

std::span<const Command> Commands()
{
    static const Command kCommands[] = {
        {"load", "load a HEX, S-record, Tektronix or binary file into a 1 MiB image", "FILE", kLoadOptions, true,
         kLoadHelp, RunLoad},
        {"sum", "print the 8-bit sum, 16-bit sum and CRC-32 of an image file's ROM", "FILE", kSumOptions, true,
         kSumHelp, RunSum},
        {"find", "list the attached emulators", "", kFindOptions, false, kFindHelp, RunFind},
        {"write", "load a file and download it to the emulator", "FILE", kWriteOptions, true, kWriteHelp, RunWrite},
        {"read", "upload the ROM from the emulator into a file", "OUT", kReadOptions, false, kReadHelp, RunRead},
        {"verify", "compare the emulator's ROM with a file", "FILE", kVerifyOptions, true, kVerifyHelp, RunVerify},
        {"run", "let the emulator run the target", "", kDeviceOnlyOptions, false, kRunHelp, RunRun},
        {"stop", "stop the target", "", kDeviceOnlyOptions, false, kStopHelp, RunStop},
        {"reset", "reset the target", "", kDeviceOnlyOptions, false, kResetHelp, RunReset},
        {"rom", "set the emulated ROM type", "TYPE", kDeviceOnlyOptions, false, kRomHelp, RunRom},
        {"auto", "load a file, then stop, download, run and reset in one go", "FILE", kAutoOptions, true, kAutoHelp,
         RunAuto},
        {"watch", "download a file, then only the blocks each change of it touches", "FILE", kWatchOptions, true,
         kWatchHelp, RunWatch},
    };
    return kCommands;
}

}  // namespace tarvexctl
