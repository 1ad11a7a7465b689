// SPDX-License-Identifier: MIT
// `tarvexctl find`: every attached emulator with its number, port path, USB id and serial number.
#include "cli.h"
#include "commands.h"
#include "device.h"

#include "emulink/findemulators.h"
#include "emulink/usbtransport.h"

#include <cstdio>

namespace tarvexctl {

const OptionDef kFindOptions[] = {
    {"json", {}},
};
const std::string_view kFindHelp =
    "Lists every attached emulator on one line: its number N (as --device N takes\n"
    "it), its USB port path (as --device BUS-PORT takes it), its USB id and its\n"
    "serial number, or - when it has none:\n"
    "  0  1-4.2  0547:2131  A1B2\n"
    "An emulator that is there but cannot be used (no access, held by another\n"
    "program) is listed too, with the cause after it and on standard error:\n"
    "  1  1-4.3  0547:2131  -  (busy)\n"
    "\n"
    "Options:\n"
    "  --json             one JSON object per emulator and line:\n"
    "                     {\"index\":0,\"port\":\"1-4.2\",\"id\":\"0547:2131\",\n"
    "                      \"serial\":\"A1B2\",\"usable\":true,\"error\":null}\n"
    "                     (\"serial\":null when it has none; \"error\" names why one\n"
    "                     cannot be used)\n"
    "  -q, --quiet        list nothing: the exit code says whether one is usable\n"
    "  -v, --verbose      also say which USB ids were looked for\n"
    "  -h, --help         show this help\n"
    "\n"
    "Exit codes: 0 at least one usable emulator found, 2 usage error, 3 standard\n"
    "output cannot be written, 4 none found or none usable.\n";

namespace {

std::string UsbIdText(const SUsbId& id)
{
    char text[10];
    std::snprintf(text, sizeof text, "%04x:%04x", id.nVendor, id.nProduct);
    return text;
}

}  // namespace

int RunFind(const ArgParser& parser, Io& io)
{
    if (!parser.Positional().empty())
        throw UsageError("unexpected argument '" + parser.Positional().front() + "'");
    const bool bJson = parser.Has("json");
    const bool bQuiet = parser.Has("quiet");
    CToolLink link("find", io);
    if (parser.Has("verbose")) {
        std::string ids;
        for (const SUsbId& id : link.Ids())
            ids += (ids.empty() ? "" : ", ") + UsbIdText(id);
        link.Say("looking for USB ids " + ids);
    }
    const SEmulatorList list = CUsbTransport(link.Ids()).ListEmulators();
    bool bUsable = false;
    for (const SEmulatorInfo& e : list.emulators) {
        bUsable = bUsable || e.open.Ok();
        const std::string id = UsbIdText(e.id);
        if (bQuiet) {
        } else if (bJson) {
            io.out << "{\"index\":" << e.nIndex << ",\"port\":" << JsonString(e.sPortPath) << ",\"id\":\"" << id
                   << "\",\"serial\":" << (e.sSerial.empty() ? std::string("null") : JsonString(e.sSerial))
                   << ",\"usable\":" << (e.open.Ok() ? "true" : "false") << ",\"error\":"
                   << (e.open.Ok() ? std::string("null") : JsonString(TransferErrorName(e.open.eError))) << "}\n";
        } else {
            io.out << e.nIndex << "  " << e.sPortPath << "  " << id << "  " << (e.sSerial.empty() ? "-" : e.sSerial)
                   << (e.open.Ok() ? "" : std::string("  (") + TransferErrorName(e.open.eError) + ")") << '\n';
        }
        if (!e.open.Ok())
            io.err << "tarvexctl find: emulator " << e.nIndex << " (" << e.sPortPath
                   << ") cannot be used: " << DescribeCause(e.open) << '\n';
    }
    if (!bUsable) {
        // The fixed text, then why libusb could not start; each emulator there has said its cause.
        io.err << (list.emulators.empty() ? NoDriverMessage({list.status}) : std::string(kMsgNoDriver)) << '\n';
        return kExitNoEmulator;
    }
    return kExitOk;
}

}  // namespace tarvexctl
