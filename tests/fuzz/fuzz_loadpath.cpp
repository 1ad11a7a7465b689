// SPDX-License-Identifier: MIT
// The whole load path: format detection, the address map, then the transforms. The same bytes
// loaded from a memory file (a regular file, read with seeks) and from a pipe (a stream read to
// its end) give the same image, set bytes, warnings and map; each transform keeps its promise
// (a swap done twice changes nothing, a checksum checks out).
#include "fuzzcheck.h"

#include "image/checksum.h"
#include "image/imageloader.h"
#include "image/loadmap.h"
#include "image/transform.h"

#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t kControl = 8;

struct Loaded {
    ImageLoadResult result;
    CRomImage image;
};

void WriteAll(int fd, const std::uint8_t* p, std::size_t n)
{
    while (n > 0) {
        const ssize_t put = ::write(fd, p, n);
        if (put <= 0)
            return;
        p += put;
        n -= static_cast<std::size_t>(put);
    }
}

bool LoadMemoryFile(const std::uint8_t* data, std::size_t size, const ImageLoadOptions& options, Loaded& out)
{
    const int fd = ::memfd_create("fuzz_loadpath", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    WriteAll(fd, data, size);
    ::lseek(fd, 0, SEEK_SET);
    out.result = LoadImageFromFd(fd, "f", options, out.image);
    ::close(fd);
    return true;
}

// The whole input must fit in the pipe: nothing reads it while it is written.
bool LoadPipe(const std::uint8_t* data, std::size_t size, const ImageLoadOptions& options, Loaded& out)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    const int capacity = ::fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    if (capacity < 0 || static_cast<std::size_t>(capacity) < size) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    WriteAll(fds[1], data, size);
    ::close(fds[1]);
    out.result = LoadImageFromFd(fds[0], "f", options, out.image);
    ::close(fds[0]);
    return true;
}

std::vector<std::string> Warnings(const CRomImage& image)
{
    std::vector<std::string> w;
    for (const LoadWarning& warning : image.Diagnostics().Warnings())
        w.push_back(FormatLoadWarning("f", warning));
    return w;
}

bool SameMap(const SLoadMap& a, const SLoadMap& b)
{
    const auto same = [](const std::vector<SLoadMapRange>& x, const std::vector<SLoadMapRange>& y) {
        if (x.size() != y.size())
            return false;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (x[i].start != y[i].start || x[i].end != y[i].end || x[i].file != y[i].file ||
                x[i].line != y[i].line || x[i].fromFile != y[i].fromFile)
                return false;
        return true;
    };
    if (a.passed.size() != b.passed.size())
        return false;
    for (std::size_t i = 0; i < a.passed.size(); ++i)
        if (a.passed[i].fileStart != b.passed[i].fileStart || a.passed[i].fileEnd != b.passed[i].fileEnd ||
            a.passed[i].why != b.passed[i].why)
            return false;
    return same(a.set, b.set) && same(a.beyond, b.beyond) && a.fill == b.fill && a.passedBytes == b.passedBytes &&
           a.entry == b.entry && a.entryRom == b.entryRom;
}

// Bytes and set bits of the window, to compare before and after a round trip.
std::vector<std::uint8_t> Snapshot(CRomImage& image, std::uint32_t window)
{
    std::vector<std::uint8_t> s(image.Data(), image.Data() + window);
    const auto* bits = reinterpret_cast<const std::uint8_t*>(image.SetBits().data());
    s.insert(s.end(), bits, bits + window / 8);
    return s;
}

