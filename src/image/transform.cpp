// SPDX-License-Identifier: MIT
// Transforms of the ROM window: swapped bytes and address lines, checksum fix-ups, pair halves.
#include "image/transform.h"

#include "image/checksum.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

std::string Hex(std::uint64_t v)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIx64, v);
    return text;
}

std::string CheckWindow(std::uint32_t romSize)
{
    if (romSize < 128 || romSize > kRomImageSize || !std::has_single_bit(romSize))
        return "a window of " + std::to_string(romSize) + " bytes is not a ROM size";
    return {};
}

// Bits with bit `line` of their position set, in a 64-bit word (line < 6).
constexpr std::uint64_t kLineSet[6] = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
                                       0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};

// Swaps two runs of n items; long runs of bytes through a buffer, which copies in wide moves.
template <class T>
void SwapRuns(T* x, T* y, std::size_t n)
{
    constexpr std::size_t kBuffer = 4096 / sizeof(T);
    if (n < 16) {
        std::swap_ranges(x, x + n, y);
        return;
    }
    T buffer[kBuffer];
    for (std::size_t done = 0; done < n; done += kBuffer) {
        const std::size_t k = std::min(kBuffer, n - done);
        std::memcpy(buffer, x + done, k * sizeof(T));
        std::memcpy(x + done, y + done, k * sizeof(T));
        std::memcpy(y + done, buffer, k * sizeof(T));
    }
}

// Items x with line a set and line b clear (a < b) trade places with x - 2^a + 2^b: runs of
// 2^a items at a time.
template <class T>
void SwapLineRuns(T* p, std::size_t n, unsigned a, unsigned b)
{
    const std::size_t A = std::size_t{1} << a, B = std::size_t{1} << b;
    for (std::size_t hi = 0; hi < n; hi += 2 * B)
        for (std::size_t mid = hi; mid < hi + B; mid += 2 * A)
            SwapRuns(p + mid + A, p + mid + B, A);
}

// The same on one bit per byte (a < b).
void SwapLineBits(std::span<std::uint64_t> words, unsigned a, unsigned b)
{
    if (a >= 6) {
        SwapLineRuns(words.data(), words.size(), a - 6, b - 6);
    } else if (b < 6) {
        // Within each word: the bits of one class move up by 2^b - 2^a, the others down.
        const std::uint64_t low = kLineSet[a] & ~kLineSet[b];
        const unsigned shift = (1u << b) - (1u << a);
        for (std::uint64_t& w : words) {
            const std::uint64_t t = ((w >> shift) ^ w) & low;
            w ^= t ^ (t << shift);
        }
    } else {
        // Between words 2^(b-6) apart: the first's bits with line a set against the second's
        // with it clear.
        const std::uint64_t set = kLineSet[a];
        const std::size_t apart = std::size_t{1} << (b - 6);
        for (std::size_t hi = 0; hi < words.size(); hi += 2 * apart)
            for (std::size_t i = hi; i < hi + apart; ++i) {
                std::uint64_t& w1 = words[i];
                std::uint64_t& w2 = words[i + apart];
                const std::uint64_t down = (w1 & set) >> (1u << a);
                const std::uint64_t up = (w2 & ~set) << (1u << a);
                w1 = (w1 & ~set) | up;
                w2 = (w2 & set) | down;
            }
    }
}

