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
    // On failure: the options do not fit the file (a base for a binary file, a skip for a
    // record file, --wrap without a ROM size): the caller's mistake rather than the file's.
    bool misuse = false;
    // On success, as the image has them: the "Bytes were read" count and the format read.
    std::uint64_t bytesRead = 0;
    ImageFormat format = ImageFormat::Binary;
    // The file ends where its format says it does: an end record for Intel HEX and S-record, a
    // last record not cut short for Tektronix, at least one byte for binary. A file caught while
    // it is being written is not complete.
    bool complete = false;
};

struct ImageLoadOptions {
    // Where the data goes: applied to every byte a reader stores (a base for a binary file, a
    // skip for a record file, or a wrap without romSize fail the load with `misuse` set).
    SAddressMap map;
    ImageFormat format = ImageFormat::Auto;
    std::uint8_t fill = 0xFF;
    // Bytes the emulator receives; data above it draws a warning (naming the base that would
    // place it), and map.wrap folds addresses into it. 0: no such check.
    std::uint64_t romSize = 0;
    // A stream (a pipe) longer than this is refused: an endless one would never end the load.
    std::uint64_t streamLimit = 256u << 20;
};

// The image a load makes: every byte the fill byte where the file sets nothing, the set bytes
// marked, the count, the format, the source (fileName or displayName), the warnings, the entry
// point and the trace of where each part of the file went (BuildLoadMap in loadmap.h). The
// whole file is read, also after an end record. On failure `image` is left exactly as it was.

// Loads a regular file by name (FIFOs and devices are refused: opening them could hang).
ImageLoadResult LoadImage(const std::string& fileName, const ImageLoadOptions& options, CRomImage& image);

// Loads from an open descriptor, which may be a pipe (standard input): read in pieces until
// its end, never seeking. displayName names it in messages ("standard input"). The descriptor
// stays open.
ImageLoadResult LoadImageFromFd(int fd, const std::string& displayName, const ImageLoadOptions& options,
                                CRomImage& image);

// Streaming Intel HEX record scan over text fed in arbitrary pieces. Stores data records
// (type 00) at base + offset through the builder (which applies the address map), where base
// follows extended linear address records (04: upper << 16) and, when the map asks for
// segments, extended segment address records (02: segment << 4). Start address records (03,
// 05) name the entry point. An end record (01) ends the data; records after it are only
// counted. A byte order mark and blank and comment lines ('#', ';') before the first record
// are passed over. What it stores never depends on checksums or on the validity of the
// characters; those only draw warnings, collected at Finish when diagnostics is not null.
// Only a record split between two pieces is kept back (at most one record, 521 characters).
class CIntelHexScanner {
public:
    explicit CIntelHexScanner(CImageBuilder& builder, LoadDiagnostics* diagnostics = nullptr)
        : m_builder(builder), m_diagnostics(diagnostics), m_bSegments(builder.Map().segments)
    {
    }

    void Feed(std::string_view text);
    // End of input: a record cut short stores the data bytes it holds complete.
    void Finish();

    // The end record was read; what follows is only counted.
    bool Ended() const { return !m_bMore; }
    // Highest address written + 1; 0 while nothing was written.
    std::uint64_t Highest() const { return m_builder.Highest(); }
    // The input ended where the format says: at an end record.
    bool Complete() const { return Ended(); }

private:
    // Passes over what may come before the first record; returns where records may start.
    const char* Preamble(const char* p, const char* end);
    // Handles the record starting at r (r[0] == ':') with avail characters present. Returns the
    // characters it consumed, or 0 when the record needs more text and final is false.
    std::size_t Record(const char* r, std::size_t avail, bool final);
    // Line number of r in the current piece (or of the carried record).
    std::uint64_t LineOf(const char* r);
    void Report();

    CImageBuilder& m_builder;
    LoadDiagnostics* m_diagnostics;
    bool m_bSegments;
    std::uint64_t m_nBase = 0;  // what type 04 (or 02) records set
    bool m_bMore = true;
    std::string m_carry;  // an incomplete record from the end of the last piece
    enum class EPreamble { kMark, kLineStart, kComment, kDone };
    EPreamble m_ePreamble = EPreamble::kMark;
    unsigned m_nMark = 0;  // byte order mark bytes matched

    // Line numbers are counted only as far as a warning needs them.
    const char* m_lineCursor = nullptr;
    std::uint64_t m_nNewlines = 0;  // '\n' before m_lineCursor
    std::uint64_t m_nCarryLine = 0;
    bool m_bInCarry = false;

    std::uint64_t m_nFed = 0;
    std::uint64_t m_nRecords = 0;
    std::uint64_t m_nEndLine = 0;
    std::uint64_t m_nAfterEnd = 0;  // ':' after the end record
    LineTally m_checksum, m_badChar, m_cutShort, m_segment, m_otherType, m_malformed;
};

// The load's word to a user, one text for one message box: the format asked for against the one
// the file looks like (when they differ), then the first `maxShown` warnings and how many there
// are in all. Empty when there is nothing to say.
std::string DescribeLoad(const std::string& fileName, ImageFormat asked, ImageFormat looks,
                         const LoadDiagnostics& diagnostics, std::size_t maxShown = 5);
