// The sub-command table: add a command here with its own function in its own file.
#include "cli.h"
#include "commands.h"

namespace tarvexctl {

std::span<const Command> Commands()
{
    static const Command kCommands[] = {
        {"load", "load an Intel HEX or binary file into a 1 MiB ROM image", kLoadHelp, RunLoad},
    };
    return kCommands;
}

}  // namespace tarvexctl
