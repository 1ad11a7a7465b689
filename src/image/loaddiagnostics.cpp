// SPDX-License-Identifier: MIT
// Warnings a load collects about its file.
#include "image/loaddiagnostics.h"

#include <algorithm>

const char* LoadWarningKindName(LoadWarningKind kind)
{
    switch (kind) {
    case LoadWarningKind::NoRecords: return "no-records";
    case LoadWarningKind::Checksum: return "checksum";
    case LoadWarningKind::BadCharacter: return "bad-character";
    case LoadWarningKind::CutShort: return "cut-short";
    case LoadWarningKind::NoEndRecord: return "no-end-record";
    case LoadWarningKind::CountMismatch: return "count-mismatch";
    case LoadWarningKind::DroppedData: return "dropped-data";
    case LoadWarningKind::BeyondRomSize: return "beyond-rom-size";
    case LoadWarningKind::BinaryTooLong: return "binary-too-long";
    case LoadWarningKind::LooksLikeText: return "looks-like-text";
    case LoadWarningKind::PassedOver: return "passed-over";
    case LoadWarningKind::NoData: return "no-data";
    case LoadWarningKind::AfterEnd: return "after-end";
    case LoadWarningKind::Overlap: return "overlap";
    case LoadWarningKind::BelowBase: return "below-base";
    case LoadWarningKind::Malformed: return "malformed";
    }
    return "unknown";
}

std::string FormatLoadWarning(const std::string& fileName, const LoadWarning& warning)
{
    // Appended piece by piece: GCC 12 at -O3 takes "literal" + std::string for an overlap (-Wrestrict).
    std::string s = fileName;
    if (warning.line > 0)
        s.append(1, ':').append(std::to_string(warning.line));
    return s.append(": warning: ").append(warning.message);
}

void LoadDiagnostics::Add(LoadWarningKind kind, std::uint64_t line, std::string message)
{
    m_warnings.push_back({kind, line, std::move(message)});
}

bool LoadDiagnostics::Has(LoadWarningKind kind) const
{
    return Find(kind) != nullptr;
}

const LoadWarning* LoadDiagnostics::Find(LoadWarningKind kind) const
{
    const auto it = std::find_if(m_warnings.begin(), m_warnings.end(),
                                 [kind](const LoadWarning& w) { return w.kind == kind; });
    return it == m_warnings.end() ? nullptr : &*it;
}

void LoadDiagnostics::Append(const LoadDiagnostics& other)
{
    m_warnings.insert(m_warnings.end(), other.m_warnings.begin(), other.m_warnings.end());
}

void LineTally::Add(std::uint64_t line, std::uint64_t count)
{
    m_count += count;
    // Several problems on one line name it once.
    if (m_distinct > 0 && m_lastLine == line)
        return;
    ++m_distinct;
    m_lastLine = line;
    if (m_lines.size() < kLinesKept)
        m_lines.push_back(line);
}

std::string LineTally::Lines() const
{
    if (m_lines.empty())
        return {};
    if (m_distinct == 1)
        return std::string("line ").append(std::to_string(m_lines.front()));
    std::string s = "lines ";
    const bool more = m_distinct > m_lines.size();
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (i > 0)
            s += (i + 1 == m_lines.size() && !more) ? " and " : ", ";
        s += std::to_string(m_lines[i]);
    }
    if (more)
        s.append(" and ").append(std::to_string(m_distinct - m_lines.size())).append(" more");
    return s;
}

std::string CountOf(std::uint64_t n, const char* singular, const char* plural)
{
    return std::to_string(n).append(" ").append(n == 1 ? singular : plural);
}

void AddChecksumWarning(LoadDiagnostics& d, const LineTally& checksum)
{
    if (checksum.Any())
        d.Add(LoadWarningKind::Checksum, checksum.First(),
              CountOf(checksum.Count(), "record", "records") + " with a wrong checksum (" + checksum.Lines() + ")");
}

void AddBadCharacterWarning(LoadDiagnostics& d, const LineTally& badChar)
{
    if (badChar.Any())
        d.Add(LoadWarningKind::BadCharacter, badChar.First(),
              "characters that are not hex digits in " + CountOf(badChar.Count(), "record", "records") + " (" +
                  badChar.Lines() + ")");
}

void AddCutShortWarning(LoadDiagnostics& d, const LineTally& cutShort, const char* countName)
{
    if (cutShort.Any())
        d.Add(LoadWarningKind::CutShort, cutShort.First(),
              CountOf(cutShort.Count(), "record", "records") + " shorter than the " + countName + " says (" +
                  cutShort.Lines() + ")");
}

void AddAfterEndWarning(LoadDiagnostics& d, std::uint64_t records, std::uint64_t endLine)
{
    if (records > 0)
        d.Add(LoadWarningKind::AfterEnd, endLine,
              CountOf(records, "record", "records") + " after the end record (line " + std::to_string(endLine) +
                  ") ignored: is it two files in one?");
}

void AddMalformedWarning(LoadDiagnostics& d, const LineTally& malformed)
{
    if (malformed.Any())
        d.Add(LoadWarningKind::Malformed, malformed.First(),
              CountOf(malformed.Count(), "record", "records") + " whose byte count does not fit the type passed over (" +
                  malformed.Lines() + ")");
}
