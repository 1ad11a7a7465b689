// SPDX-License-Identifier: MIT
// Image file loading: Intel HEX, Motorola S-record, extended Tektronix or raw binary into the
// 1 MiB ROM image buffer.
#pragma once

#include "image/loaddiagnostics.h"
#include "image/romimage.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Files are streamed in pieces of this size; a gigabyte file never sits in memory whole.
inline constexpr std::size_t kLoadChunkSize = 256 * 1024;

// Fill byte from the fill field's text: strtoul base 16, low byte ("ZZ" gives 0, "1FF" 0xFF).
std::uint8_t ParseFillByte(const std::string& text);

// "Bytes were read" text: eight lower-case hex digits, zero-padded ("%08x").
std::string FormatBytesRead(std::uint64_t count);
// Hex text as the page's fields are read: leading blanks skipped, stops at the first non-hex
// character, no digits give 0. Values beyond 64 bits saturate.
std::uint64_t ParseHexCount(std::string_view text);

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

// What a named file looks like, by its first piece (DetectImageFormat); Auto when it cannot be read.
ImageFormat DetectFileFormat(const std::string& fileName);

struct ImageLoadResult {
    bool ok = false;
    // On failure: names the file and the cause, ready for a message box.
    std::string message;
    // On success, as the image has them: the "Bytes were read" count and the format read.
    std::uint64_t bytesRead = 0;
    ImageFormat format = ImageFormat::Binary;
    // The file ends where its format says it does: an end record for Intel HEX and S-record, a
    // last record not cut short for Tektronix, at least one byte for binary. A file caught while
    // it is being written is not complete.
    bool complete = false;
};

// Where a file's data lands in the image. The defaults place it as it stands: record data at
// its file address, binary data from offset 0.
struct SAddressMap {
    std::uint64_t base = 0;  // record formats: ROM address = file address - base
    std::uint64_t skip = 0;  // binary: the image starts with the file's byte `skip`
    std::uint32_t at = 0;    // the mapped data starts at this ROM address instead of 0
    bool wrap = false;       // after base: an address maps to itself modulo the ROM size
    bool segments = false;   // Intel HEX: type-02 records add segment x 16 to later addresses
};

struct ImageLoadOptions {
    SAddressMap map;
    ImageFormat format = ImageFormat::Auto;
    std::uint8_t fill = 0xFF;
    // Bytes the emulator receives; data above it draws a warning. 0: no such check.
    std::uint64_t romSize = 0;
    // A stream (a pipe) longer than this is refused: an endless one would never end the load.
    std::uint64_t streamLimit = 256u << 20;
};

// The image a load makes: every byte the fill byte where the file sets nothing, the set bytes
// marked, the count, the format, the source (fileName or displayName) and the warnings. On
// failure `image` is left exactly as it was.

// Loads a regular file by name (FIFOs and devices are refused: opening them could hang).
ImageLoadResult LoadImage(const std::string& fileName, const ImageLoadOptions& options, CRomImage& image);

// Loads from an open descriptor, which may be a pipe (standard input): read in pieces until
// its end, never seeking. displayName names it in messages ("standard input"). The descriptor
// stays open.
ImageLoadResult LoadImageFromFd(int fd, const std::string& displayName, const ImageLoadOptions& options,
                                CRomImage& image);

// Streaming Intel HEX record scan over text fed in arbitrary pieces. Stores data records
// (type 00) at (upper << 16) + offset, follows extended linear address records (04), stops at
// an end record (01) and passes over everything else. Bytes whose address is 0x100000 or
// above are dropped. What it stores never depends on checksums or on the validity of the
// characters; those only draw warnings, collected at Finish when diagnostics is not null.
// Only a record split between two pieces is kept back (at most one record, 521 characters).
class CIntelHexScanner {
public:
    explicit CIntelHexScanner(CImageBuilder& builder, LoadDiagnostics* diagnostics = nullptr)
        : m_builder(builder), m_diagnostics(diagnostics)
    {
    }

    void Feed(std::string_view text);
    // End of input: a record cut short stores the data bytes it holds complete.
    void Finish();

    bool Ended() const { return !m_bMore; }
    // Highest address written + 1; 0 while nothing was written.
    std::uint64_t Highest() const { return m_builder.Highest(); }
    // The input ended where the format says: at an end record.
    bool Complete() const { return Ended(); }

private:
    // Handles the record starting at r (r[0] == ':') with avail characters present. Returns the
    // characters it consumed, or 0 when the record needs more text and final is false.
    std::size_t Record(const char* r, std::size_t avail, bool final);
    // Line number of r in the current piece (or of the carried record).
    std::uint64_t LineOf(const char* r);
    void Report();

    CImageBuilder& m_builder;
    LoadDiagnostics* m_diagnostics;
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

// The load's word to a user, one text for one message box: the format asked for against the one
// the file looks like (when they differ), then the first `maxShown` warnings and how many there
// are in all. Empty when there is nothing to say.
std::string DescribeLoad(const std::string& fileName, ImageFormat asked, ImageFormat looks,
                         const LoadDiagnostics& diagnostics, std::size_t maxShown = 5);
