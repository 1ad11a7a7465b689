// Image file loading: Intel HEX or raw binary into the 1 MiB ROM image buffer.
#pragma once

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

struct ImageLoadResult {
    bool ok = false;
    // Intel HEX: highest address written + 1 (at most 0x100000). Binary: the file's length.
    std::uint64_t bytesRead = 0;
    // On failure: names the file and the cause, ready for a message box.
    std::string message;
};

// OnLoad's work. Format index 0 reads Intel HEX, any other value a binary image from offset 0.
// On success the whole buffer holds the fill byte where the file sets nothing. On failure the
// buffer is left exactly as it was.
ImageLoadResult LoadImageFile(const std::string& fileName, int fileFormat, std::uint8_t fill,
                              RomImage buffer);

// Streaming Intel HEX record scan over text fed in arbitrary pieces. Stores data records
// (type 00) at (upper << 16) + offset, follows extended linear address records (04), stops at
// an end record (01) and passes over everything else. Checksums are not evaluated. Bytes whose
// address is 0x100000 or above are dropped. Only a record split between two pieces is kept
// back (at most one record, 521 characters).
class CIntelHexScanner {
public:
    explicit CIntelHexScanner(RomImage buffer) : m_buffer(buffer) {}

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

    RomImage m_buffer;
    std::uint64_t m_nHighest = 0;
    std::uint32_t m_nUpper = 0;
    bool m_bMore = true;
    std::string m_carry;  // an incomplete record from the end of the last piece
};
