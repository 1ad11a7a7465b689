// SPDX-License-Identifier: MIT
// Warnings a load collects about its file: what the readers passed over or could not place.
// The buffer page ignores them; tarvexctl prints them (and --strict refuses the file).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class LoadWarningKind {
    NoRecords,       // a text format was chosen but the file holds no record of it
    Checksum,        // records whose checksum does not match
    BadCharacter,    // characters that are not hex digits inside records, or stray lines
    CutShort,        // records shorter than their count says
    NoEndRecord,     // the file ends without an end record
    CountMismatch,   // an S-record count record that disagrees with the data records read
    DroppedData,     // data at or above 1 MiB, which has no place in the buffer
    BeyondRomSize,   // data loaded above the ROM size: it is not downloaded
    BinaryTooLong,   // a binary file longer than the ROM size or than 1 MiB
    LooksLikeText,   // a file read as binary that starts like one of the text formats
    PassedOver,      // records other tools act on that this loader passes over
    NoData,          // the file sets no byte of the image
    AfterEnd,        // records after the end record, which are not loaded
    Overlap,         // bytes two records both set
    BelowBase,       // data below the base address the map starts at
    Malformed,       // records whose byte count does not fit their type
};

struct LoadWarning {
    LoadWarningKind kind;
    std::uint64_t line = 0;  // the first line concerned, 1-based; 0 when there is none
    std::string message;     // one line, without the file name
};

// "FILE:LINE: warning: MESSAGE", or "FILE: warning: MESSAGE" when there is no line: the form
// compilers use, so editors jump to the line.
std::string FormatLoadWarning(const std::string& fileName, const LoadWarning& warning);

// Short stable name of a kind ("checksum", "cut-short"...), for JSON and tests.
const char* LoadWarningKindName(LoadWarningKind kind);

class LoadDiagnostics {
public:
    void Add(LoadWarningKind kind, std::uint64_t line, std::string message);
    const std::vector<LoadWarning>& Warnings() const { return m_warnings; }
    bool Empty() const { return m_warnings.empty(); }
    bool Has(LoadWarningKind kind) const;
    // The first warning of that kind, or nullptr.
    const LoadWarning* Find(LoadWarningKind kind) const;
    void Append(const LoadDiagnostics& other);
    void Clear() { m_warnings.clear(); }

private:
    std::vector<LoadWarning> m_warnings;
};

// Occurrences of one kind of problem during a scan: how many and the first few lines.
class LineTally {
public:
    static constexpr std::size_t kLinesKept = 5;

    void Add(std::uint64_t line, std::uint64_t count = 1);
    std::uint64_t Count() const { return m_count; }
    bool Any() const { return m_count > 0; }
    std::uint64_t First() const { return m_lines.empty() ? 0 : m_lines.front(); }
    // "line 4", "lines 4, 9 and 12", "lines 4, 9, 12, 20, 31 and 7 more".
    std::string Lines() const;

private:
    std::uint64_t m_count = 0;
    std::uint64_t m_distinct = 0;  // lines concerned
    std::uint64_t m_lastLine = 0;
    std::vector<std::uint64_t> m_lines;
};

// The warnings every record reader words alike, added when the tally has any: wrong checksums,
// characters that are not hex digits, records shorter than their `countName` ("byte count",
// "length") says, records after the end record (at line endLine), records whose byte count does
// not fit their type. (Data with no place in the image is the builder's to warn about.)
void AddChecksumWarning(LoadDiagnostics& d, const LineTally& checksum);
void AddBadCharacterWarning(LoadDiagnostics& d, const LineTally& badChar);
void AddCutShortWarning(LoadDiagnostics& d, const LineTally& cutShort, const char* countName);
void AddAfterEndWarning(LoadDiagnostics& d, std::uint64_t records, std::uint64_t endLine);
void AddMalformedWarning(LoadDiagnostics& d, const LineTally& malformed);

// "record" or "records" after a count: "3 records".
std::string CountOf(std::uint64_t n, const char* singular, const char* plural);
