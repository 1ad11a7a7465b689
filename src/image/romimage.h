// SPDX-License-Identifier: MIT
// CRomImage: the 1 MiB ROM image with what a load knows about it; CImageBuilder: how the readers
// put bytes into it.
#pragma once

#include "emulink/romtypes.h"
#include "image/loaddiagnostics.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

using RomImage = std::span<std::uint8_t, kRomImageSize>;
using ConstRomImage = std::span<const std::uint8_t, kRomImageSize>;

enum class ImageFormat {
    Auto,      // chosen from the first characters (DetectImageFormat)
    IntelHex,
    Binary,
    SRecord,   // Motorola S-record
    TekHex,    // extended Tektronix hex
};

// A run of addresses, both ends included.
struct SAddressRange {
    std::uint32_t nStart = 0;
    std::uint32_t nEnd = 0;
    std::uint32_t Count() const { return nEnd - nStart + 1; }
    bool operator==(const SAddressRange&) const = default;
};

// Where a file's data lands in the image. The defaults place it as it stands: record data at
// its file address, binary data from offset 0.
struct SAddressMap {
    std::uint64_t base = 0;  // record formats: ROM address = file address - base
    std::uint64_t skip = 0;  // binary: the image starts with the file's byte `skip`
    std::uint32_t at = 0;    // the mapped data starts at this ROM address instead of 0
    bool wrap = false;       // after base: an address maps to itself modulo the ROM size
    bool segments = false;   // Intel HEX: type-02 records add segment x 16 to later addresses
    bool operator==(const SAddressMap&) const = default;
};

// The ROM address the map gives a file address (a binary file's offset counts as its
// address, `skip` as its base), or nullopt when it has none: below the base, or at or above
// 1 MiB. wrapSize is the ROM size --wrap folds addresses into (0: no folding).
std::optional<std::uint32_t> MapAddress(const SAddressMap& map, bool binary, std::uint64_t wrapSize,
                                        std::uint64_t fileAddress);

// A move of bytes inside the first `window` bytes that undoes itself: address x and
// Apply(x) trade places. Either the low `flip` bits invert (swapped bytes) or address lines
// a and b trade values.
struct SAddressMove {
    std::uint32_t window = 0;
    std::uint32_t flip = 0;
    unsigned lineA = 0, lineB = 0;
    std::uint32_t Apply(std::uint32_t address) const;
};

// Bytes of the file that the load placed, as the first record to set each byte: ROM
// addresses [romStart, romEnd), from file address fileStart on, from file line `line` (0 for
// a binary file).
struct SPlacedRun {
    std::uint32_t romStart = 0;
    std::uint32_t romEnd = 0;
    std::uint64_t fileStart = 0;
    std::uint64_t line = 0;
};

// Bytes of the file the load found no place for, by their file addresses [fileStart, fileEnd).
enum class EPassedOver {
    BelowBase,   // below --base (record formats) or below --skip (binary)
    AboveImage,  // mapped at or above 1 MiB
};
struct SPassedRun {
    std::uint64_t fileStart = 0;
    std::uint64_t fileEnd = 0;
    std::uint64_t line = 0;
    EPassedOver why = EPassedOver::AboveImage;
};

// What a load did with each part of the file, for the load map and the warnings: the map it
// applied, where bytes went, what had no place, the span of the file's data addresses, and the
// moves applied to the image since.
struct SLoadTrace {
    static constexpr std::size_t kPassedKept = 64;

    SAddressMap map;
    bool binary = false;
    std::uint64_t wrapSize = 0;
    std::vector<SPlacedRun> placed;   // in file order; no two share a byte
    std::vector<SPassedRun> passed;   // the first kPassedKept ranges
    std::uint64_t passedBytes = 0;    // all of them
    std::uint64_t passedRanges = 0;
    std::uint64_t fileLow = ~std::uint64_t{0};  // lowest and highest file address of any data
    std::uint64_t fileHigh = 0;
    std::uint64_t entryLine = 0;      // the line of the start-address record, if any
    std::vector<SAddressMove> moves;  // transforms since the load, in order

    bool AnyData() const { return fileLow <= fileHigh; }
    // The ROM address a byte now at `address` had right after the load.
    std::uint32_t LoadedAddress(std::uint32_t address) const;
};

