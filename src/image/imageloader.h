// SPDX-License-Identifier: MIT
// Image file loading: Intel HEX, Motorola S-record, extended Tektronix or raw binary into the
// 1 MiB ROM image buffer.
#pragma once

#include "image/loaddiagnostics.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "emulink/romtypes.h"

// Files are streamed in pieces of this size; a gigabyte file never sits in memory whole.
inline constexpr std::size_t kLoadChunkSize = 256 * 1024;

using RomImage = std::span<std::uint8_t, kRomImageSize>;

// Fill byte from the fill field's text: strtoul base 16, low byte ("ZZ" gives 0, "1FF" 0xFF).
std::uint8_t ParseFillByte(const std::string& text);

// "Bytes were read" text: eight lower-case hex digits, zero-padded ("%08x").
std::string FormatBytesRead(std::uint64_t count);

enum class ImageFormat {
    Auto,      // chosen from the first characters (DetectImageFormat)
    IntelHex,
    Binary,
    SRecord,   // Motorola S-record
    TekHex,    // extended Tektronix hex
};

// "auto", "ihex", "bin", "srec", "xtek": the names tarvexctl's --format takes.
const char* ImageFormatName(ImageFormat format);
// The inverse of ImageFormatName; false for an unknown name.
bool ParseImageFormat(std::string_view name, ImageFormat& format);
// Human name for messages: "Intel HEX", "binary", "S-record", "extended Tektronix".
const char* ImageFormatTitle(ImageFormat format);

// Intel HEX when the first character that is not white space is ':', S-record when it is 'S'
// followed by a digit, extended Tektronix when it is '%', binary otherwise (and for text that
// is white space only). head is the start of the file; one read's worth is enough.
ImageFormat DetectImageFormat(std::string_view head);

struct ImageLoadResult {
    bool ok = false;
    // Text formats: highest address written + 1 (at most 0x100000). Binary: the file's length.
    std::uint64_t bytesRead = 0;
    // On failure: names the file and the cause, ready for a message box.
    std::string message;
    // The format the file was read as (never Auto).
    ImageFormat format = ImageFormat::Binary;
};

struct ImageLoadOptions {
    ImageFormat format = ImageFormat::Auto;
    std::uint8_t fill = 0xFF;
    // Bytes the emulator receives; data above it draws a warning. 0: no such check.
    std::uint64_t romSize = 0;
    // Receives the warnings of a successful load (nothing on failure). May be null.
    LoadDiagnostics* diagnostics = nullptr;
};

// Loads a regular file by name (FIFOs and devices are refused: opening them could hang).
// On failure the buffer is left exactly as it was.
ImageLoadResult LoadImage(const std::string& fileName, const ImageLoadOptions& options,
                          RomImage buffer);

// Loads from an open descriptor, which may be a pipe (standard input): read in pieces until
// its end, never seeking. displayName names it in messages ("standard input"). The descriptor
// stays open. On failure the buffer is left exactly as it was.
ImageLoadResult LoadImageFromFd(int fd, const std::string& displayName,
                                const ImageLoadOptions& options, RomImage buffer);

// OnLoad's work. Format index 0 reads Intel HEX, any other value a binary image from offset 0;
// no warning is collected. On success the whole buffer holds the fill byte where the file sets
// nothing. On failure the buffer is left exactly as it was.
ImageLoadResult LoadImageFile(const std::string& fileName, int fileFormat, std::uint8_t fill,
                              RomImage buffer);

// Streaming Intel HEX record scan over text fed in arbitrary pieces. Stores data records
// (type 00) at (upper << 16) + offset, follows extended linear address records (04), stops at
// an end record (01) and passes over everything else. Bytes whose address is 0x100000 or
// above are dropped. What it stores never depends on checksums or on the validity of the
// characters; those only draw warnings, collected at Finish when diagnostics is not null.
// Only a record split between two pieces is kept back (at most one record, 521 characters).
class CIntelHexScanner {
public:
    explicit CIntelHexScanner(RomImage buffer, LoadDiagnostics* diagnostics = nullptr)
        : m_buffer(buffer), m_diagnostics(diagnostics)
    {
    }

    void Feed(std::string_view text);
    // End of input: a record cut short stores the data bytes it holds complete.
    void Finish();

    bool Ended() const { return !m_bMore; }
    // Highest address written + 1; 0 while nothing was written.
    std::uint64_t Highest() const { return m_nHighest; }

private:
    // Handles the record starting at r (r[0] == ':') with avail characters present. Returns the
    // characters it consumed, or 0 when the record needs more text and final is false.
    std::size_t Record(const char* r, std::size_t avail, bool final);
    // Line number of r in the current piece (or of the carried record).
    std::uint64_t LineOf(const char* r);
    void Report();

    RomImage m_buffer;
    LoadDiagnostics* m_diagnostics;
    std::uint64_t m_nHighest = 0;
    std::uint32_t m_nUpper = 0;
    bool m_bMore = true;
    std::string m_carry;  // an incomplete record from the end of the last piece

    // Line numbers are counted only as far as a warning needs them.
    const char* m_lineCursor = nullptr;
    std::uint64_t m_nNewlines = 0;  // '\n' before m_lineCursor
    std::uint64_t m_nCarryLine = 0;
    bool m_bInCarry = false;

    std::uint64_t m_nFed = 0;
    std::uint64_t m_nRecords = 0;
    LineTally m_checksum, m_badChar, m_cutShort, m_dropped, m_segment, m_start, m_linearStart,
        m_otherType;
};
