// SPDX-License-Identifier: MIT
// Motorola S-record reader: streamed text into the 1 MiB ROM image buffer.
#pragma once

#include "image/imageloader.h"
#include "image/loaddiagnostics.h"
#include "image/textlines.h"

#include <cstdint>
#include <string_view>

// Follows the Intel HEX loader's rules: S1/S2/S3 data goes to the builder at its address (the
// builder maps it), a record cut short stores the data bytes it holds complete, and an end
// record (S7/S8/S9) names the entry point and ends the data: records after it are only
// counted. S0 headers and S5/S6 counts are passed over (the count is compared with the data
// records read), so are a byte order mark and comment lines before the first record.
// Checksums and bad characters only draw warnings, collected at Finish when diagnostics is
// not null.
class CSRecordScanner {
public:
    explicit CSRecordScanner(CImageBuilder& builder, LoadDiagnostics* diagnostics = nullptr)
        : m_builder(builder), m_diagnostics(diagnostics)
    {
    }

    void Feed(std::string_view text);
    void Finish();

    // The end record was read; what follows is only counted.
    bool Ended() const { return !m_bMore; }
    // Highest address written + 1; 0 while nothing was written.
    std::uint64_t Highest() const { return m_builder.Highest(); }
    // The input ended where the format says: at an end record.
    bool Complete() const { return Ended(); }

private:
    bool Line(std::string_view line, std::uint64_t number, bool tooLong);
    void Report();

    CImageBuilder& m_builder;
    LoadDiagnostics* m_diagnostics;
    CLineSplitter m_lines;
    bool m_bMore = true;
    bool m_bText = false;  // anything but white space seen
    std::uint64_t m_nRecords = 0;
    std::uint64_t m_nDataRecords = 0;
    bool m_bCounted = false;  // an S5/S6 record was read
    std::uint64_t m_nCount = 0;
    std::uint64_t m_nCountMask = 0xFFFF;  // S5 counts in 16 bits, S6 in 24
    std::uint64_t m_nCountLine = 0;
    std::uint64_t m_nDataBeforeCount = 0;
    std::uint64_t m_nEndLine = 0;
    std::uint64_t m_nAfterEnd = 0;
    LineTally m_checksum, m_badChar, m_stray, m_cutShort, m_otherType;
};
