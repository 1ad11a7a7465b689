// Declarations of the sub-commands' entry points and help texts.
#pragma once

#include "cli.h"

namespace tarvexctl {

extern const std::string_view kLoadHelp;
int RunLoad(const std::vector<std::string>& args, Io& io);

}  // namespace tarvexctl
