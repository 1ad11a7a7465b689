// SPDX-License-Identifier: MIT
// Shared decoding helpers of the text image readers (Intel HEX, S-record, Tektronix).
#pragma once

#include <cstddef>
#include <cstdint>

namespace hexdecode {

// Set in a decoded value when a character was not a hex digit.
inline constexpr unsigned kInvalid = 0x100;

// Every pair of characters decoded as CAscii::HexByte does, plus kInvalid when either is not
// a hex digit: the data bytes of a record decode and validate by one look-up each. Adding
// decoded values keeps the low byte the plain sum, so checksums and validity accumulate in
// one addition.
class PairTable {
public:
    PairTable();
    unsigned operator()(const char* p) const
    {
        return m_value[static_cast<std::uint8_t>(p[0]) << 8 | static_cast<std::uint8_t>(p[1])];
    }

private:
    std::uint16_t m_value[0x10000];
};

const PairTable& Pairs();

// One character: 0..15, or kInvalid.
unsigned Digit(char c);

// Number of '\n' in [p, end).
std::size_t CountNewlines(const char* p, const char* end);

// Whether [p, end) holds a character that ends or starts a record: the record was shorter
// than its count says and what follows was read as its data.
bool HoldsRecordBreak(const char* p, const char* end, char recordMark);

}  // namespace hexdecode
