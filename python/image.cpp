// SPDX-License-Identifier: MIT
// tarvex.Image: the core's ROM image, loaded by its loader, written by its writers.
#include "module.h"

#include "emulink/emuprotocol.h"
#include "image/checksum.h"
#include "image/imageloader.h"
#include "image/imagewriter.h"
#include "image/loadmap.h"
#include "image/romimage.h"
#include "image/transform.h"
#include "util/fileutil.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace tarvexpy {
namespace {

std::string PathOf(py::handle path)
{
    return py::module_::import("os").attr("fsdecode")(path).cast<std::string>();
}

std::uint64_t CountOf(py::handle value, const char* what)
{
    if (value.is_none())
        return 0;
    const py::int_ number = py::reinterpret_borrow<py::object>(value);
    const long long n = number.cast<long long>();
    if (n < 0)
        RaiseValueError(std::string(what) + " may not be negative");
    return static_cast<std::uint64_t>(n);
}

CRomImage Load(py::handle path, const std::string& format, long long fill, py::handle rom, py::handle base,
               py::handle skip, py::handle at, bool wrap, bool segments, bool strict)
{
    const std::string fileName = PathOf(path);
    ImageLoadOptions options;
    if (!ParseImageFormat(format, options.format))
        RaiseValueError("unknown format '" + format + "' (use auto, ihex, bin, srec or xtek)");
    options.fill = ByteOf(fill, "fill");
    if (!rom.is_none())
        options.romSize = RomSizeOfIndex(RomIndexOf(rom));
    options.map.base = CountOf(base, "base");
    options.map.skip = CountOf(skip, "skip");
    const std::uint64_t start = CountOf(at, "at");
    if (start >= kRomImageSize)
        RaiseValueError("at= lies beyond the 1 MiB image");
    options.map.at = static_cast<std::uint32_t>(start);
    options.map.wrap = wrap;
    options.map.segments = segments;

    CRomImage image(options.fill);
    ImageLoadResult result;
    {
        py::gil_scoped_release nogil;
        result = LoadImage(fileName, options, image);
    }
    if (!result.ok && result.misuse)
        RaiseValueError(result.message);
    if (!result.ok)
        RaiseLoadError(result.message, nullptr);
    const LoadDiagnostics& diagnostics = image.Diagnostics();
    if (strict && !diagnostics.Empty()) {
        // The text tarvexctl --strict prints, the warnings after it.
        const std::size_t n = diagnostics.Warnings().size();
        std::string text = std::to_string(n) + (n == 1 ? " warning" : " warnings") + " about " + image.Source() +
                           ", so it was not used";
        for (const LoadWarning& w : diagnostics.Warnings())
            text += "\n" + FormatLoadWarning(image.Source(), w);
        RaiseLoadError(text, &diagnostics);
    }
    return image;
}

CRomImage FromBytes(const py::buffer& data, long long fill)
{
    const py::buffer_info info = data.request();
    if (info.ndim != 1 || info.itemsize != 1 || info.strides[0] != 1)
        throw py::type_error("from_bytes takes contiguous bytes (bytes, bytearray, memoryview)");
    const auto size = static_cast<std::size_t>(info.size);
    if (size > kRomImageSize)
        RaiseValueError(std::to_string(size) + " bytes are more than the 1 MiB (1048576 bytes) an image holds");
    CRomImage image(ByteOf(fill, "fill"));
    std::memcpy(image.Data(), info.ptr, size);
    image.MarkSet(0, size);
    image.SetBytesRead(size);
    image.SetSource("bytes");
    image.SetFormat(ImageFormat::Binary);
    return image;
}

// Python's index rules: negative counts from the end; IndexError outside.
std::size_t IndexOf(py::ssize_t index)
{
    const auto size = static_cast<py::ssize_t>(kRomImageSize);
    if (index < 0)
        index += size;
    if (index < 0 || index >= size)
        throw py::index_error("image index out of range (the image holds 1048576 bytes)");
    return static_cast<std::size_t>(index);
}

py::bytes Slice(const CRomImage& image, const py::slice& slice)
{
    std::size_t start = 0, stop = 0, step = 0, length = 0;
    if (!slice.compute(kRomImageSize, &start, &stop, &step, &length))
        throw py::error_already_set();
    if (step == 1)
        return py::bytes(reinterpret_cast<const char*>(image.Data() + start), length);
    std::string bytes(length, '\0');
    for (std::size_t k = 0; k < length; ++k)
        bytes[k] = static_cast<char>(image.Data()[start + k * step]);
    return py::bytes(bytes);
}

void SetSlice(CRomImage& image, const py::slice& slice, const py::buffer& data)
{
    std::size_t start = 0, stop = 0, step = 0, length = 0;
    if (!slice.compute(kRomImageSize, &start, &stop, &step, &length))
        throw py::error_already_set();
    const py::buffer_info info = data.request();
    if (info.ndim != 1 || info.itemsize != 1 || info.strides[0] != 1)
        throw py::type_error("an image slice takes contiguous bytes");
    if (static_cast<std::size_t>(info.size) != length)
        RaiseValueError("the image's size is fixed: a slice of " + std::to_string(length) + " bytes takes " +
                        std::to_string(length) + " bytes, not " + std::to_string(info.size));
    const auto* bytes = static_cast<const std::uint8_t*>(info.ptr);
    if (step == 1) {
        std::memmove(image.Data() + start, bytes, length);
        image.MarkSet(static_cast<std::uint32_t>(start), length);
        return;
    }
    for (std::size_t k = 0; k < length; ++k) {
        image.Data()[start + k * step] = bytes[k];
        image.MarkSet(static_cast<std::uint32_t>(start + k * step), 1);
    }
}

py::list SetRanges(const CRomImage& image)
{
    std::vector<SDiffRange> ranges;
    for (const SAddressRange& r : image.SetRanges())
        ranges.push_back({r.nStart, r.nEnd});
    return RangeList(ranges);
}

py::object Sums(const CRomImage& image, py::handle rom)
{
    const ImageChecksums sums = ComputeChecksums(image.Window(RomSizeOfIndex(RomIndexOf(rom))));
    return Types().sums(sums.sum8, sums.sum16, sums.crc32);
}

void Save(const CRomImage& image, py::handle path, py::handle format)
{
    const std::string fileName = PathOf(path);
    ImageWriteOptions options = WriteOptionsForFileName(fileName);
    if (!format.is_none()) {
        const std::string name = format.cast<std::string>();
        ImageFormat chosen = ImageFormat::Auto;
        if (!ParseImageFormat(name, chosen) || chosen == ImageFormat::Auto || chosen == ImageFormat::TekHex)
            RaiseValueError("unknown output format '" + name + "' (use ihex, srec or bin)");
        // The name's own options (S-record address size) when it agrees with the format asked for.
        if (options.format != chosen)
            options = ImageWriteOptions{chosen};
    }
    std::string error;
    bool ok = false;
    {
        py::gil_scoped_release nogil;
        if (options.format == ImageFormat::Binary) {
            ok = util::WriteFileAtomically(fileName, image.Bytes(), error);
        } else if (error = CheckWriteOptions(image.Bytes(), options); error.empty()) {
            const std::string text = EncodeImageToString(image.Bytes(), options);
            ok = util::WriteFileAtomically(
                fileName, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, error);
        } else {
            error = "cannot write " + fileName + ": " + error;
        }
    }
    if (!ok) {
        PyErr_SetString(PyExc_OSError, error.c_str());
        throw py::error_already_set();
    }
}

// The ROM window a transform works on: `rom` when given, else the ROM type the image was loaded
// for, else (when `required` is false) the whole image.
std::uint32_t WindowOf(const py::object& self, py::handle rom, const char* what, bool required)
{
    if (!rom.is_none())
        return RomSizeOfIndex(RomIndexOf(rom));
    if (py::hasattr(self, "_rom_size"))
        return self.attr("_rom_size").cast<std::uint32_t>();
    if (required)
        RaiseValueError(std::string(what) + " needs the ROM window: give rom= here or to Image.load");
    return static_cast<std::uint32_t>(kRomImageSize);
}

// A transform of the core on the image; what it refuses is a ValueError.
void Transform(const py::object& self, std::uint32_t window, const std::function<std::string(CRomImage&, std::uint32_t)>& step)
{
    if (const std::string why = step(self.cast<CRomImage&>(), window); !why.empty())
        RaiseValueError(why);
}

// The load map as tarvexctl load --map --json gives it, in Python's terms.
py::dict LoadMapOf(const py::object& self, py::handle rom)
{
    const CRomImage& image = self.cast<const CRomImage&>();
    const SLoadMap map = BuildLoadMap(image, WindowOf(self, rom, "load_map", false));
    auto ranges = [](const std::vector<SLoadMapRange>& list) {
        py::list out;
        for (const SLoadMapRange& r : list) {
            py::dict d;
            d["start"] = r.start;
            d["end"] = r.end;
            d["file"] = r.file;
            d["line"] = r.line ? py::object(py::int_(r.line)) : py::object(py::none());
            d["from_file"] = r.fromFile;
            out.append(d);
        }
        return out;
    };
    py::dict result;
    result["window"] = map.window;
    result["set"] = ranges(map.set);
    py::list fill;
    for (const SAddressRange& r : map.fill)
        fill.append(Types().range(r.nStart, r.nEnd));
    result["fill"] = fill;
    result["beyond"] = ranges(map.beyond);
    py::list passed;
    for (const SPassedRun& r : map.passed)
        passed.append(Types().range(r.fileStart, r.fileEnd));
    result["passed"] = passed;
    result["passed_bytes"] = map.passedBytes;
    result["entry_point"] = map.entry ? py::object(py::int_(*map.entry)) : py::object(py::none());
    return result;
}

std::string Repr(const CRomImage& image)
{
    char count[24];
    std::snprintf(count, sizeof count, "%#llx", static_cast<unsigned long long>(image.BytesRead()));
    return "<tarvex.Image " + (image.Source().empty() ? std::string("(new)") : image.Source()) + ": " +
           ImageFormatName(image.Format()) + ", " + count + " bytes read>";
}

}  // namespace