void CheckTransforms(CRomImage& image, std::uint32_t window, const std::uint8_t* c)
{
    const std::vector<std::uint8_t> before = Snapshot(image, window);
    const std::size_t setBefore = image.CountSet(0, window);
    // Swaps undo themselves.
    if (c[6] & 1) {
        FUZZ_CHECK(SwapBytes(image, window).empty());
        FUZZ_CHECK(image.CountSet(0, window) == setBefore);
        FUZZ_CHECK(SwapBytes(image, window).empty());
        FUZZ_CHECK(Snapshot(image, window) == before);
    }
    const unsigned lineA = (c[6] >> 1) % 20, lineB = (c[6] >> 4) % 20;
    const std::string why = SwapAddressLines(image, window, lineA, lineB);
    FUZZ_CHECK(why.empty() == (lineA != lineB && (1u << lineA) < window && (1u << lineB) < window));
    if (why.empty()) {
        FUZZ_CHECK(image.CountSet(0, window) == setBefore);
        FUZZ_CHECK(SwapAddressLines(image, window, lineB, lineA).empty());
        FUZZ_CHECK(Snapshot(image, window) == before);
    }
    // A checksum checks out where it was put.
    const auto kind = static_cast<ChecksumKind>(c[7] % 5);
    const std::uint32_t address = (std::uint32_t{c[7]} << 8 | c[5]) % window;
    std::uint32_t stored = 0;
    const std::string bad = PutChecksum(image, window, kind, address, &stored);
    FUZZ_CHECK(bad.empty() == (address + ChecksumWidth(kind) <= window));
    if (!bad.empty())
        return;
    const std::span<const std::uint8_t> below(image.Data(), address);
    const std::uint8_t* p = image.Data() + address;
    switch (kind) {
    case ChecksumKind::Sum8: FUZZ_CHECK(Sum8(image.Window(window)) == 0); break;
    case ChecksumKind::Sum16Le:
        FUZZ_CHECK(stored == Sum16(below) && (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8) == stored);
        break;
    case ChecksumKind::Sum16Be:
        FUZZ_CHECK(stored == Sum16(below) && (std::uint32_t{p[0]} << 8 | std::uint32_t{p[1]}) == stored);
        break;
    case ChecksumKind::Crc32Le:
        FUZZ_CHECK(stored == Crc32(below) &&
                   (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                    std::uint32_t{p[3]} << 24) == stored);
        break;
    case ChecksumKind::Crc32Be:
        FUZZ_CHECK(stored == Crc32(below) &&
                   (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
                    std::uint32_t{p[3]}) == stored);
        break;
    }
    for (unsigned i = 0; i < ChecksumWidth(kind); ++i)
        FUZZ_CHECK(image.IsSet(address + i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kControl)
        return 0;
    // Eight bytes choose the options; the rest is the file.
    const std::uint8_t* c = data;
    static constexpr std::uint64_t kBases[] = {0, 0, 0xE000, 0x8000, 0x08000000, 0x10, 0xFFFFFFFFFFFFFF00ull, 0};
    ImageLoadOptions options;
    options.format = static_cast<ImageFormat>(c[0] % 5);
    options.map.wrap = (c[0] & 0x08) != 0;
    options.map.segments = (c[0] & 0x10) != 0;
    options.fill = c[0] & 0x80 ? 0xFF : 0x00;
    const auto window = static_cast<std::uint32_t>(kRomTypes[c[1] % 8].nSize);
    options.romSize = (c[1] & 0x80) != 0 || options.map.wrap ? window : 0;
    options.map.base = c[2] % 8 == 7 ? std::uint64_t{c[3]} << 8 : kBases[c[2] % 8];
    options.map.at = static_cast<std::uint32_t>(c[4] & 0x1F) << 15;  // up to past 1 MiB
    options.map.skip = c[2] & 0x80 ? c[5] : 0;

    Loaded file, pipe;
    if (!LoadMemoryFile(data + kControl, size - kControl, options, file))
        return 0;
    const bool piped = LoadPipe(data + kControl, size - kControl, options, pipe);
    FUZZ_CHECK(file.result.ok == (file.result.message.empty()));
    if (!file.result.ok) {
        FUZZ_CHECK(file.result.misuse);
        FUZZ_CHECK(!piped || (!pipe.result.ok && pipe.result.message == file.result.message));
        return 0;
    }
    const SLoadMap map = BuildLoadMap(file.image, window);
    if (piped) {
        FUZZ_CHECK(pipe.result.ok);
        FUZZ_CHECK(pipe.result.bytesRead == file.result.bytesRead);
        FUZZ_CHECK(pipe.result.complete == file.result.complete);
        FUZZ_CHECK(pipe.result.format == file.result.format);
        FUZZ_CHECK(std::memcmp(pipe.image.Data(), file.image.Data(), kRomImageSize) == 0);
        FUZZ_CHECK(pipe.image.SetRanges() == file.image.SetRanges());
        FUZZ_CHECK(Warnings(pipe.image) == Warnings(file.image));
        FUZZ_CHECK(pipe.image.EntryPoint() == file.image.EntryPoint());
        FUZZ_CHECK(SameMap(BuildLoadMap(pipe.image, window), map));
    }
    // The map accounts for every byte of the window once.
    std::uint64_t covered = 0;
    for (const SLoadMapRange& r : map.set)
        covered += r.Count();
    for (const SAddressRange& r : map.fill)
        covered += r.Count();
    FUZZ_CHECK(covered == window);
    // The count reaches past every byte set.
    FUZZ_CHECK(file.result.bytesRead >= file.image.CountSet(0, kRomImageSize));
    CheckTransforms(file.image, window, c);
    return 0;
}
