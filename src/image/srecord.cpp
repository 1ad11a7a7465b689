// SPDX-License-Identifier: MIT
// Motorola S-record reader.
#include "image/srecord.h"

#include "image/hexdecode.h"

#include <algorithm>

namespace {

// Address bytes of S0..S9; 0 for the unused S4.
constexpr std::size_t kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

}  // namespace

void CSRecordScanner::Feed(std::string_view text)
{
    m_lines.Feed(text, [this](std::string_view l, std::uint64_t n, bool tooLong) { return Line(l, n, tooLong); });
}

void CSRecordScanner::Finish()
{
    m_lines.Finish([this](std::string_view l, std::uint64_t n, bool tooLong) { return Line(l, n, tooLong); });
    Report();
}

bool CSRecordScanner::Line(std::string_view raw, std::uint64_t number, bool tooLong)
{
    const std::string_view line = TrimLine(WithoutByteOrderMark(raw, number));
    if (line.empty())
        return true;
    if (!m_bMore) {
        // After the end only counted: `cat boot.s19 app.s19` must not pass unseen.
        m_nAfterEnd += line[0] == 'S';
        return true;
    }
    if (m_nRecords == 0 && IsCommentLine(line))
        return true;
    m_bText = true;
    if (line[0] != 'S') {
        m_stray.Add(number);
        return true;
    }
    ++m_nRecords;
    if (line.size() < 4) {
        m_cutShort.Add(number);
        return true;
    }
    const char t = line[1];
    const hexdecode::PairTable& pairs = hexdecode::Pairs();
    const unsigned cv = pairs(line.data() + 2);
    if (t < '0' || t > '9' || (cv & hexdecode::kInvalid) != 0) {
        m_badChar.Add(number);
        return true;
    }
    const std::size_t type = static_cast<std::size_t>(t - '0');
    const std::size_t addressBytes = kAddressBytes[type];
    if (addressBytes == 0) {
        m_otherType.Add(number);
        return true;
    }
    const std::size_t count = cv & 0xFF;  // address, data and checksum bytes
    const std::size_t full = 4 + 2 * count;
    if (count < addressBytes + 1) {
        m_cutShort.Add(number);
        return true;
    }
    const bool complete = line.size() >= full;
    if (line.size() > full || tooLong)
        m_badChar.Add(number);  // characters after the checksum
    const std::size_t pairsHeld = (std::min(line.size(), full) - 4) / 2;
    if (pairsHeld < addressBytes) {
        m_cutShort.Add(number);
        return true;
    }

    unsigned sum = cv;
    unsigned bad = 0;
    std::uint64_t address = 0;
    const char* p = line.data() + 4;
    for (std::size_t i = 0; i < addressBytes; ++i, p += 2) {
        const unsigned v = pairs(p);
        sum += v;
        bad |= v;
        address = address << 8 | (v & 0xFF);
    }
    const std::size_t dataCount = count - addressBytes - 1;
    const std::size_t held = std::min(dataCount, pairsHeld - addressBytes);
    std::size_t k = 0;
    switch (type) {
    case 1:
    case 2:
    case 3: {
        ++m_nDataRecords;
        std::uint8_t bytes[256];
        for (; k < held; ++k) {
            const unsigned v = pairs(p + 2 * k);
            bytes[k] = static_cast<std::uint8_t>(v);
            sum += v;
            bad |= v;
        }
        m_builder.Store(address, bytes, held, CLineRef(number));
        break;
    }
    case 5:
    case 6:
        m_bCounted = true;
        m_nCount = address;
        m_nCountMask = type == 5 ? 0xFFFF : 0xFFFFFF;
        m_nCountLine = number;
        m_nDataBeforeCount = m_nDataRecords;
        break;
    case 7:
    case 8:
    case 9:
        m_bMore = false;
        m_nEndLine = number;
        m_builder.SetEntryPoint(address, number);
        break;
    default:  // S0: a header, whatever it says
        break;
    }
    for (; k < held; ++k) {
        const unsigned v = pairs(p + 2 * k);
        sum += v;
        bad |= v;
    }
    if (complete) {
        const unsigned cs = pairs(p + 2 * dataCount);
        sum += cs;
        bad |= cs;
        if ((bad & hexdecode::kInvalid) == 0 && (sum & 0xFF) != 0xFF)
            m_checksum.Add(number);
    } else {
        m_cutShort.Add(number);
    }
    if (bad & hexdecode::kInvalid)
        m_badChar.Add(number);
    return true;
}

void CSRecordScanner::Report()
{
    if (m_diagnostics == nullptr)
        return;
    LoadDiagnostics& d = *m_diagnostics;
    if (m_nRecords == 0) {
        if (m_bText)
            d.Add(LoadWarningKind::NoRecords, m_stray.First(), "no S-records: is it another format?");
        return;
    }
    AddChecksumWarning(d, m_checksum);
    AddBadCharacterWarning(d, m_badChar);
    if (m_stray.Any())
        d.Add(LoadWarningKind::BadCharacter, m_stray.First(),
              CountOf(m_stray.Count(), "line", "lines") + " not starting with 'S' passed over (" +
                  m_stray.Lines() + ")");
    AddCutShortWarning(d, m_cutShort, "byte count");
    const bool countMatches = m_bCounted && m_nCount == (m_nDataBeforeCount & m_nCountMask);
    if (m_bCounted && !countMatches)
        d.Add(LoadWarningKind::CountMismatch, m_nCountLine,
              "the count record says " + std::to_string(m_nCount) + " data records, " +
                  std::to_string(m_nDataBeforeCount) + " came before it (line " +
                  std::to_string(m_nCountLine) + ")");
    // A count record that matches shows the file complete even without an end record, as
    // srec_cat writes files without a start address.
    if (m_bMore && !countMatches)
        d.Add(LoadWarningKind::NoEndRecord, 0, "no end record (S7, S8 or S9): the file may be incomplete");
    AddAfterEndWarning(d, m_nAfterEnd, m_nEndLine);
    m_builder.ReportAboveImage(d);
    m_builder.ReportBelowBase(d);
    m_builder.ReportOverlaps(d);
    if (m_otherType.Any())
        d.Add(LoadWarningKind::PassedOver, m_otherType.First(),
              CountOf(m_otherType.Count(), "S4 record", "S4 records") + " passed over (" +
                  m_otherType.Lines() + ")");
}
