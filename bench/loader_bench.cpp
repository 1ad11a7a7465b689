// SPDX-License-Identifier: MIT
// Loader speed: dense 1 MiB Intel HEX, S-record and extended Tektronix images and a 1 MiB
// binary, in-process.
#include "image/checksum.h"
#include "image/imageloader.h"
#include "image/imagewriter.h"
#include "image/transform.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// Every byte of the 1 MiB image in 16-byte data records, an extended linear address record
// before each 64 KiB, CR LF line ends and an end record: about 2.9 MB of text. `upper` is added
// to the extended addresses (0x0800: a build for flash at 0x08000000).
std::string DenseIntelHex(unsigned upperBase = 0)
{
    std::mt19937 rng(1);
    std::string text;
    text.reserve(3 * 1024 * 1024);
    char line[64];
    for (unsigned a = 0; a < kRomImageSize; a += 16) {
        if (a % 0x10000 == 0) {
            const unsigned upper = upperBase + (a >> 16);
            std::snprintf(line, sizeof line, ":02000004%04X%02X\r\n", upper,
                          (0x100 - ((6 + (upper >> 8) + (upper & 0xFF)) & 0xFF)) & 0xFF);
            text += line;
        }
        unsigned sum = 16 + ((a >> 8) & 0xFF) + (a & 0xFF);
        std::snprintf(line, sizeof line, ":10%04X00", a & 0xFFFF);
        text += line;
        for (int i = 0; i < 16; ++i) {
            const unsigned b = rng() & 0xFF;
            sum += b;
            std::snprintf(line, sizeof line, "%02X", b);
            text += line;
        }
        std::snprintf(line, sizeof line, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    }
    text += ":00000001FF\r\n";
    return text;
}

std::vector<std::uint8_t> RandomImage()
{
    std::mt19937 rng(2);
    std::vector<std::uint8_t> data(kRomImageSize);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(rng());
    return data;
}

// S2 records of 32 bytes, as srec_cat writes a 1 MiB image.
std::string DenseSRecord()
{
    ImageWriteOptions o;
    o.format = ImageFormat::SRecord;
    o.bytesPerRecord = 32;
    o.sRecordCount = true;
    const auto data = RandomImage();
    return EncodeImageToString(data, o);
}

// Type 6 records of 32 bytes with eight-digit addresses, as srec_cat writes them.
std::string DenseTekHex()
{
    const auto data = RandomImage();
    std::string text;
    char line[128];
    for (unsigned a = 0; a < kRomImageSize; a += 32) {
        std::string digits;
        std::snprintf(line, sizeof line, "8%08X", a);
        digits = line;
        for (unsigned i = 0; i < 32; ++i) {
            std::snprintf(line, sizeof line, "%02X", data[a + i]);
            digits += line;
        }
        const unsigned length = static_cast<unsigned>(5 + digits.size());
        std::snprintf(line, sizeof line, "%02X6", length);
        unsigned sum = 0;
        for (char c : std::string(line) + digits)
            sum += static_cast<unsigned>(c <= '9' ? c - '0' : c - 'A' + 10);
        std::snprintf(line + 3, sizeof line - 3, "%02X", sum & 0xFF);
        text += '%';
        text += line;
        text += digits;
        text += '\n';
    }
    text += "%0781010\n";
    return text;
}

// A file under /tmp that lives as long as the benchmark needs it.
class TempFile {
public:
    explicit TempFile(const std::string& content)
    {
        char tmpl[] = "/tmp/loader_bench.XXXXXX";
        const int fd = ::mkstemp(tmpl);
        if (fd >= 0)
            ::close(fd);
        m_path = tmpl;
        std::ofstream(m_path, std::ios::binary) << content;
    }
    ~TempFile() { std::remove(m_path.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

void BM_LoadDenseIntelHexFile(benchmark::State& state)
{
    const std::string text = DenseIntelHex();
    const TempFile file(text);
    CRomImage image;
    ImageLoadOptions options;
    options.format = ImageFormat::IntelHex;
    options.fill = 0xFF;
    for (auto _ : state) {
        const ImageLoadResult r = LoadImage(file.Path(), options, image);
        if (!r.ok || r.bytesRead != kRomImageSize)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(image.Data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["text_bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_LoadDenseIntelHexFile)->Unit(benchmark::kMillisecond);

// The tool's load: format detection, line numbers, checksums and warnings collected.
void BM_LoadDenseIntelHexFileWithDiagnostics(benchmark::State& state)
{
    const std::string text = DenseIntelHex();
    const TempFile file(text);
    CRomImage image;
    for (auto _ : state) {
        const ImageLoadResult r = LoadImage(file.Path(), ImageLoadOptions{}, image);
        if (!r.ok || r.bytesRead != kRomImageSize || !image.Diagnostics().Empty())
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(image.Data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LoadDenseIntelHexFileWithDiagnostics)->Unit(benchmark::kMillisecond);

// The same load with what a build for a CPU's map needs: the file at 0x08000000 moved down by
// --base, then swapped bytes and address lines and a CRC-32 fix-up over a whole 27C080. Against
// the load above: the cost of mapping and transforms.
void BM_LoadDenseIntelHexFileMappedAndTransformed(benchmark::State& state)
{
    const std::string text = DenseIntelHex(0x0800);
    const TempFile file(text);
    CRomImage image;
    ImageLoadOptions options;
    options.map.base = 0x08000000;
    options.romSize = kRomImageSize;
    constexpr auto kWindow = static_cast<std::uint32_t>(kRomImageSize);
    for (auto _ : state) {
        const ImageLoadResult r = LoadImage(file.Path(), options, image);
        if (!r.ok || r.bytesRead != kRomImageSize || !image.Diagnostics().Empty())
            state.SkipWithError("load failed");
        if (!SwapBytes(image, kWindow).empty() || !SwapAddressLines(image, kWindow, 18, 19).empty() ||
            !PutChecksum(image, kWindow, ChecksumKind::Crc32Le, kWindow - 4).empty())
            state.SkipWithError("transform failed");
        benchmark::DoNotOptimize(image.Data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LoadDenseIntelHexFileMappedAndTransformed)->Unit(benchmark::kMillisecond);

// The transforms and the fix-up alone, on a loaded image.
void BM_TransformsAndCrcFixup(benchmark::State& state)
{
    CRomImage image;
    const auto data = RandomImage();
    std::copy(data.begin(), data.end(), image.Data());
    image.MarkSet(0, kRomImageSize);
    constexpr auto kWindow = static_cast<std::uint32_t>(kRomImageSize);
    for (auto _ : state) {
        SwapBytes(image, kWindow);
        SwapAddressLines(image, kWindow, 18, 19);
        PutChecksum(image, kWindow, ChecksumKind::Crc32Le, kWindow - 4);
        image.Trace().moves.clear();
        benchmark::DoNotOptimize(image.Data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRomImageSize));
}
BENCHMARK(BM_TransformsAndCrcFixup)->Unit(benchmark::kMillisecond);

void BM_Crc32OfOneMiB(benchmark::State& state)
{
    const auto data = RandomImage();
    for (auto _ : state)
        benchmark::DoNotOptimize(Crc32(data));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRomImageSize));
}
BENCHMARK(BM_Crc32OfOneMiB)->Unit(benchmark::kMicrosecond);

void LoadTextFile(benchmark::State& state, const std::string& text, ImageFormat format)
{
    const TempFile file(text);
    CRomImage image;
    ImageLoadOptions options;
    options.format = format;
    for (auto _ : state) {
        const ImageLoadResult r = LoadImage(file.Path(), options, image);
        const LoadDiagnostics& diagnostics = image.Diagnostics();
        if (!r.ok || r.bytesRead != kRomImageSize || !diagnostics.Empty())
            state.SkipWithError(diagnostics.Empty() ? "load failed" : diagnostics.Warnings()[0].message.c_str());
        benchmark::DoNotOptimize(image.Data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["text_bytes"] = static_cast<double>(text.size());
}

void BM_LoadDenseSRecordFile(benchmark::State& state)
{
    LoadTextFile(state, DenseSRecord(), ImageFormat::Auto);
}
BENCHMARK(BM_LoadDenseSRecordFile)->Unit(benchmark::kMillisecond);

void BM_LoadDenseTekHexFile(benchmark::State& state)
{
    LoadTextFile(state, DenseTekHex(), ImageFormat::Auto);
}
BENCHMARK(BM_LoadDenseTekHexFile)->Unit(benchmark::kMillisecond);

void BM_WriteDenseIntelHex(benchmark::State& state)
{
    const auto data = RandomImage();
    for (auto _ : state) {
        const std::string text = EncodeImageToString(data, ImageWriteOptions{});
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRomImageSize));
}
BENCHMARK(BM_WriteDenseIntelHex)->Unit(benchmark::kMillisecond);

// The record scan alone, on text already in memory.
void BM_ScanDenseIntelHex(benchmark::State& state)
{
    const std::string text = DenseIntelHex();
    std::vector<std::uint8_t> image(kRomImageSize);
    for (auto _ : state) {
        CImageBuilder builder{RomImage(image.data(), kRomImageSize)};
        CIntelHexScanner scanner(builder);
        scanner.Feed(text);
        scanner.Finish();
        if (scanner.Highest() != kRomImageSize)
            state.SkipWithError("scan failed");
        benchmark::DoNotOptimize(image.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ScanDenseIntelHex)->Unit(benchmark::kMillisecond);

void BM_LoadBinaryFile(benchmark::State& state)
{
    const TempFile file(std::string(kRomImageSize, '\x5A'));
    CRomImage image;
    ImageLoadOptions options;
    options.format = ImageFormat::Binary;
    for (auto _ : state) {
        const ImageLoadResult r = LoadImage(file.Path(), options, image);
        if (!r.ok || r.bytesRead != kRomImageSize)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(image.Data());
    }
}
BENCHMARK(BM_LoadBinaryFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