void Put(std::uint8_t* p, std::uint32_t value, unsigned width, bool bigEndian)
{
    for (unsigned i = 0; i < width; ++i)
        p[bigEndian ? width - 1 - i : i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

const char* ChecksumKindName(ChecksumKind kind)
{
    switch (kind) {
    case ChecksumKind::Sum8: return "sum8";
    case ChecksumKind::Sum16Le: return "sum16le";
    case ChecksumKind::Sum16Be: return "sum16be";
    case ChecksumKind::Crc32Le: return "crc32le";
    case ChecksumKind::Crc32Be: return "crc32be";
    }
    return "sum8";
}

bool ParseChecksumKind(std::string_view name, ChecksumKind& kind)
{
    for (ChecksumKind k : {ChecksumKind::Sum8, ChecksumKind::Sum16Le, ChecksumKind::Sum16Be, ChecksumKind::Crc32Le,
                           ChecksumKind::Crc32Be})
        if (name == ChecksumKindName(k)) {
            kind = k;
            return true;
        }
    return false;
}

unsigned ChecksumWidth(ChecksumKind kind)
{
    switch (kind) {
    case ChecksumKind::Sum8: return 1;
    case ChecksumKind::Sum16Le:
    case ChecksumKind::Sum16Be: return 2;
    case ChecksumKind::Crc32Le:
    case ChecksumKind::Crc32Be: return 4;
    }
    return 1;
}

std::string DescribeTransform(const STransform& step)
{
    switch (step.kind) {
    case STransform::EKind::SwapBytes: return "swap-bytes";
    case STransform::EKind::SwapLines:
        return "swap-lines " + std::to_string(step.lineA) + "," + std::to_string(step.lineB);
    case STransform::EKind::Checksum:
        return std::string("checksum ").append(ChecksumKindName(step.checksum)).append(":").append(Hex(step.address));
    }
    return {};
}

std::string CheckTransform(const STransform& step, std::uint32_t romSize)
{
    if (std::string why = CheckWindow(romSize); !why.empty())
        return why;
    const unsigned lines = static_cast<unsigned>(std::countr_zero(romSize));
    switch (step.kind) {
    case STransform::EKind::SwapBytes: return {};
    case STransform::EKind::SwapLines:
        if (step.lineA == step.lineB)
            return "swap-lines " + std::to_string(step.lineA) + "," + std::to_string(step.lineB) +
                   ": a line cannot swap with itself";
        if (step.lineA >= lines || step.lineB >= lines)
            return "swap-lines " + std::to_string(step.lineA) + "," + std::to_string(step.lineB) + ": a ROM of " +
                   std::to_string(romSize) + " bytes has address lines 0 to " + std::to_string(lines - 1);
        return {};
    case STransform::EKind::Checksum: {
        const unsigned width = ChecksumWidth(step.checksum);
        if (std::uint64_t{step.address} + width > romSize)
            return DescribeTransform(step) + ": its " + std::to_string(width) +
                   (width == 1 ? " byte does" : " bytes do") + " not fit in the " + std::to_string(romSize) +
                   "-byte window (0x0-" + Hex(romSize - 1) + ")";
        return {};
    }
    }
    return {};
}

std::string SwapBytes(CRomImage& image, std::uint32_t romSize)
{
    return ApplyTransform(image, romSize, {STransform::EKind::SwapBytes});
}

std::string SwapAddressLines(CRomImage& image, std::uint32_t romSize, unsigned a, unsigned b)
{
    STransform step{STransform::EKind::SwapLines};
    step.lineA = a;
    step.lineB = b;
    return ApplyTransform(image, romSize, step);
}

std::string PutChecksum(CRomImage& image, std::uint32_t romSize, ChecksumKind kind, std::uint32_t address,
                        std::uint32_t* stored)
{
    STransform step{STransform::EKind::Checksum};
    step.checksum = kind;
    step.address = address;
    return ApplyTransform(image, romSize, step, stored);
}

std::string ApplyTransform(CRomImage& image, std::uint32_t romSize, const STransform& step, std::uint32_t* stored)
{
    if (std::string why = CheckTransform(step, romSize); !why.empty())
        return why;
    std::uint8_t* const p = image.Data();
    const std::span<std::uint64_t> bits = image.SetBits().first(romSize / 64);
    switch (step.kind) {
    case STransform::EKind::SwapBytes:
        // Eight bytes at a time: a whole 27C080 in a few tens of microseconds.
        for (std::uint32_t a = 0; a < romSize; a += 8) {
            std::uint64_t w;
            std::memcpy(&w, p + a, 8);
            w = (w & 0x00FF00FF00FF00FFull) << 8 | ((w >> 8) & 0x00FF00FF00FF00FFull);
            std::memcpy(p + a, &w, 8);
        }
        for (std::uint64_t& w : bits)
            w = (w & 0x5555555555555555ull) << 1 | ((w >> 1) & 0x5555555555555555ull);
        image.Trace().moves.push_back({romSize, 1, 0, 0});
        break;
    case STransform::EKind::SwapLines: {
        const unsigned a = std::min(step.lineA, step.lineB), b = std::max(step.lineA, step.lineB);
        SwapLineRuns(p, romSize, a, b);
        SwapLineBits(bits, a, b);
        image.Trace().moves.push_back({romSize, 0, a, b});
        break;
    }
    case STransform::EKind::Checksum: {
        const unsigned width = ChecksumWidth(step.checksum);
        const std::span<const std::uint8_t> below(p, step.address);
        std::uint32_t value = 0;
        switch (step.checksum) {
        case ChecksumKind::Sum8:
            // The byte itself does not count: it becomes what makes the whole window sum to 0.
            value = static_cast<std::uint8_t>(0x100 - ((Sum8(image.Window(romSize)) - p[step.address]) & 0xFF));
            break;
        case ChecksumKind::Sum16Le:
        case ChecksumKind::Sum16Be: value = Sum16(below); break;
        case ChecksumKind::Crc32Le:
        case ChecksumKind::Crc32Be: value = Crc32(below); break;
        }
        Put(p + step.address, value, width,
            step.checksum == ChecksumKind::Sum16Be || step.checksum == ChecksumKind::Crc32Be);
        image.MarkSet(step.address, width);
        if (stored)
            *stored = value;
        break;
    }
    }
    return {};
}

std::vector<std::uint8_t> SplitHalf(std::span<const std::uint8_t> data, bool odd)
{
    std::vector<std::uint8_t> half;
    half.reserve(data.size() / 2 + 1);
    for (std::size_t i = odd ? 1 : 0; i < data.size(); i += 2)
        half.push_back(data[i]);
    return half;
}