// The ROM image: 1 MiB of bytes (as large as the largest ROM type), the fill byte, which bytes a
// file set, and where the image came from. Copying copies the bytes; moving is cheap.
class CRomImage {
public:
    explicit CRomImage(std::uint8_t fill = 0x00);
    CRomImage(const CRomImage& other);
    CRomImage& operator=(const CRomImage& other);
    CRomImage(CRomImage&&) noexcept = default;
    CRomImage& operator=(CRomImage&&) noexcept = default;
    ~CRomImage();

    std::uint8_t* Data() { return m_pBytes.get(); }
    const std::uint8_t* Data() const { return m_pBytes.get(); }
    RomImage Bytes() { return RomImage(m_pBytes.get(), kRomImageSize); }
    ConstRomImage Bytes() const { return ConstRomImage(m_pBytes.get(), kRomImageSize); }
    // The first `size` bytes (at most the whole image): what a ROM of that size holds.
    std::span<const std::uint8_t> Window(std::size_t size) const;

    // Every byte becomes `fill`; nothing counts as set, the count is 0, the source is forgotten.
    void Reset(std::uint8_t fill);
    std::uint8_t FillByte() const { return m_nFill; }

    // Which bytes a file (or an edit) set, as opposed to holding the fill byte.
    bool IsSet(std::uint32_t address) const;
    void MarkSet(std::uint32_t start, std::size_t count);
    // How many of the count bytes from start are set.
    std::size_t CountSet(std::uint32_t start, std::size_t count) const;
    // One bit per byte: bit (a % 64) of word a / 64. For transforms that move bytes.
    std::span<std::uint64_t> SetBits() { return {m_pSet.get(), kSetWords}; }
    // The set bytes as merged ranges, ascending.
    std::vector<SAddressRange> SetRanges() const;

    // "Bytes were read": for the record formats the highest address set plus one, for a binary
    // file its length (which may pass 1 MiB).
    std::uint64_t BytesRead() const { return m_nBytesRead; }
    void SetBytesRead(std::uint64_t count) { m_nBytesRead = count; }

    // Where the image came from: the name messages use ("standard input" for a pipe), and the
    // format it was read as (never Auto once loaded).
    const std::string& Source() const { return m_sSource; }
    void SetSource(std::string source) { m_sSource = std::move(source); }
    ImageFormat Format() const { return m_eFormat; }
    void SetFormat(ImageFormat format) { m_eFormat = format; }

    // The warnings of the load that made the image.
    const LoadDiagnostics& Diagnostics() const { return m_diagnostics; }
    LoadDiagnostics& Diagnostics() { return m_diagnostics; }

    // The entry point a start-address record named, if any: a CPU address, not mapped.
    std::optional<std::uint64_t> EntryPoint() const { return m_entryPoint; }
    void SetEntryPoint(std::optional<std::uint64_t> address) { m_entryPoint = address; }

    // What the load that made the image did with the file's bytes.
    const SLoadTrace& Trace() const { return m_trace; }
    SLoadTrace& Trace() { return m_trace; }

private:
    static constexpr std::size_t kSetWords = kRomImageSize / 64;

    std::unique_ptr<std::uint8_t[]> m_pBytes;
    std::unique_ptr<std::uint64_t[]> m_pSet;  // one bit per byte
    std::uint8_t m_nFill = 0;
    std::uint64_t m_nBytesRead = 0;
    std::string m_sSource;
    ImageFormat m_eFormat = ImageFormat::Binary;
    LoadDiagnostics m_diagnostics;
    std::optional<std::uint64_t> m_entryPoint;
    SLoadTrace m_trace;
};

// The file line of the data being stored, looked up only when something needs it (a new run
// of bytes, a warning): counting lines costs the fast scanner time on every record.
class CLineRef {
public:
    CLineRef() = default;
    explicit CLineRef(std::uint64_t line) : m_nLine(line) {}
    // lookup() -> std::uint64_t; it must outlive the reference.
    template <class F>
    explicit CLineRef(F& lookup)
        : m_pContext(const_cast<void*>(static_cast<const void*>(&lookup))),
          m_pLookup([](void* c) -> std::uint64_t { return (*static_cast<F*>(c))(); })
    {
    }
    std::uint64_t operator()() const { return m_pLookup ? m_pLookup(m_pContext) : m_nLine; }

private:
    std::uint64_t m_nLine = 0;
    void* m_pContext = nullptr;
    std::uint64_t (*m_pLookup)(void*) = nullptr;
};

