// SPDX-License-Identifier: MIT
// The ROM image and the one way readers store into it.
#include "image/romimage.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

// Bits lo up to but not including hi of a word; 0 <= lo < hi <= 64.
std::uint64_t Bits(unsigned lo, unsigned hi)
{
    const std::uint64_t upTo = hi == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << hi) - 1;
    return upTo & ~((std::uint64_t{1} << lo) - 1);
}

// a + b, or the largest value where that overflows (64-bit Tektronix addresses).
std::uint64_t AddSat(std::uint64_t a, std::uint64_t b)
{
    return a > kMax64 - b ? kMax64 : a + b;
}

std::string Hex(std::uint64_t v)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIX64, v);
    return text;
}

}  // namespace

std::optional<std::uint32_t> MapAddress(const SAddressMap& map, bool binary, std::uint64_t wrapSize,
                                        std::uint64_t fileAddress)
{
    const std::uint64_t base = binary ? map.skip : map.base;
    if (fileAddress < base || map.at >= kRomImageSize)
        return std::nullopt;
    std::uint64_t rel = fileAddress - base;
    if (map.wrap && wrapSize > 0)
        rel %= wrapSize;
    if (rel >= kRomImageSize - map.at)
        return std::nullopt;
    return static_cast<std::uint32_t>(rel + map.at);
}

std::uint32_t SAddressMove::Apply(std::uint32_t address) const
{
    if (flip != 0)
        return address ^ flip;
    if (((address >> lineA) & 1) != ((address >> lineB) & 1))
        address ^= (std::uint32_t{1} << lineA) | (std::uint32_t{1} << lineB);
    return address;
}

std::uint32_t SLoadTrace::LoadedAddress(std::uint32_t address) const
{
    // Every move undoes itself, so walking them backwards undoes them all.
    for (auto it = moves.rbegin(); it != moves.rend(); ++it)
        if (address < it->window)
            address = it->Apply(address);
    return address;
}

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
      m_entryPoint(other.m_entryPoint),
      m_trace(other.m_trace)
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
    m_trace = SLoadTrace();
}

bool CRomImage::IsSet(std::uint32_t address) const
{
    return address < kRomImageSize && (m_pSet[address / 64] >> (address % 64) & 1) != 0;
}

void CRomImage::MarkSet(std::uint32_t start, std::size_t count)
{
    if (start >= kRomImageSize || count == 0)
        return;
    const std::size_t end = std::min<std::size_t>(kRomImageSize, std::size_t{start} + count);
    const std::size_t w0 = start / 64, w1 = (end - 1) / 64;
    const auto lo = static_cast<unsigned>(start % 64), hi = static_cast<unsigned>((end - 1) % 64 + 1);
    if (w0 == w1) {
        m_pSet[w0] |= Bits(lo, hi);
        return;
    }
    m_pSet[w0] |= Bits(lo, 64);
    for (std::size_t w = w0 + 1; w < w1; ++w)
        m_pSet[w] = ~std::uint64_t{0};
    m_pSet[w1] |= Bits(0, hi);
}

