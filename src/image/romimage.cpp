// SPDX-License-Identifier: MIT
// The ROM image and the one way readers store into it.
#include "image/romimage.h"

#include <algorithm>
#include <cstring>

CRomImage::CRomImage(std::uint8_t fill)
    : m_pBytes(std::make_unique_for_overwrite<std::uint8_t[]>(kRomImageSize)),
      m_pSet(std::make_unique<std::uint64_t[]>(kSetWords))
{
    Reset(fill);
}

CRomImage::CRomImage(const CRomImage& other)
    : m_pBytes(std::make_unique_for_overwrite<std::uint8_t[]>(kRomImageSize)),
      m_pSet(std::make_unique_for_overwrite<std::uint64_t[]>(kSetWords)),
      m_nFill(other.m_nFill),
      m_nBytesRead(other.m_nBytesRead),
      m_sSource(other.m_sSource),
      m_eFormat(other.m_eFormat),
      m_diagnostics(other.m_diagnostics),
      m_entryPoint(other.m_entryPoint)
{
    std::memcpy(m_pBytes.get(), other.m_pBytes.get(), kRomImageSize);
    std::memcpy(m_pSet.get(), other.m_pSet.get(), kSetWords * sizeof(std::uint64_t));
}

CRomImage& CRomImage::operator=(const CRomImage& other)
{
    if (this != &other) {
        CRomImage copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CRomImage::~CRomImage() = default;

std::span<const std::uint8_t> CRomImage::Window(std::size_t size) const
{
    return {m_pBytes.get(), std::min(size, kRomImageSize)};
}

void CRomImage::Reset(std::uint8_t fill)
{
    std::memset(m_pBytes.get(), fill, kRomImageSize);
    std::memset(m_pSet.get(), 0, kSetWords * sizeof(std::uint64_t));
    m_nFill = fill;
    m_nBytesRead = 0;
    m_sSource.clear();
    m_eFormat = ImageFormat::Binary;
    m_diagnostics.Clear();
    m_entryPoint.reset();
}

bool CRomImage::IsSet(std::uint32_t address) const
{
    return address < kRomImageSize && (m_pSet[address / 64] >> (address % 64) & 1) != 0;
}

void CRomImage::MarkSet(std::uint32_t start, std::size_t count)
{
    if (start >= kRomImageSize)
        return;
    std::size_t a = start;
    const std::size_t end = std::min<std::size_t>(kRomImageSize, a + count);
    // Bit by bit to a word boundary, then whole words.
    for (; a < end && a % 64 != 0; ++a)
        m_pSet[a / 64] |= std::uint64_t{1} << (a % 64);
    for (; a + 64 <= end; a += 64)
        m_pSet[a / 64] = ~std::uint64_t{0};
    for (; a < end; ++a)
        m_pSet[a / 64] |= std::uint64_t{1} << (a % 64);
}

std::vector<SAddressRange> CRomImage::SetRanges() const
{
    std::vector<SAddressRange> ranges;
    constexpr std::size_t kNone = ~std::size_t{0};
    std::size_t open = kNone;  // start of the range being walked
    auto step = [&](bool set, std::size_t address) {
        if (set && open == kNone)
            open = address;
        else if (!set && open != kNone) {
            ranges.push_back({static_cast<std::uint32_t>(open), static_cast<std::uint32_t>(address - 1)});
            open = kNone;
        }
    };
    for (std::size_t w = 0; w < kSetWords; ++w) {
        const std::uint64_t word = m_pSet[w];
        // Whole words decide at once: most of an image is all set or all fill.
        if (word == 0 || word == ~std::uint64_t{0}) {
            step(word != 0, w * 64);
            continue;
        }
        for (std::size_t b = 0; b < 64; ++b)
            step((word >> b & 1) != 0, w * 64 + b);
    }
    step(false, kRomImageSize);
    return ranges;
}

CImageBuilder::CImageBuilder(CRomImage& image) : m_bytes(image.Bytes()), m_pImage(&image) {}

CImageBuilder::CImageBuilder(RomImage bytes) : m_bytes(bytes) {}

std::size_t CImageBuilder::Store(std::uint64_t address, const std::uint8_t* data, std::size_t n)
{
    if (address >= kRomImageSize || n == 0)
        return 0;
    const auto stored = static_cast<std::size_t>(std::min<std::uint64_t>(n, kRomImageSize - address));
    std::memcpy(m_bytes.data() + address, data, stored);
    if (m_pImage)
        m_pImage->MarkSet(static_cast<std::uint32_t>(address), stored);
    m_nHighest = std::max(m_nHighest, address + stored);
    return stored;
}
