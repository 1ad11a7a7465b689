// SPDX-License-Identifier: MIT
// tarvexctl: command-line control of the image loader and the emulator.
#include "cli.h"

#include <iostream>

int main(int argc, char** argv)
{
    return tarvexctl::Run(argc, argv, {std::cout, std::cerr});
}
