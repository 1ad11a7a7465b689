// SPDX-License-Identifier: MIT
// Which emulator a command talks to (--device), and 16-bit pairs of emulators (--pair).
#pragma once

#include "toolload.h"

#include "emulink/emuprotocol.h"
#include "session/messagesink.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CUsbTransport;

namespace tarvexctl {

// "--device N|BUS-PORT|SERIAL": the emulator's number as find lists it, its USB port path
// ("1-4.2") or its serial-number string. Default "0".
std::string DeviceOf(const ArgParser& parser);
// "--pair N,M": two different devices, each as for --device; nullopt when not given.
std::optional<std::pair<std::string, std::string>> PairOf(const ArgParser& parser);

// A transport whose transfers go to `device` only (as DeviceOf gives it).
std::unique_ptr<CUsbTransport> OpenTransport(CMessageSink& sink, const std::string& device);

// The exit code of an operation's result: 0, 4 no emulator, 5 transfer failed.
int ExitOf(EEmuResult result);

// Messages of the emulator link, each distinct text kept once with its count until printed.
class CLinkMessages : public CMessageSink {
public:
    void ShowMessage(void* owner, const std::string& text) override;
    // "tarvexctl COMMAND: TEXT (N times)" for each, then forgets them.
    void Print(std::string_view command, std::ostream& err);

private:
    std::vector<std::pair<std::string, int>> m_messages;
};

// write --pair: loads FILE and downloads its even bytes to the first emulator and its odd bytes to
// the second, each as a ROM of `romSize` bytes; with `bVerify` reads both back and compares.
int WritePair(const std::pair<std::string, std::string>& devices, const std::string& file, std::uint32_t romSize,
              const SLoadChoice& choice, bool bVerify, Io& io);
// read --pair: uploads both ROMs and writes them interleaved (2 x romSize bytes) to `out`.
int ReadPair(const std::pair<std::string, std::string>& devices, const std::string& out, std::uint32_t romSize,
             const ImageWriteOptions& format, Io& io);
// verify --pair: reads both ROMs back and compares them, interleaved, with FILE.
int VerifyPair(const std::pair<std::string, std::string>& devices, const std::string& file, std::uint32_t romSize,
               const SLoadChoice& choice, bool bJson, Io& io);
// A pair's image is twice the ROM; more than the 1 MiB image holds is a usage error.
void CheckPairSize(std::uint32_t romSize);

// The help text's lines for --device and --pair.
#define TARVEXCTL_DEVICE_OPTION                                                                    \
    "  --device DEV       the emulator: its number N as 'tarvexctl find' lists it, its USB port\n" \
    "                     path BUS-PORT[.PORT...] (e.g. 1-4.2) or its serial number (default: 0)\n"
#define TARVEXCTL_PAIR_OPTION                                                                      \
    "  --pair DEV1,DEV2   a 16-bit target with two ROM sockets: image bytes 0, 2, 4, ... go to\n"  \
    "                     DEV1 and bytes 1, 3, 5, ... to DEV2, each a ROM of the --rom type, so\n" \
    "                     the image covers twice its size (up to 27C040, a 1 MiB image)\n"

}  // namespace tarvexctl