std::size_t CRomImage::CountSet(std::uint32_t start, std::size_t count) const
{
    if (start >= kRomImageSize || count == 0)
        return 0;
    const std::size_t end = std::min<std::size_t>(kRomImageSize, std::size_t{start} + count);
    const std::size_t w0 = start / 64, w1 = (end - 1) / 64;
    const auto lo = static_cast<unsigned>(start % 64), hi = static_cast<unsigned>((end - 1) % 64 + 1);
    if (w0 == w1)
        return static_cast<std::size_t>(std::popcount(m_pSet[w0] & Bits(lo, hi)));
    std::size_t n = static_cast<std::size_t>(std::popcount(m_pSet[w0] & Bits(lo, 64)) +
                                             std::popcount(m_pSet[w1] & Bits(0, hi)));
    for (std::size_t w = w0 + 1; w < w1; ++w)
        n += static_cast<std::size_t>(std::popcount(m_pSet[w]));
    return n;
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

// The line of the data being stored, asked of the reader at most once per Store.
class CImageBuilder::CLine {
public:
    explicit CLine(const CLineRef& ref) : m_ref(ref) {}
    std::uint64_t operator()()
    {
        if (!m_bKnown) {
            m_nLine = m_ref();
            m_bKnown = true;
        }
        return m_nLine;
    }

private:
    const CLineRef& m_ref;
    std::uint64_t m_nLine = 0;
    bool m_bKnown = false;
};

CImageBuilder::CImageBuilder(CRomImage& image, const SAddressMap& map, bool binary, std::uint64_t romSize)
    : CImageBuilder(image.Bytes(), map, binary, romSize)
{
    m_pImage = &image;
    SLoadTrace& trace = image.Trace();
    trace.map = map;
    trace.binary = binary;
    trace.wrapSize = m_nWrap;
}

CImageBuilder::CImageBuilder(RomImage bytes, const SAddressMap& map, bool binary, std::uint64_t romSize)
    : m_bytes(bytes), m_map(map), m_bBinary(binary), m_nRomSize(romSize), m_nWrap(map.wrap ? romSize : 0),
      m_nBase(binary ? map.skip : map.base)
{
}

std::size_t CImageBuilder::Store(std::uint64_t address, const std::uint8_t* data, std::size_t n,
                                 const CLineRef& lineRef)
{
    if (n == 0)
        return 0;
    CLine line(lineRef);
    if (m_pImage) {
        SLoadTrace& trace = m_pImage->Trace();
        trace.fileLow = std::min(trace.fileLow, address);
        trace.fileHigh = std::max(trace.fileHigh, AddSat(address, n - 1));
    }
    if (address < m_nBase) {
        const auto below = static_cast<std::size_t>(std::min<std::uint64_t>(n, m_nBase - address));
        Pass(address, below, EPassedOver::BelowBase, line);
        address += below;
        data += below;
        n -= below;
    }
    std::size_t stored = 0;
    while (n > 0) {
        std::uint64_t rel = address - m_nBase;
        std::size_t piece = n;
        if (m_nWrap > 0) {
            rel %= m_nWrap;
            piece = static_cast<std::size_t>(std::min<std::uint64_t>(n, m_nWrap - rel));
        }
        if (m_map.at < kRomImageSize && rel < kRomImageSize - m_map.at) {
            const auto rom = static_cast<std::uint32_t>(rel + m_map.at);
            const auto fits = static_cast<std::size_t>(std::min<std::uint64_t>(piece, kRomImageSize - rom));
            Place(rom, address, data, fits, line);
            stored += fits;
            if (fits < piece)
                Pass(AddSat(address, fits), piece - fits, EPassedOver::AboveImage, line);
        } else {
            Pass(address, piece, EPassedOver::AboveImage, line);
        }
        address += piece;  // may wrap past 2^64 on the last piece only
        data += piece;
        n -= piece;
    }
    return stored;
}

void CImageBuilder::Unread(std::uint64_t address, std::uint64_t n)
{
    if (n == 0)
        return;
    const CLineRef none;
    CLine line(none);
    if (m_pImage) {
        SLoadTrace& trace = m_pImage->Trace();
        trace.fileLow = std::min(trace.fileLow, address);
        trace.fileHigh = std::max(trace.fileHigh, AddSat(address, n - 1));
    }
    if (address < m_nBase) {
        const std::uint64_t below = std::min(n, m_nBase - address);
        Pass(address, below, EPassedOver::BelowBase, line);
        address += below;
        n -= below;
    }
    if (n > 0)
        Pass(address, n, EPassedOver::AboveImage, line);
}

void CImageBuilder::Place(std::uint32_t rom, std::uint64_t file, const std::uint8_t* data, std::size_t n, CLine& line)
{
    std::memcpy(m_bytes.data() + rom, data, n);
    m_nHighest = std::max<std::uint64_t>(m_nHighest, std::uint64_t{rom} + n);
    if (m_pImage == nullptr)
        return;
    if (m_pImage->CountSet(rom, n) != 0)
        Overlap(rom, file, n, line);
    else
        NewRun(rom, file, n, line);
    m_pImage->MarkSet(rom, n);
}

void CImageBuilder::NewRun(std::uint32_t rom, std::uint64_t file, std::size_t n, CLine& line)
{
    std::vector<SPlacedRun>& runs = m_pImage->Trace().placed;
    // A dense file is one run: each record goes on where the last one ended.
    if (!runs.empty()) {
        SPlacedRun& last = runs.back();
        if (last.romEnd == rom && last.fileStart + (last.romEnd - last.romStart) == file) {
            last.romEnd += static_cast<std::uint32_t>(n);
            return;
        }
    }
    runs.push_back({rom, static_cast<std::uint32_t>(rom + n), file, line()});
}

void CImageBuilder::Overlap(std::uint32_t rom, std::uint64_t file, std::size_t n, CLine& line)
{
    constexpr std::size_t kKept = 5;
    m_nOverlapBytes += m_pImage->CountSet(rom, n);
    ++m_nOverlapRuns;
    if (m_overlaps.size() < kKept) {
        SOverlap o;
        std::uint32_t a = rom;
        while (!m_pImage->IsSet(a))
            ++a;
        o.first = o.last = a;
        for (std::uint32_t b = a; b < rom + n; ++b)
            if (m_pImage->IsSet(b))
                o.last = b;
        const std::vector<SPlacedRun>& runs = m_pImage->Trace().placed;
        for (auto it = runs.rbegin(); it != runs.rend(); ++it)
            if (it->romStart <= a && a < it->romEnd) {
                o.earlierLine = it->line;
                o.earlierFile = it->fileStart + (a - it->romStart);
                break;
            }
        o.laterLine = line();
        o.laterFile = file + (a - rom);
        m_overlaps.push_back(o);
    }
    // The bytes set for the first time start runs of their own.
    for (std::uint32_t a = rom; a < rom + n;) {
        if (m_pImage->IsSet(a)) {
            ++a;
            continue;
        }
        std::uint32_t b = a;
        while (b < rom + n && !m_pImage->IsSet(b))
            ++b;
        NewRun(a, file + (a - rom), b - a, line);
        a = b;
    }
}

void CImageBuilder::Pass(std::uint64_t file, std::uint64_t n, EPassedOver why, CLine& line)
{
    if (why == EPassedOver::AboveImage)
        m_aboveImage.Add(line(), n);
    else if (!m_bBinary)
        m_belowBase.Add(line(), n);
    if (m_pImage == nullptr)
        return;
    SLoadTrace& trace = m_pImage->Trace();
    trace.passedBytes += n;
    const std::uint64_t end = AddSat(file, n);
    const bool continues = m_bPassed && m_nPassEnd == file && m_ePassWhy == why;
    m_bPassed = true;
    m_nPassEnd = end;
    m_ePassWhy = why;
    if (continues) {
        if (trace.passedRanges == trace.passed.size())
            trace.passed.back().fileEnd = end;
        return;
    }
    ++trace.passedRanges;
    if (trace.passed.size() < SLoadTrace::kPassedKept)
        trace.passed.push_back({file, end, line(), why});
}

void CImageBuilder::SetEntryPoint(std::uint64_t address, std::uint64_t line)
{
    if (m_pImage == nullptr)
        return;
    m_pImage->SetEntryPoint(address);
    m_pImage->Trace().entryLine = line;
}

void CImageBuilder::ReportAboveImage(LoadDiagnostics& d) const
{
    if (!m_aboveImage.Any())
        return;
    std::string text = CountOf(m_aboveImage.Count(), "data byte", "data bytes") +
                       " at or above 0x100000 dropped: the buffer holds 1 MiB (" + m_aboveImage.Lines() + ")";
    if (m_pImage != nullptr && !m_bBinary) {
        const SLoadTrace& trace = m_pImage->Trace();
        if (const std::optional<std::uint64_t> base = SuggestBase(trace, m_nRomSize))
            text.append("; the data lies in ")
                .append(Hex(trace.fileLow))
                .append("-")
                .append(Hex(trace.fileHigh))
                .append(": give --base ")
                .append(Hex(*base));
    }
    d.Add(LoadWarningKind::DroppedData, m_aboveImage.First(), std::move(text));
}

void CImageBuilder::ReportBelowBase(LoadDiagnostics& d) const
{
    if (m_belowBase.Any())
        d.Add(LoadWarningKind::BelowBase, m_belowBase.First(),
              CountOf(m_belowBase.Count(), "data byte", "data bytes") + " below --base " + Hex(m_nBase) +
                  " passed over (" + m_belowBase.Lines() + ")");
}

void CImageBuilder::ReportOverlaps(LoadDiagnostics& d) const
{
    if (m_overlaps.empty())
        return;
    std::string text = CountOf(m_nOverlapBytes, "byte", "bytes") + (m_bBinary ? " set twice: " : " set by two records: ");
    for (std::size_t i = 0; i < m_overlaps.size(); ++i) {
        const SOverlap& o = m_overlaps[i];
        if (i > 0)
            text += ", ";
        text += Hex(o.first);
        if (o.last != o.first)
            text.append("-").append(Hex(o.last));
        if (m_bBinary)
            text.append(" from file offsets ").append(Hex(o.earlierFile)).append(" and ").append(Hex(o.laterFile));
        else
            text.append(" by lines ")
                .append(std::to_string(o.earlierLine))
                .append(" and ")
                .append(std::to_string(o.laterLine));
    }
    if (m_nOverlapRuns > m_overlaps.size())
        text.append(" and ").append(std::to_string(m_nOverlapRuns - m_overlaps.size())).append(" more");
    d.Add(LoadWarningKind::Overlap, m_overlaps.front().laterLine, std::move(text));
}

std::optional<std::uint64_t> SuggestBase(const SLoadTrace& trace, std::uint64_t romSize)
{
    if (!trace.AnyData() || trace.binary || trace.map.wrap)
        return std::nullopt;
    const std::uint64_t span = AddSat(trace.fileHigh - trace.fileLow, 1);
    std::uint64_t size = romSize;
    if (size == 0) {
        for (const SRomType& type : kRomTypes)
            if (type.nSize >= span) {
                size = type.nSize;
                break;
            }
        if (size == 0)
            return std::nullopt;
    }
    const std::uint64_t base = trace.fileLow - trace.fileLow % size;
    if (trace.fileHigh - base >= size || base == trace.map.base)
        return std::nullopt;
    return base;
}
