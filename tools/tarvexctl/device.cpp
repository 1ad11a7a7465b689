// SPDX-License-Identifier: MIT
// Device choice and 16-bit pairs for tarvexctl's emulator commands.
#include "device.h"

#include "cli.h"

#include "emulink/usbtransport.h"

namespace tarvexctl {
namespace {

void CheckDevice(const std::string& device)
{
    if (device.empty() || !SDeviceSelector::Parse(device))
        throw UsageError("an empty device name (use a number, a port path such as 1-4.2 or a serial number)");
}

}  // namespace

std::string DeviceOf(const ArgParser& parser)
{
    const std::optional<std::string> device = parser.Value("device");
    if (!device)
        return "0";
    CheckDevice(*device);
    return *device;
}

std::optional<std::pair<std::string, std::string>> PairOf(const ArgParser& parser)
{
    const std::optional<std::string> pair = parser.Value("pair");
    if (!pair)
        return std::nullopt;
    if (parser.Has("device"))
        throw UsageError("--device and --pair cannot be given together");
    const std::size_t comma = pair->find(',');
    if (comma == std::string::npos || pair->find(',', comma + 1) != std::string::npos)
        throw UsageError("--pair takes two devices separated by a comma, e.g. --pair 0,1");
    std::pair<std::string, std::string> devices{pair->substr(0, comma), pair->substr(comma + 1)};
    CheckDevice(devices.first);
    CheckDevice(devices.second);
    if (devices.first == devices.second)
        throw UsageError("--pair names " + devices.first + " twice; a pair takes two different emulators");
    return devices;
}

std::unique_ptr<CUsbTransport> OpenTransport(CMessageSink& sink, const std::string& device)
{
    const std::optional<SDeviceSelector> selector = SDeviceSelector::Parse(device);
    if (!selector)
        throw UsageError("'" + device + "' names no emulator (use a number, a port path such as 1-4.2 or a serial number)");
    auto transport = std::make_unique<CUsbTransport>(sink);
    transport->SelectDevice(*selector);
    return transport;
}

int ExitOf(EEmuResult result)
{
    switch (result) {
    case EEmuResult::kOk: return kExitOk;
    case EEmuResult::kNoDevice: return kExitNoEmulator;
    case EEmuResult::kTransferFailed: return kExitTransfer;
    }
    return kExitTransfer;
}

void CLinkMessages::ShowMessage(void*, const std::string& text)
{
    for (auto& [t, n] : m_messages)
        if (t == text) {
            ++n;
            return;
        }
    m_messages.emplace_back(text, 1);
}

void CLinkMessages::Print(std::string_view command, std::ostream& err)
{
    for (const auto& [text, n] : m_messages) {
        // The count goes with the first line; a second line gives the cause.
        const std::size_t nl = text.find('\n');
        err << "tarvexctl " << command << ": " << text.substr(0, nl);
        if (n > 1)
            err << " (" << n << " times)";
        if (nl != std::string::npos)
            err << text.substr(nl);
        err << '\n';
    }
    err.flush();
    m_messages.clear();
}

}  // namespace tarvexctl
