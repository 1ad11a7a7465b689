// SPDX-License-Identifier: MIT
// Extended Tektronix hex reader: streamed text into the 1 MiB ROM image buffer.
#pragma once

#include "image/imageloader.h"
#include "image/loaddiagnostics.h"
#include "image/textlines.h"

#include <cstdint>
#include <string_view>

// Records: '%', length (2 digits: characters after the '%'), type (1 digit: 6 data,
// 8 termination, 3 symbol), checksum (2 digits: the sum of the values of all other digits of
// the record), address length (1 digit, 0 meaning 16), the address, then the data. The Intel
// HEX loader's rules apply: data goes to the builder at its address, a record cut short stores
// the data bytes it holds complete, a termination record names the entry point and ends the
// data (records after it are only counted), symbols are passed over. Warnings are collected at
// Finish when diagnostics is not null.
class CTekHexScanner {
public:
    explicit CTekHexScanner(CImageBuilder& builder, LoadDiagnostics* diagnostics = nullptr)
        : m_builder(builder), m_diagnostics(diagnostics)
    {
    }

    void Feed(std::string_view text);
    void Finish();

    bool Ended() const { return !m_bMore; }
    // Highest address written + 1; 0 while nothing was written.
    std::uint64_t Highest() const { return m_builder.Highest(); }
    // A termination record ended it, or its last record is whole (srec_cat writes no termination).
    bool Complete() const { return Ended() || (m_nRecords > 0 && !m_bLastCut); }

private:
    bool Line(std::string_view line, std::uint64_t number, bool tooLong);
    bool Counted(std::string_view line, std::uint64_t number, bool tooLong);
    void Report();

    CImageBuilder& m_builder;
    LoadDiagnostics* m_diagnostics;
    CLineSplitter m_lines;
    bool m_bMore = true;
    bool m_bText = false;
    std::uint64_t m_nRecords = 0;
    bool m_bLastCut = false;
    std::uint64_t m_nEndLine = 0;
    std::uint64_t m_nAfterEnd = 0;
    LineTally m_checksum, m_badChar, m_stray, m_cutShort, m_otherType;
};
