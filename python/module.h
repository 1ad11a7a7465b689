// SPDX-License-Identifier: MIT
// What the parts of the Python module share: the result types, the exceptions and the bindings.
#pragma once

#include <pybind11/pybind11.h>

#include "image/imagediff.h"
#include "image/loaddiagnostics.h"
#include "session/emulink.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarvexpy {

namespace py = pybind11;

// The named tuples the module returns, made once at import.
struct STypes {
    py::handle range;      // Range(start, end): both ends included, as tarvexctl prints them
    py::handle warning;    // LoadWarning(line, text)
    py::handle sums;       // Sums(sum8, sum16, crc32)
    py::handle emulator;   // EmulatorInfo(index, port, id, serial, usable, reason)
};
const STypes& Types();
void MakeTypes(py::module_& m);

// The exception classes: Error and below it NotFound, Busy, AccessDenied, TransferError,
// LoadError, VerifyError and RomTooSmall.
void BindErrors(py::module_& m);
void BindImage(py::module_& m);
void BindEmulator(py::module_& m);

// The warnings of a load as a list of LoadWarning.
py::list WarningList(const LoadDiagnostics& diagnostics);
// The ranges of a comparison as a list of Range.
py::list RangeList(const std::vector<SDiffRange>& ranges);

// Each raises with the GIL held.
[[noreturn]] void RaiseLoadError(const std::string& text, const LoadDiagnostics* diagnostics);
// A failed emulator operation: the class follows the cause (NotFound, Busy, AccessDenied,
// TransferError); `text` is what the core said, with what tarvexctl adds to it.
[[noreturn]] void RaiseEmulatorError(EEmuResult result, const SOperationReport& report, const std::string& text,
                                     const std::string& device);
[[noreturn]] void RaiseVerifyError(const std::string& text, const std::vector<SDiffRange>& differences);
[[noreturn]] void RaiseRomTooSmall(const std::string& text);
[[noreturn]] void RaiseValueError(const std::string& text);

// 0 to 255, or ValueError naming `what`.
std::uint8_t ByteOf(long long value, const char* what);
// A ROM type from its name ("27C256", any case) or index 0 to 7, or ValueError.
int RomIndexOf(py::handle rom);

}  // namespace tarvexpy