py::list WarningList(const LoadDiagnostics& diagnostics)
{
    py::list list;
    for (const LoadWarning& w : diagnostics.Warnings())
        list.append(Types().warning(w.line ? py::object(py::int_(w.line)) : py::object(py::none()), w.message));
    return list;
}

py::list RangeList(const std::vector<SDiffRange>& ranges)
{
    py::list list;
    for (const SDiffRange& r : ranges)
        list.append(Types().range(r.nStart, r.nEnd));
    return list;
}

void BindImage(py::module_& m)
{
    py::class_<CRomImage>(m, "Image", py::buffer_protocol(), py::dynamic_attr(), R"(The 1 MiB ROM image, as large as the largest ROM type.

Bytes no file set hold the fill byte. An Image supports the buffer protocol
(bytes(img), memoryview(img)), indexing and slicing: img[0x100] is an int,
img[0:16] bytes; img[0x100] = 0x12 and img[0:4] = b"abcd" change it and mark
those bytes as set (a write through a memoryview changes the bytes alone).
len(img) is always 1048576.)")
        .def(py::init([](long long fill) { return CRomImage(ByteOf(fill, "fill")); }), py::arg("fill") = 0,
             "An image with every byte `fill` and nothing set.")
        .def_static("load",
                    [](py::handle path, const std::string& format, long long fill, py::handle rom, py::handle base,
                       py::handle skip, py::handle at, bool wrap, bool segments, bool strict) {
                        py::object image =
                            py::cast(Load(path, format, fill, rom, base, skip, at, wrap, segments, strict));
                        // The transforms' window unless they are given another.
                        if (!rom.is_none())
                            image.attr("_rom_size") = RomSizeOfIndex(RomIndexOf(rom));
                        return image;
                    },
                    py::arg("path"), py::arg("format") = "auto", py::arg("fill") = 0,
                    py::arg("rom") = py::none(), py::arg("base") = py::none(), py::arg("skip") = py::none(),
                    py::arg("at") = py::none(), py::arg("wrap") = false, py::arg("segments") = false,
                    py::arg("strict") = false,
                    R"(Loads an Intel HEX, S-record, extended Tektronix or binary file.

format: "auto" (from the first characters), "ihex", "bin", "srec" or "xtek".
fill: the byte wherever the file sets nothing.
rom: a ROM type ("27C256" or 0 to 7): data above its size draws a warning,
and the transforms work on its window unless told another.
base: record formats, ROM address = file address - base. skip: binary, the
image starts at the file's byte `skip`. at: the data starts at this ROM
address. wrap: addresses map modulo the ROM size. segments: Intel HEX type-02
records add segment x 16.
strict: any warning raises LoadError (with the warnings) instead.
The file is read without the GIL. Raises LoadError when it cannot be read.)")
        .def_static("from_bytes", &FromBytes, py::arg("data"), py::arg("fill") = 0,
                    "An image whose first len(data) bytes are `data` (set), the rest `fill`.")
        .def_property_readonly(
            "warnings", [](const CRomImage& image) { return WarningList(image.Diagnostics()); },
            "What the load found doubtful, as LoadWarning(line, text); line is None when no line is concerned.")
        .def_property_readonly(
            "entry_point",
            [](const CRomImage& image) -> py::object {
                if (const auto entry = image.EntryPoint())
                    return py::int_(*entry);
                return py::none();
            },
            "The start address a record named (Intel HEX 03/05, S-record S7-S9), or None.")
        .def("load_map", &LoadMapOf, py::arg("rom") = py::none(),
             R"(Where the load put the file's bytes, in ROM addresses, as `tarvexctl load --map --json` says it.

A dict: "window" (the ROM window: rom=, or the ROM type given to load, else
the whole image), "set" (the set ranges inside it, each a dict with "start",
"end", "file" (the file address of its first byte), "line" (the record that
started it, None for binary) and "from_file"), "fill" (Range list), "beyond"
(set ranges past the window, not downloaded), "passed" (file addresses with no
place, the first few, as Range) with "passed_bytes", and "entry_point".)")
        .def_property_readonly("ranges", &SetRanges,
                               "The addresses the file set, as Range(start, end) with both ends included, ascending.")
        .def_property_readonly(
            "count", [](const CRomImage& image) { return image.BytesRead(); },
            "\"Bytes were read\": for the record formats the highest address set plus one, for a binary file "
            "its length.")
        .def_property_readonly(
            "format", [](const CRomImage& image) { return ImageFormatName(image.Format()); },
            "The format the file was read as: \"ihex\", \"bin\", \"srec\" or \"xtek\".")
        .def_property_readonly(
            "source", [](const CRomImage& image) { return image.Source(); }, "The file the image came from.")
        .def_property_readonly(
            "fill", [](const CRomImage& image) { return image.FillByte(); }, "The fill byte.")
        .def("sums", &Sums, py::arg("rom"),
             "Sums(sum8, sum16, crc32) over the first bytes of the image that a ROM of type `rom` holds.")
        .def(
            "swap_bytes",
            [](const py::object& self, py::handle rom) {
                Transform(self, WindowOf(self, rom, "swap_bytes", false), SwapBytes);
            },
            py::arg("rom") = py::none(),
            "Swaps the two bytes of every 16-bit word of the ROM window (rom=, or the ROM type given to "
            "load, else the whole image), as tarvexctl --swap-bytes does.")
        .def(
            "swap_lines",
            [](const py::object& self, unsigned a, unsigned b, py::handle rom) {
                Transform(self, WindowOf(self, rom, "swap_lines", false),
                          [a, b](CRomImage& image, std::uint32_t window) { return SwapAddressLines(image, window, a, b); });
            },
            py::arg("a"), py::arg("b"), py::arg("rom") = py::none(),
            "Swaps address lines a and b (0 is A0) over the ROM window, as tarvexctl --swap-lines A,B does. "
            "Raises ValueError for a line the window does not have.")
        .def(
            "put_checksum",
            [](const py::object& self, const std::string& kind, std::uint32_t addr, py::handle rom) {
                ChecksumKind parsed;
                if (!ParseChecksumKind(kind, parsed))
                    RaiseValueError("unknown checksum kind '" + kind + "' (use sum8, sum16le, sum16be, crc32le or "
                                    "crc32be)");
                std::uint32_t stored = 0;
                Transform(self, WindowOf(self, rom, "put_checksum", true),
                          [&](CRomImage& image, std::uint32_t window) {
                              return PutChecksum(image, window, parsed, addr, &stored);
                          });
                return stored;
            },
            py::arg("kind"), py::arg("addr"), py::arg("rom") = py::none(),
            R"(Stores a checksum at addr of the ROM window (rom=, or the ROM type given to load) and returns it.

kind: "sum8" (the byte that makes the 8-bit sum of the whole window zero),
"sum16le"/"sum16be" (the 16-bit sum of the bytes below addr), "crc32le"/
"crc32be" (zlib's CRC-32 of the bytes below addr). Raises ValueError when the
value would not fit in the window.)")
        .def("save", &Save, py::arg("path"), py::arg("format") = py::none(),
             R"(Writes the whole image to `path` as "ihex", "srec" or "bin".

Without `format` the extension decides: .hex/.ihx Intel HEX, .s19/.s28/.s37/
.srec/.mot S-record, anything else binary. The file is replaced whole
(readers see the old content or the new). Raises OSError.)")
        .def(
            "copy", [](const CRomImage& image) { return CRomImage(image); }, "A copy of the image.")
        .def("__copy__", [](const CRomImage& image) { return CRomImage(image); })
        .def(
            "__deepcopy__", [](const CRomImage& image, py::handle) { return CRomImage(image); }, py::arg("memo"))
        .def("__len__", [](const CRomImage&) { return kRomImageSize; })
        .def("__getitem__", [](const CRomImage& image, py::ssize_t index) { return image.Data()[IndexOf(index)]; })
        .def("__getitem__", &Slice)
        .def("__setitem__",
             [](CRomImage& image, py::ssize_t index, long long value) {
                 const std::size_t at = IndexOf(index);
                 image.Data()[at] = ByteOf(value, "an image byte");
                 image.MarkSet(static_cast<std::uint32_t>(at), 1);
             })
        .def("__setitem__", &SetSlice)
        .def("__repr__", &Repr)
        .def_buffer([](CRomImage& image) {
            return py::buffer_info(image.Data(), 1, py::format_descriptor<std::uint8_t>::format(), 1,
                                   {static_cast<py::ssize_t>(kRomImageSize)}, {py::ssize_t{1}}, false);
        });
}

}  // namespace tarvexpy
