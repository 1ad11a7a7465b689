// SPDX-License-Identifier: MIT
// Which emulator a command talks to (--device, --pair), the link's messages, and exit codes.
#pragma once

#include "cli.h"

#include "emulink/usbtransport.h"
#include "session/emulink.h"
#include "session/messagesink.h"

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvexctl {

// The emulator's selector as given: --device's value, or "0" when none was.
struct SDeviceChoice {
    std::string sText;
    SDeviceSelector selector;
    bool bGiven = false;
};

// "--device N|port:BUS-PORT|serial:S" (plain BUS-PORT and plain serial numbers too). A value that
// reads as an index and as a serial number ("0001") is a usage error naming both readings.
SDeviceChoice DeviceOf(const ArgParser& parser);
// "--pair DEV1,DEV2": two different devices, each as for --device; nullopt when not given.
std::optional<std::pair<SDeviceChoice, SDeviceChoice>> PairOf(const ArgParser& parser);

// Messages of the emulator link, each distinct text kept once with its count until printed.
class CLinkMessages : public CMessageSink {
public:
    void ShowMessage(void* owner, const std::string& text) override;
    // "tarvexctl COMMAND: TEXT (N times)" for each, then forgets them.
    void Print(std::string_view command, std::ostream& err);

private:
    std::vector<std::pair<std::string, int>> m_messages;
};

// What every emulator command shares: the message sink, the USB ids (a malformed TARVEX_USB_IDS
// is said once, on standard error) and the transports it makes.
class CToolLink {
public:
    CToolLink(std::string_view command, Io& io);

    CLinkMessages& Sink() { return m_sink; }
    const std::vector<SUsbId>& Ids() const { return m_ids; }
    // A transport to the emulator `device` names.
    std::unique_ptr<CUsbTransport> Transport(const SDeviceChoice& device) const;
    // Prints what the link said, then, after a failed operation, what the user should know: for a
    // device that matched nothing, what is attached; after a transfer failure inside blocks, how
    // far it got ("12 of 32 blocks written; ..."). `done` is "written" or "read"; `after` the
    // consequence of a cut operation. Returns the exit code: 0, 4 no emulator (or one that may not
    // be opened), 5 busy or transfer failed.
    int Finish(EEmuResult result, const SOperationReport& report, const SDeviceChoice& device, const char* done = nullptr,
               const char* after = nullptr);
    // Prints what the link said.
    void Flush() { m_sink.Print(m_command, m_io.err); }
    // One line of the command's own on standard error.
    void Say(const std::string& text) { m_io.err << "tarvexctl " << m_command << ": " << text << '\n'; }

private:
    std::string m_command;
    Io& m_io;
    CLinkMessages m_sink;
    std::vector<SUsbId> m_ids;
};

// The exit code of an operation's result: 0, 4 no emulator, 5 busy or transfer failed.
int ExitOf(EEmuResult result, const SOperationReport& report);

// The help text's lines for --device and --pair.
#define TARVEXCTL_DEVICE_OPTION                                                                    \
    "  --device DEV       the emulator: its number N as 'tarvexctl find' lists it\n"               \
    "                     (default 0), port:BUS-PORT[.PORT...] (e.g. port:1-4.2) or\n"             \
    "                     serial:SERIAL; a plain port path or serial number works\n"               \
    "                     too\n"
#define TARVEXCTL_PAIR_OPTION                                                                      \
    "  --pair DEV1,DEV2   a 16-bit target with two ROM sockets: image bytes 0, 2, 4,\n"            \
    "                     ... go to DEV1 and bytes 1, 3, 5, ... to DEV2, each a ROM\n"             \
    "                     of the --rom type, so the image covers twice its size (up\n"             \
    "                     to 27C040)\n"

}  // namespace tarvexctl
