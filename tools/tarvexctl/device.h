// Which emulator a command talks to (--device), and 16-bit pairs of emulators (--pair).
#pragma once

#include "emulink/messagesink.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

class CUsbTransport;

namespace tarvexctl {

class ArgParser;

// "--device N|BUS-PORT|SERIAL": the emulator's number as find lists it, its USB port path
// ("1-4.2") or its serial-number string. Default "0".
std::string DeviceOf(const ArgParser& parser);
// "--pair N,M": two different devices, each as for --device; nullopt when not given.
std::optional<std::pair<std::string, std::string>> PairOf(const ArgParser& parser);

// A transport that talks to `device` only; null with `error` set when no such choice can be made.
std::unique_ptr<CUsbTransport> OpenTransport(CMessageSink& sink, const std::string& device, std::string& error);

// The help text's lines for --device and --pair.
#define TARVEXCTL_DEVICE_OPTION                                                                    \
    "  --device DEV       the emulator: its number N as 'tarvexctl find' lists it, its USB port\n" \
    "                     path BUS-PORT[.PORT...] (e.g. 1-4.2) or its serial number (default: 0)\n"
#define TARVEXCTL_PAIR_OPTION                                                                      \
    "  --pair DEV1,DEV2   a 16-bit target with two ROM sockets: image bytes 0, 2, 4, ... go to\n"  \
    "                     DEV1 and bytes 1, 3, 5, ... to DEV2, each a ROM of the --rom type, so\n" \
    "                     the image covers twice its size (up to 27C040, a 1 MiB image)\n"

}  // namespace tarvexctl
