// SPDX-License-Identifier: MIT
// Device choice, the link's messages and the exit codes of tarvexctl's emulator commands.
#include "device.h"

#include <cstdio>

namespace tarvexctl {
namespace {

SDeviceChoice ParseDevice(const std::string& text)
{
    bool bAmbiguous = false;
    const std::optional<SDeviceSelector> selector = SDeviceSelector::Parse(text, &bAmbiguous);
    if (bAmbiguous) {
        const std::string number = std::to_string(std::strtoul(text.c_str(), nullptr, 10));
        throw UsageError("'" + text + "' reads as emulator number " + number + " and as a serial number: give " +
                         number + " for the number or serial:" + text + " for the serial number");
    }
    if (text.empty())
        throw UsageError("an empty device name (use a number, port:BUS-PORT such as port:1-4.2, or serial:SERIAL)");
    if (!selector)
        throw UsageError("'" + text + "' names no emulator (use a number, port:BUS-PORT such as port:1-4.2, or "
                         "serial:SERIAL)");
    return {text, *selector, true};
}

std::string UsbIdText(const SUsbId& id)
{
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", id.nVendor, id.nProduct);
    return text;
}

}  // namespace

SDeviceChoice DeviceOf(const ArgParser& parser)
{
    const std::optional<std::string> device = parser.Value("device");
    if (!device)
        return {"0", SDeviceSelector::Index(0), false};
    return ParseDevice(*device);
}

std::optional<std::pair<SDeviceChoice, SDeviceChoice>> PairOf(const ArgParser& parser)
{
    const std::optional<std::string> pair = parser.Value("pair");
    if (!pair)
        return std::nullopt;
    if (parser.Has("device"))
        throw UsageError("--device and --pair cannot be given together");
    const std::size_t comma = pair->find(',');
    if (comma == std::string::npos || pair->find(',', comma + 1) != std::string::npos)
        throw UsageError("--pair takes two devices separated by a comma, e.g. --pair 0,1");
    std::pair<SDeviceChoice, SDeviceChoice> devices{ParseDevice(pair->substr(0, comma)),
                                                    ParseDevice(pair->substr(comma + 1))};
    if (devices.first.selector == devices.second.selector)
        throw UsageError("--pair names " + devices.first.sText + " twice; a pair takes two different emulators");
    return devices;
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
        // The count goes with the first line; the lines after it give the cause.
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

CToolLink::CToolLink(std::string_view command, Io& io) : m_command(command), m_io(io)
{
    std::string warning;
    m_ids = UsbIdsFromEnvironment(&warning);
    if (!warning.empty())
        m_io.err << "tarvexctl " << m_command << ": warning: " << warning << '\n';
}

std::unique_ptr<CUsbTransport> CToolLink::Transport(const SDeviceChoice& device) const
{
    auto transport = std::make_unique<CUsbTransport>(m_ids);
    transport->SelectDevice(device.selector);
    return transport;
}

int ExitOf(EEmuResult result, const SOperationReport& report)
{
    switch (result) {
    case EEmuResult::kOk: return kExitOk;
    case EEmuResult::kNoDevice:
        // Busy is no absence: the emulator is there, another program has it.
        return report.failure.eError == ETransferError::kBusy ? kExitTransfer : kExitNoEmulator;
    case EEmuResult::kTransferFailed: return kExitTransfer;
    }
    return kExitTransfer;
}

int CToolLink::Finish(EEmuResult result, const SOperationReport& report, const SDeviceChoice& device, const char* done,
                      const char* after)
{
    Flush();
    if (result == EEmuResult::kNoDevice && report.failure.eError == ETransferError::kNoDevice && device.bGiven) {
        // Say what was asked for and what there is to choose from.
        m_io.err << "tarvexctl " << m_command << ": no emulator matches --device " << device.sText << " ("
                 << device.selector.Describe() << ")";
        const SEmulatorList list = CUsbTransport(m_ids).ListEmulators();
        if (list.emulators.empty())
            m_io.err << "; none is attached\n";
        else
            m_io.err << "; attached:\n";
        for (const SEmulatorInfo& e : list.emulators)
            m_io.err << "  " << e.nIndex << "  port:" << e.sPortPath << "  " << UsbIdText(e.id) << "  "
                     << (e.sSerial.empty() ? std::string("-") : "serial:" + e.sSerial) << '\n';
    }
    if (result == EEmuResult::kTransferFailed && done != nullptr && report.nBlocks > 0 &&
        report.nBlocksDone < report.nBlocks)
        m_io.err << "tarvexctl " << m_command << ": " << report.nBlocksDone << " of " << report.nBlocks << " blocks "
                 << done << (after ? "; " : "") << (after ? after : "") << '\n';
    return ExitOf(result, report);
}

}  // namespace tarvexctl
