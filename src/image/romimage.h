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

    // The entry point a start-address record named, if any.
    std::optional<std::uint64_t> EntryPoint() const { return m_entryPoint; }
    void SetEntryPoint(std::optional<std::uint64_t> address) { m_entryPoint = address; }

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
};

// Puts a reader's data bytes into an image: the one place every reader stores through. Bytes at
// or above 1 MiB have no place and are dropped.
class CImageBuilder {
public:
    // Stores into `image` and marks what it stores as set.
    explicit CImageBuilder(CRomImage& image);
    // Stores into bare bytes; nothing is marked.
    explicit CImageBuilder(RomImage bytes);

    // Stores the n bytes of file address `address` on; returns how many had a place.
    std::size_t Store(std::uint64_t address, const std::uint8_t* data, std::size_t n);
    // Highest address stored plus one; 0 while nothing was stored.
    std::uint64_t Highest() const { return m_nHighest; }

private:
    RomImage m_bytes;
    CRomImage* m_pImage = nullptr;
    std::uint64_t m_nHighest = 0;
};