// Puts a reader's data bytes into an image through an address map: the one place every reader
// stores through. Bytes the map places below the base or at or above 1 MiB have no place and
// are passed over; into a CRomImage, what is stored is marked set and traced, and bytes stored
// twice are noted.
class CImageBuilder {
public:
    // Stores into `image` and marks what it stores as set. `binary`: the file is binary, so
    // the map's skip is its base and bytes below it are skipped on purpose. romSize (0: not
    // known): what map.wrap folds addresses into, and what a suggested base is aligned to.
    explicit CImageBuilder(CRomImage& image, const SAddressMap& map = {}, bool binary = false,
                           std::uint64_t romSize = 0);
    // Stores into bare bytes; nothing is marked.
    explicit CImageBuilder(RomImage bytes, const SAddressMap& map = {}, bool binary = false,
                           std::uint64_t romSize = 0);

    // Stores the n bytes of file address `address` on; returns how many had a place.
    std::size_t Store(std::uint64_t address, const std::uint8_t* data, std::size_t n,
                      const CLineRef& line = CLineRef());
    // n bytes of a binary file from file offset `address` on that are not read, as the map
    // gives them no place (below the skip, past 1 MiB).
    void Unread(std::uint64_t address, std::uint64_t n);
    // A start-address record: the CPU address execution starts at.
    void SetEntryPoint(std::uint64_t address, std::uint64_t line);
    const SAddressMap& Map() const { return m_map; }

    // Highest ROM address stored plus one; 0 while nothing was stored.
    std::uint64_t Highest() const { return m_nHighest; }
    bool StoredAny() const { return m_nHighest > 0; }

    // The warnings about bytes with no place or stored twice, as the readers word them.
    void ReportAboveImage(LoadDiagnostics& d) const;
    void ReportBelowBase(LoadDiagnostics& d) const;
    void ReportOverlaps(LoadDiagnostics& d) const;

private:
    class CLine;
    void Place(std::uint32_t rom, std::uint64_t file, const std::uint8_t* data, std::size_t n, CLine& line);
    void NewRun(std::uint32_t rom, std::uint64_t file, std::size_t n, CLine& line);
    void Overlap(std::uint32_t rom, std::uint64_t file, std::size_t n, CLine& line);
    void Pass(std::uint64_t file, std::uint64_t n, EPassedOver why, CLine& line);

    struct SOverlap {
        std::uint32_t first = 0, last = 0;  // ROM addresses set twice
        std::uint64_t earlierLine = 0, laterLine = 0;
        std::uint64_t earlierFile = 0, laterFile = 0;
    };

    RomImage m_bytes;
    CRomImage* m_pImage = nullptr;
    SAddressMap m_map;
    bool m_bBinary = false;
    std::uint64_t m_nRomSize = 0;
    std::uint64_t m_nWrap = 0;
    std::uint64_t m_nBase = 0;  // base, or skip for a binary file
    std::uint64_t m_nHighest = 0;
    // The last range passed over, kept or not: a range that continues it merges.
    std::uint64_t m_nPassEnd = 0;
    EPassedOver m_ePassWhy = EPassedOver::AboveImage;
    bool m_bPassed = false;
    LineTally m_aboveImage, m_belowBase;
    std::uint64_t m_nOverlapBytes = 0;
    std::uint64_t m_nOverlapRuns = 0;
    std::vector<SOverlap> m_overlaps;  // the first few
};

// The base that would bring all of a file's data (as a trace spans it) into a ROM of romSize
// bytes from ROM address 0, when all of it lies in one romSize-aligned window other than the
// one the map chose; romSize 0 takes the smallest ROM type that holds the data. nullopt when
// there is none.
std::optional<std::uint64_t> SuggestBase(const SLoadTrace& trace, std::uint64_t romSize);
