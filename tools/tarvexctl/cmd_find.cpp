// SPDX-License-Identifier: MIT
// `tarvexctl find`: every attached emulator with its number, port path, USB id and serial number.
#include "cli.h"
#include "commands.h"
#include "device.h"

#include "emulink/findemulators.h"
#include "emulink/usbtransport.h"

#include <cstdio>

namespace tarvexctl {

const std::string_view kFindHelp =
    "Usage: tarvexctl find [--json]\n"
    "\n"
    "Lists every attached emulator on one line: its number N (as --device N takes it), its USB\n"
    "port path (as --device BUS-PORT takes it), its USB id and its serial number, or - when it has\n"
    "none:\n"
    "  0  1-4.2  0547:2131  A1B2\n"
    "An emulator that is there but cannot be used (no access, held by another program) is listed\n"
    "too, with the cause on standard error.\n"
    "\n"
    "Options:\n"
    "  --json             one JSON object per emulator and line:\n"
    "                     {\"index\":0,\"port\":\"1-4.2\",\"id\":\"0547:2131\",\"serial\":\"A1B2\"}\n"
    "                     (\"serial\":null when it has none; \"error\" added for one that cannot be used)\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit codes: 0 at least one usable emulator found, 2 usage error, 4 none found.\n";

namespace {

std::string UsbIdText(const SUsbId& id)
{
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", id.nVendor, id.nProduct);
    return text;
}

}  // namespace

int RunFind(const std::vector<std::string>& args, Io& io)
{
    const ArgParser parser(args, {{"json", false}});
    if (!parser.Positional().empty())
        throw UsageError("unexpected argument '" + parser.Positional().front() + "'");
    const bool bJson = parser.Has("json");
    CLinkMessages sink;
    CUsbTransport transport(sink);
    const SEmulatorList list = transport.ListEmulators();
    bool bUsable = false;
    for (const SEmulatorInfo& e : list.emulators)
        bUsable = bUsable || e.open.Ok();
    if (!bUsable) {
        // The fixed text, then why libusb or each emulator there could not be used.
        std::vector<STransferStatus> refused{list.status};
        for (const SEmulatorInfo& e : list.emulators)
            refused.push_back(e.open);
        io.err << NoDriverMessage(refused) << '\n';
        return kExitNoEmulator;
    }
    for (const SEmulatorInfo& e : list.emulators) {
        const std::string id = UsbIdText(e.id);
        if (bJson) {
            io.out << "{\"index\":" << e.nIndex << ",\"port\":" << JsonString(e.sPortPath) << ",\"id\":\"" << id
                   << "\",\"serial\":" << (e.sSerial.empty() ? std::string("null") : JsonString(e.sSerial));
            if (!e.open.Ok())
                io.out << ",\"error\":" << JsonString(TransferErrorName(e.open.eError));
            io.out << "}\n";
        } else {
            io.out << e.nIndex << "  " << e.sPortPath << "  " << id << "  " << (e.sSerial.empty() ? "-" : e.sSerial)
                   << '\n';
        }
        if (!e.open.Ok())
            io.err << "tarvexctl find: emulator " << e.nIndex << " (" << e.sPortPath
                   << ") cannot be used: " << DescribeCause(e.open) << '\n';
    }
    return kExitOk;
}

}  // namespace tarvexctl
