// SPDX-License-Identifier: MIT
// The module 'tarvex': Tarvex's core for test rigs and scripts.
#include "module.h"

#include "tarvex_version.h"

namespace tarvexpy {
namespace {

STypes g_types;

py::handle NamedTuple(py::module_& m, const char* name, const char* fields, const char* doc)
{
    py::object type = py::module_::import("collections").attr("namedtuple")(name, fields);
    type.attr("__module__") = "tarvex";
    type.attr("__doc__") = doc;
    m.add_object(name, type);
    return type.release();  // the module holds it for good
}

}  // namespace

const STypes& Types()
{
    return g_types;
}

void MakeTypes(py::module_& m)
{
    g_types.range = NamedTuple(m, "Range", "start end", "Addresses start to end, both included.");
    g_types.warning = NamedTuple(m, "LoadWarning", "line text",
                                 "A load's warning: the first line concerned (None when none is) and the text.");
    g_types.sums = NamedTuple(m, "Sums", "sum8 sum16 crc32",
                              "8-bit and 16-bit sums of the bytes and their CRC-32 (as zlib computes it).");
    g_types.emulator = NamedTuple(m, "EmulatorInfo", "index port id serial usable reason",
                                  "An attached emulator as find() lists it.");
}

}  // namespace tarvexpy

PYBIND11_MODULE(_tarvex, m)
{
    m.doc() = R"(Tarvex's core for test rigs and scripts: ROM images and USB EPROM emulators.

    import tarvex
    fw = tarvex.Image.load("build/fw.hex")
    with tarvex.open() as emu:            # or open("port:1-4.2"), open(pair=(0, 1))
        emu.rom = "27C256"
        emu.write(fw, verify=True)
        emu.reset()

Image: load, from_bytes, the buffer protocol, slicing, sums, save.
find(), open() and Emulator: write, write_changed, read, verify, patch, run,
stop, reset. Failures raise Error's subclasses with the cause.)";
    m.attr("__version__") = TARVEX_VERSION;
    tarvexpy::MakeTypes(m);
    tarvexpy::BindErrors(m);
    tarvexpy::BindImage(m);
    tarvexpy::BindEmulator(m);
    // Named as the package that users import.
    for (const char* name : {"Image", "Emulator", "Hold"})
        m.attr(name).attr("__module__") = "tarvex";
}
