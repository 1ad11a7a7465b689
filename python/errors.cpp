// SPDX-License-Identifier: MIT
// The module's exceptions: one class per cause, each with the core's text and its details.
#include "module.h"

#include "emulink/romtypes.h"
#include "emulink/transport.h"

#include <initializer_list>
#include <utility>

namespace tarvexpy {
namespace {

struct SErrors {
    PyObject* error = nullptr;
    PyObject* notFound = nullptr;
    PyObject* busy = nullptr;
    PyObject* accessDenied = nullptr;
    PyObject* transfer = nullptr;
    PyObject* load = nullptr;
    PyObject* verify = nullptr;
    PyObject* romTooSmall = nullptr;
};
// Kept for the life of the process, as the module that holds them.
SErrors g_errors;

PyObject* NewClass(py::module_& m, const char* name, const char* doc, py::handle bases,
                   std::initializer_list<const char*> attributes)
{
    const std::string qualified = std::string("tarvex.") + name;
    PyObject* cls = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
    if (!cls)
        throw py::error_already_set();
    // Defaults on the class, so that every instance answers them.
    for (const char* attribute : attributes)
        py::setattr(cls, attribute, py::none());
    m.add_object(name, py::handle(cls));
    return cls;
}

using SAttribute = std::pair<const char*, py::object>;

[[noreturn]] void Raise(PyObject* cls, const std::string& text, std::initializer_list<SAttribute> attributes)
{
    py::object e = py::reinterpret_borrow<py::object>(cls)(text);
    for (const auto& [name, value] : attributes)
        e.attr(name) = value;
    PyErr_SetObject(cls, e.ptr());
    throw py::error_already_set();
}

py::object TextOrNone(const std::string& text)
{
    return text.empty() ? py::object(py::none()) : py::object(py::str(text));
}

}  // namespace

void BindErrors(py::module_& m)
{
    const py::tuple base = py::make_tuple(py::handle(PyExc_Exception));
    g_errors.error = NewClass(m, "Error", "Anything the emulator or an image file refused.", base, {});
    const py::tuple error = py::make_tuple(py::handle(g_errors.error));
    const auto emulator = {"cause", "error", "device"};
    g_errors.notFound = NewClass(m, "NotFound",
                                 "No emulator where one was asked for, or one that cannot be opened for another reason "
                                 "than access or another program.\n\ncause: the core's line on why (None when the "
                                 "emulator is simply absent); error: the short name ('no device'); device: which "
                                 "emulator was asked for.",
                                 error, emulator);
    g_errors.busy = NewClass(m, "Busy", "Another program holds the emulator. Nothing was sent.", error, emulator);
    g_errors.accessDenied = NewClass(m, "AccessDenied",
                                     "The emulator's device node may not be opened by this user (no udev rules). "
                                     "Nothing was sent.",
                                     error, emulator);
    g_errors.transfer = NewClass(m, "TransferError",
                                 "A transfer failed after the emulator was opened; the ones after it were skipped.\n\n"
                                 "blocks_done of blocks_total data blocks went through (both 0 for a single command).",
                                 error, {"cause", "error", "device", "blocks_done", "blocks_total"});
    g_errors.load = NewClass(m, "LoadError",
                             "An image file that could not be read, or that strict=True refused for its warnings "
                             "(then in .warnings, as Image.warnings has them).",
                             error, {"warnings"});
    g_errors.verify = NewClass(m, "VerifyError",
                               "The read-back after a write differs from the image: .differences lists the ranges.",
                               error, {"differences"});
    g_errors.romTooSmall =
        NewClass(m, "RomTooSmall",
                 "The image holds data beyond the ROM size while the ROM type was never set: set Emulator.rom.",
                 py::make_tuple(py::handle(g_errors.error), py::handle(PyExc_ValueError)), {});
    py::setattr(g_errors.load, "warnings", py::list());
    py::setattr(g_errors.verify, "differences", py::list());
}

void RaiseLoadError(const std::string& text, const LoadDiagnostics* diagnostics)
{
    Raise(g_errors.load, text, {{"warnings", diagnostics ? WarningList(*diagnostics) : py::list()}});
}

void RaiseEmulatorError(EEmuResult result, const SOperationReport& report, const std::string& text,
                        const std::string& device)
{
    const STransferStatus& failure = report.failure;
    const py::object cause = TextOrNone(DescribeCause(failure));
    const py::object error = TextOrNone(failure.Ok() ? "" : TransferErrorName(failure.eError));
    if (result == EEmuResult::kTransferFailed)
        Raise(g_errors.transfer, text,
              {{"cause", cause},
               {"error", error},
               {"device", py::str(device)},
               {"blocks_done", py::int_(report.nBlocksDone)},
               {"blocks_total", py::int_(report.nBlocks)}});
    PyObject* cls = g_errors.notFound;
    if (failure.eError == ETransferError::kBusy)
        cls = g_errors.busy;
    else if (failure.eError == ETransferError::kAccessDenied)
        cls = g_errors.accessDenied;
    Raise(cls, text, {{"cause", cause}, {"error", error}, {"device", py::str(device)}});
}

void RaiseVerifyError(const std::string& text, const std::vector<SDiffRange>& differences)
{
    Raise(g_errors.verify, text, {{"differences", RangeList(differences)}});
}

void RaiseRomTooSmall(const std::string& text)
{
    Raise(g_errors.romTooSmall, text, {});
}

void RaiseValueError(const std::string& text)
{
    throw py::value_error(text);
}

std::uint8_t ByteOf(long long value, const char* what)
{
    if (value < 0 || value > 255)
        RaiseValueError(std::string(what) + " takes a byte, 0 to 255 (0x00 to 0xff), not " + std::to_string(value));
    return static_cast<std::uint8_t>(value);
}

int RomIndexOf(py::handle rom)
{
    if (py::isinstance<py::str>(rom)) {
        const std::string text = rom.cast<std::string>();
        if (const std::optional<int> index = FindRomType(text))
            return *index;
        RaiseValueError("unknown ROM type '" + text + "' (use 27C64 ... 27C080 or 0 to 7)");
    }
    if (py::isinstance<py::int_>(rom) && !py::isinstance<py::bool_>(rom)) {
        const long long index = rom.cast<long long>();
        if (index >= 0 && index < kRomTypeCount)
            return static_cast<int>(index);
        RaiseValueError("ROM type index " + std::to_string(index) + " is not 0 to 7");
    }
    throw py::type_error("a ROM type is a name such as '27C256' or an index 0 to 7");
}

}  // namespace tarvexpy
