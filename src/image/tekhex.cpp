// SPDX-License-Identifier: MIT
// Extended Tektronix hex reader.
#include "image/tekhex.h"

#include "image/hexdecode.h"

#include <algorithm>

namespace {

constexpr std::size_t kHeader = 7;  // '%' length(2) type(1) checksum(2) address length(1)

}  // namespace

bool CTekHexScanner::Counted(std::string_view line, std::uint64_t number, bool tooLong)
{
    // Whether the last record was cut short tells a file caught while it is written.
    const std::uint64_t cutBefore = m_cutShort.Count();
    const bool more = Line(line, number, tooLong);
    if (!TrimLine(line).empty())
        m_bLastCut = m_cutShort.Count() != cutBefore;
    return more;
}

void CTekHexScanner::Feed(std::string_view text)
{
    m_lines.Feed(text, [this](std::string_view l, std::uint64_t n, bool tooLong) { return Counted(l, n, tooLong); });
}

void CTekHexScanner::Finish()
{
    m_lines.Finish([this](std::string_view l, std::uint64_t n, bool tooLong) { return Counted(l, n, tooLong); });
    Report();
}

bool CTekHexScanner::Line(std::string_view raw, std::uint64_t number, bool tooLong)
{
    const std::string_view line = TrimLine(WithoutByteOrderMark(raw, number));
    if (line.empty())
        return true;
    if (!m_bMore) {
        m_nAfterEnd += line[0] == '%';
        return true;
    }
    if (m_nRecords == 0 && IsCommentLine(line))
        return true;
    m_bText = true;
    if (line[0] != '%') {
        m_stray.Add(number);
        return true;
    }
    ++m_nRecords;
    if (line.size() < kHeader) {
        m_cutShort.Add(number);
        return true;
    }
    const hexdecode::PairTable& pairs = hexdecode::Pairs();
    const char* const r = line.data();
    const unsigned lv = pairs(r + 1);
    const unsigned type = hexdecode::Digit(r[3]);
    const unsigned cv = pairs(r + 4);
    const unsigned al = hexdecode::Digit(r[6]);
    // Symbol records hold names, not hex digits, and mean nothing to the image.
    if (type == 3 && (lv & hexdecode::kInvalid) == 0)
        return true;
    if (((lv | type | al) & hexdecode::kInvalid) != 0) {
        m_badChar.Add(number);
        return true;
    }
    const std::size_t full = 1 + (lv & 0xFF);
    const std::size_t addressDigits = al == 0 ? 16 : al;
    const std::size_t dataStart = kHeader + addressDigits;
    if (full < dataStart) {
        m_cutShort.Add(number);
        return true;
    }
    const bool complete = line.size() >= full;
    if (line.size() > full || tooLong)
        m_badChar.Add(number);  // characters after the record's length
    const std::size_t end = std::min(line.size(), full);
    if (end < dataStart) {
        m_cutShort.Add(number);
        return true;
    }

    unsigned bad = cv;
    unsigned sum = hexdecode::Digit(r[1]) + hexdecode::Digit(r[2]) + type + al;
    std::uint64_t address = 0;
    for (std::size_t i = kHeader; i < dataStart; ++i) {
        const unsigned v = hexdecode::Digit(r[i]);
        sum += v;
        bad |= v;
        address = address << 4 | (v & 0xF);
    }
    const char* const data = r + dataStart;
    const std::size_t dataChars = full - dataStart;
    if (dataChars % 2 != 0)
        m_badChar.Add(number);  // half a byte
    const std::size_t held = (end - dataStart) / 2;
    std::size_t k = 0;
    // The checksum adds digit values; a byte's two digits give (v >> 4) + (v & 15).
    const auto addDigits = [&](unsigned v) {
        sum += ((v >> 4) & 0xF) + (v & 0xF);
        bad |= v;
    };
    switch (type) {
    case 6: {
        std::uint8_t bytes[256];
        for (; k < held; ++k) {
            const unsigned v = pairs(data + 2 * k);
            bytes[k] = static_cast<std::uint8_t>(v);
            addDigits(v);
        }
        m_builder.Store(address, bytes, held, CLineRef(number));
        break;
    }
    case 8:
        m_bMore = false;
        m_nEndLine = number;
        m_builder.SetEntryPoint(address, number);
        break;
    default: m_otherType.Add(number); break;
    }
    for (; k < held; ++k)
        addDigits(pairs(data + 2 * k));
    if (held * 2 < end - dataStart) {
        // The odd digit still counts towards the checksum.
        const unsigned v = hexdecode::Digit(data[2 * held]);
        sum += v & 0xF;
        bad |= v;
    }
    if (complete) {
        if ((bad & hexdecode::kInvalid) == 0 && (sum & 0xFF) != (cv & 0xFF))
            m_checksum.Add(number);
    } else {
        m_cutShort.Add(number);
    }
    if (bad & hexdecode::kInvalid)
        m_badChar.Add(number);
    return true;
}

void CTekHexScanner::Report()
{
    if (m_diagnostics == nullptr)
        return;
    LoadDiagnostics& d = *m_diagnostics;
    if (m_nRecords == 0) {
        if (m_bText)
            d.Add(LoadWarningKind::NoRecords, m_stray.First(),
                  "no extended Tektronix records: is it another format?");
        return;
    }
    AddChecksumWarning(d, m_checksum);
    AddBadCharacterWarning(d, m_badChar);
    if (m_stray.Any())
        d.Add(LoadWarningKind::BadCharacter, m_stray.First(),
              CountOf(m_stray.Count(), "line", "lines") + " not starting with '%' passed over (" +
                  m_stray.Lines() + ")");
    // No termination record is no warning: srec_cat writes none without a start address. A file
    // cut short shows in its last record.
    AddCutShortWarning(d, m_cutShort, "length");
    AddAfterEndWarning(d, m_nAfterEnd, m_nEndLine);
    m_builder.ReportAboveImage(d);
    m_builder.ReportBelowBase(d);
    m_builder.ReportOverlaps(d);
    if (m_otherType.Any())
        d.Add(LoadWarningKind::PassedOver, m_otherType.First(),
              CountOf(m_otherType.Count(), "record", "records") + " of an unknown type passed over (" +
                  m_otherType.Lines() + ")");
}
