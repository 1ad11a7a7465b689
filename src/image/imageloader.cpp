// SPDX-License-Identifier: MIT
// Image file loading: Intel HEX or raw binary into the 1 MiB ROM image buffer.
#include "image/imageloader.h"

#include "image/hexdecode.h"
#include "image/srecord.h"
#include "image/tekhex.h"
#include "hexedit/ascii.h"
#include "util/fileutil.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kHeaderLength = 9;  // ':' count(2) offset(4) type(2)

// Characters a record needs before it can be handled: the header, then the data and checksum.
std::size_t RecordLength(const char* r, std::size_t avail)
{
    if (avail < kHeaderLength)
        return kHeaderLength;
    return kHeaderLength + 2 * std::size_t{CAscii::HexByte(r + 1)} + 2;
}

std::string Hex(std::uint64_t v)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%" PRIX64, v);
    return text;
}

// The framework-style file error text for an errno value.
std::string FileErrorText(int err, const std::string& name)
{
    switch (err) {
    case ENOENT: return name + " was not found.";
    case EACCES:
    case EPERM: return "Access to " + name + " was denied.";
    case EISDIR: return name + " is a directory, not a file.";
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return name + " contains an invalid path.";
    case EMFILE:
    case ENFILE: return name + " could not be opened because there are too many open files.";
    case EIO: return "A hardware I/O error was reported while accessing " + name + ".";
    default:
        return "An unexpected error occurred while accessing " + name + " (" +
               util::ErrnoText(err) + ").";
    }
}

ImageLoadResult Failure(std::string message)
{
    ImageLoadResult r;
    r.message = std::move(message);
    return r;
}

// Reads up to size bytes; stops early only at the end of the file. Returns -1 on error.
ssize_t ReadFull(int fd, std::uint8_t* dst, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, dst + done, size - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

std::uint8_t ParseFillByte(const std::string& text)
{
    return static_cast<std::uint8_t>(std::strtoul(text.c_str(), nullptr, 16) & 0xFF);
}

std::string FormatBytesRead(std::uint64_t count)
{
    char text[24];
    std::snprintf(text, sizeof text, "%08" PRIx64, count);
    return text;
}

std::uint64_t ParseHexCount(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            break;
        if (value > (std::numeric_limits<std::uint64_t>::max() >> 4))
            value = std::numeric_limits<std::uint64_t>::max();
        else
            value = (value << 4) | digit;
    }
    return value;
}

const char* ImageFormatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Auto: return "auto";
    case ImageFormat::IntelHex: return "ihex";
    case ImageFormat::Binary: return "bin";
    case ImageFormat::SRecord: return "srec";
    case ImageFormat::TekHex: return "xtek";
    }
    return "bin";
}

const char* ImageFormatTitle(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Auto: return "automatic";
    case ImageFormat::IntelHex: return "Intel HEX";
    case ImageFormat::Binary: return "binary";
    case ImageFormat::SRecord: return "S-record";
    case ImageFormat::TekHex: return "extended Tektronix";
    }
    return "binary";
}

bool ParseImageFormat(std::string_view name, ImageFormat& format)
{
    for (ImageFormat f : {ImageFormat::Auto, ImageFormat::IntelHex, ImageFormat::Binary,
                          ImageFormat::SRecord, ImageFormat::TekHex}) {
        if (name == ImageFormatName(f)) {
            format = f;
            return true;
        }
    }
    return false;
}

ImageFormat DetectImageFormat(std::string_view head)
{
    constexpr std::size_t kLongestComment = 1024;
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
    };
    std::size_t i = head.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    for (;;) {
        while (i < head.size() && blank(head[i]))
            ++i;
        if (i == head.size() || (head[i] != '#' && head[i] != ';'))
            break;
        // A comment line is text: a control character or a very long line means a binary file
        // that happens to start with '#' or ';'.
        const std::size_t start = i;
        while (i < head.size() && head[i] != '\n') {
            const auto c = static_cast<unsigned char>(head[i]);
            if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7F || i - start > kLongestComment)
                return ImageFormat::Binary;
            ++i;
        }
    }
    if (i == head.size())
        return ImageFormat::Binary;
    switch (head[i]) {
    case ':': return ImageFormat::IntelHex;
    case '%': return ImageFormat::TekHex;
    case 'S':
        if (i + 1 < head.size() && head[i + 1] >= '0' && head[i + 1] <= '9')
            return ImageFormat::SRecord;
        return ImageFormat::Binary;
    default: return ImageFormat::Binary;
    }
}

void CIntelHexScanner::Feed(std::string_view text)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    m_nFed += text.size();
    m_lineCursor = p;
    // Whatever way the piece is left, its newlines are counted so the next piece starts on the
    // right line.
    struct CountRest {
        CIntelHexScanner& s;
        const char* end;
        ~CountRest()
        {
            if (s.m_bMore)
                s.m_nNewlines += hexdecode::CountNewlines(s.m_lineCursor, end);
            s.m_lineCursor = nullptr;
        }
    } countRest{*this, end};

    if (m_ePreamble != EPreamble::kDone) {
        p = Preamble(p, end);
        if (p == end)
            return;
    }
    std::size_t taken = 0;  // characters of this piece now in m_carry
    while (m_bMore && !m_carry.empty()) {
        // Complete the record the last piece cut off; the header decides the length needed.
        for (;;) {
            const std::size_t need = RecordLength(m_carry.data(), m_carry.size());
            if (m_carry.size() >= need)
                break;
            const std::size_t take =
                std::min(need - m_carry.size(), static_cast<std::size_t>(end - p));
            m_carry.append(p, take);
            p += take;
            taken += take;
            if (m_carry.size() < need)
                return;
        }
        m_bInCarry = true;
        const std::size_t used = Record(m_carry.data(), m_carry.size(), true);
        m_bInCarry = false;
        // What the record did not use (its checksum, the fields of a record passed over) is
        // scanned again, as it would be had the record arrived whole: a damaged record may hold
        // the start of the next one.
        std::size_t rest = m_carry.size() - std::min(used, m_carry.size());
        const std::size_t back = std::min(rest, taken);
        p -= back;
        taken -= back;
        rest -= back;
        const std::size_t restStart = m_carry.size() - back - rest;
        if (!m_bMore) {
            // An end record: what is left of it from earlier pieces is only counted.
            m_nAfterEnd += static_cast<std::uint64_t>(
                std::count(m_carry.begin() + static_cast<std::ptrdiff_t>(restStart),
                           m_carry.begin() + static_cast<std::ptrdiff_t>(restStart + rest), ':'));
            m_carry.clear();
            break;
        }
        const std::size_t colon = m_carry.find(':', restStart);
        if (rest == 0 || colon == std::string::npos || colon >= restStart + rest) {
            m_carry.clear();
            break;
        }
        m_nCarryLine += hexdecode::CountNewlines(m_carry.data(), m_carry.data() + colon);
        m_carry.erase(0, colon);
        m_carry.resize(m_carry.size() - back);
    }
    while (m_bMore && p < end) {
        const auto* r = static_cast<const char*>(std::memchr(p, ':', static_cast<std::size_t>(end - p)));
        if (r == nullptr)
            return;
        const std::size_t used = Record(r, static_cast<std::size_t>(end - r), false);
        if (used == 0) {
            m_nCarryLine = LineOf(r);
            m_carry.assign(r, end);
            return;
        }
        // The scan resumes right after the fields used: checksum and line end of any kind are
        // passed over by the search for the next ':'.
        p = r + used;
    }
    // Records after the end are counted, not read: `cat boot.hex app.hex` must not pass unseen.
    for (; !m_bMore && p < end; ++p) {
        p = static_cast<const char*>(std::memchr(p, ':', static_cast<std::size_t>(end - p)));
        if (p == nullptr)
            break;
        ++m_nAfterEnd;
    }
}

const char* CIntelHexScanner::Preamble(const char* p, const char* end)
{
    static constexpr char kMark[] = "\xEF\xBB\xBF";  // UTF-8 byte order mark
    while (p < end && m_ePreamble != EPreamble::kDone) {
        const char c = *p;
        switch (m_ePreamble) {
        case EPreamble::kMark:
            if (c == kMark[m_nMark]) {
                ++p;
                if (++m_nMark == 3)
                    m_ePreamble = EPreamble::kLineStart;
            } else {
                m_ePreamble = m_nMark == 0 ? EPreamble::kLineStart : EPreamble::kDone;
            }
            break;
        case EPreamble::kComment: {
            const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (nl == nullptr)
                return end;
            p = nl + 1;
            m_ePreamble = EPreamble::kLineStart;
            break;
        }
        default:
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v')
                ++p;
            else if (c == '#' || c == ';')
                m_ePreamble = EPreamble::kComment;
            else
                m_ePreamble = EPreamble::kDone;
            break;
        }
    }
    return p;
}

void CIntelHexScanner::Finish()
{
    if (m_bMore && !m_carry.empty()) {
        m_bInCarry = true;
        const std::size_t used = std::min(Record(m_carry.data(), m_carry.size(), true), m_carry.size());
        m_bInCarry = false;
        if (!m_bMore)
            m_nAfterEnd += static_cast<std::uint64_t>(
                std::count(m_carry.begin() + static_cast<std::ptrdiff_t>(used), m_carry.end(), ':'));
    }
    m_carry.clear();
    Report();
}

std::uint64_t CIntelHexScanner::LineOf(const char* r)
{
    if (m_bInCarry)
        return m_nCarryLine;
    m_nNewlines += hexdecode::CountNewlines(m_lineCursor, r);
    m_lineCursor = r;
    return m_nNewlines + 1;
}

std::size_t CIntelHexScanner::Record(const char* r, std::size_t avail, bool final)
{
    const std::size_t need = RecordLength(r, avail);
    if (avail < need && !final)
        return 0;
    ++m_nRecords;
    if (avail < kHeaderLength) {
        m_cutShort.Add(LineOf(r));
        return avail;  // header cut short by the end of the file: nothing to do
    }

    // What is stored follows CAscii's decoding whatever the characters are; the checksum and
    // the character check only decide the warnings.
    const hexdecode::PairTable& pairs = hexdecode::Pairs();
    const unsigned nv = pairs(r + 1), hi = pairs(r + 3), lo = pairs(r + 5), tv = pairs(r + 7);
    unsigned sum = nv + hi + lo + tv;
    unsigned bad = nv | hi | lo | tv;
    const std::size_t n = nv & 0xFF;
    const std::size_t full = kHeaderLength + 2 * n + 2;
    // Data bytes present complete.
    const std::size_t held = std::min(n, (avail - kHeaderLength) / 2);
    const char* const src = r + kHeaderLength;
    std::size_t used = kHeaderLength;
    std::size_t k = 0;

    const auto lineOf = [this, r] { return LineOf(r); };
    // Records that carry an address act only when whole and of the size their type has.
    const auto sized = [&](std::size_t want) {
        if (n != want) {
            m_malformed.Add(LineOf(r));
            return false;
        }
        return held == n;
    };
    const auto word = [&](std::size_t i) { return std::uint64_t{CAscii::HexWord(src + 4 * i)}; };
    switch (tv & 0xFF) {
    case 0x00: {
        // A record cut short stores the bytes it holds complete; a record may run over 64 KiB
        // boundaries.
        const std::uint64_t a = m_nBase + ((hi & 0xFF) << 8 | (lo & 0xFF));
        std::uint8_t data[256];
        for (; k < held; ++k) {
            const unsigned v = pairs(src + 2 * k);
            data[k] = static_cast<std::uint8_t>(v);
            sum += v;
            bad |= v;
        }
        m_builder.Store(a, data, held, CLineRef(lineOf));
        used = kHeaderLength + 2 * held;
        break;
    }
    case 0x01:
        m_bMore = false;
        m_nEndLine = LineOf(r);
        break;
    case 0x02:
        if (sized(2)) {
            if (m_bSegments)
                m_nBase = word(0) << 4;
            else
                m_segment.Add(LineOf(r));
        }
        break;
    case 0x03:
        // CS:IP, as the 8086 starts: CS x 16 + IP.
        if (sized(4))
            m_builder.SetEntryPoint((word(0) << 4) + word(1), LineOf(r));
        break;
    case 0x04:
        if (sized(2))
            m_nBase = word(0) << 16;
        break;
    case 0x05:
        if (sized(4))
            m_builder.SetEntryPoint(word(0) << 16 | word(1), LineOf(r));
        break;
    default: m_otherType.Add(LineOf(r)); break;
    }
    for (; k < held; ++k) {
        const unsigned v = pairs(src + 2 * k);
        sum += v;
        bad |= v;
    }

    if (avail >= full) {
        const unsigned cs = pairs(src + 2 * n);
        sum += cs;
        bad |= cs;
        if ((bad & hexdecode::kInvalid) == 0 && (sum & 0xFF) != 0)
            m_checksum.Add(LineOf(r));
    } else {
        m_cutShort.Add(LineOf(r));
    }
    if (bad & hexdecode::kInvalid) {
        // A line end or ':' among the fields: the record is shorter than its count says.
        if (hexdecode::HoldsRecordBreak(r + 1, r + std::min(avail, full), ':'))
            m_cutShort.Add(LineOf(r));
        else
            m_badChar.Add(LineOf(r));
    }
    return used;
}

void CIntelHexScanner::Report()
{
    if (m_diagnostics == nullptr)
        return;
    LoadDiagnostics& d = *m_diagnostics;
    if (m_nRecords == 0) {
        if (m_nFed > 0)
            d.Add(LoadWarningKind::NoRecords, 0, "no Intel HEX records: is it a binary file?");
        return;
    }
    AddChecksumWarning(d, m_checksum);
    AddBadCharacterWarning(d, m_badChar);
    AddCutShortWarning(d, m_cutShort, "byte count");
    if (m_bMore)
        d.Add(LoadWarningKind::NoEndRecord, 0, "no end record (type 01): the file may be incomplete");
    AddAfterEndWarning(d, m_nAfterEnd, m_nEndLine);
    m_builder.ReportAboveImage(d);
    m_builder.ReportBelowBase(d);
    m_builder.ReportOverlaps(d);
    if (m_segment.Any())
        d.Add(LoadWarningKind::PassedOver, m_segment.First(),
              "extended segment address records (type 02) passed over: the data after them "
              "loads as if they were absent; give --segments to follow them (" + m_segment.Lines() + ")");
    if (m_otherType.Any())
        d.Add(LoadWarningKind::PassedOver, m_otherType.First(),
              CountOf(m_otherType.Count(), "record", "records") + " of an unknown type passed over (" +
                  m_otherType.Lines() + ")");
    AddMalformedWarning(d, m_malformed);
}

namespace {

struct Loaded {
    bool ok = false;
    int err = 0;
    bool complete = false;
    bool tooLong = false;  // a stream passed its limit
    std::uint64_t bytes = 0;  // read in all
};

// Reads one chunk, counting towards a stream's limit (0: none). -1 on error (errno set), -2
// past the limit.
ssize_t ReadCounted(int fd, char* chunk, std::uint64_t& total, std::uint64_t limit, std::size_t size = kLoadChunkSize)
{
    const ssize_t got = ReadFull(fd, reinterpret_cast<std::uint8_t*>(chunk), size);
    if (got > 0) {
        total += static_cast<std::uint64_t>(got);
        if (limit > 0 && total > limit)
            return -2;
    }
    return got;
}

// Feeds the text scanner the head already read, then the rest of the descriptor piece by piece
// to its end: records after an end record are counted, and the program writing a pipe never
// meets a closed one.
template <class Scanner>
Loaded Scan(Scanner& scanner, int fd, std::string_view head, char* chunk, std::uint64_t& total, std::uint64_t limit)
{
    Loaded r;
    r.bytes = head.size();
    if (!head.empty())
        scanner.Feed(head);
    for (;;) {
        const ssize_t got = ReadCounted(fd, chunk, total, limit);
        if (got == -2) {
            r.tooLong = true;
            return r;
        }
        if (got < 0) {
            r.err = errno;
            return r;
        }
        if (got == 0)
            break;
        r.bytes += static_cast<std::uint64_t>(got);
        scanner.Feed(std::string_view(chunk, static_cast<std::size_t>(got)));
    }
    scanner.Finish();
    r.ok = true;
    r.complete = scanner.Complete();
    return r;
}

// The options asked for something this file cannot do: the caller's mistake, not the file's.
ImageLoadResult Misuse(std::string message)
{
    ImageLoadResult r = Failure(std::move(message));
    r.misuse = true;
    return r;
}

void WarnBinaryLength(LoadDiagnostics& d, std::uint64_t length, std::uint64_t extent, std::uint64_t romSize,
                      const SAddressMap& map)
{
    const bool asItStands = map.skip == 0 && map.at == 0 && !map.wrap;
    if (extent > kRomImageSize) {
        if (asItStands)
            d.Add(LoadWarningKind::BinaryTooLong, 0,
                  "the binary file holds " + std::to_string(length) +
                      " bytes: only the first 1 MiB has a place in the buffer, the rest is dropped");
        else
            d.Add(LoadWarningKind::BinaryTooLong, 0,
                  "the binary file's data would reach " + Hex(extent - 1) +
                      ": the buffer holds 1 MiB, so the bytes from file offset " +
                      Hex(map.skip + kRomImageSize - map.at) + " on are dropped");
    }
    if (romSize > 0 && romSize < kRomImageSize && extent > romSize) {
        if (asItStands)
            d.Add(LoadWarningKind::BinaryTooLong, 0,
                  "the binary file holds " + std::to_string(length) + " bytes, more than the ROM size (" +
                      std::to_string(romSize) + "): the bytes from " + Hex(romSize) +
                      " on are loaded but not downloaded");
        else
            d.Add(LoadWarningKind::BinaryTooLong, 0,
                  "the binary file's data reaches " + Hex(std::min<std::uint64_t>(extent, kRomImageSize) - 1) +
                      ", beyond the ROM size (" + std::to_string(romSize) + "): the bytes from " + Hex(romSize) +
                      " on are loaded but not downloaded");
    }
}

// Reads a stream to its end (or its limit), so that the program writing it does not fail.
void Drain(int fd, char* chunk, std::uint64_t& total, std::uint64_t limit)
{
    while (ReadCounted(fd, chunk, total, limit) > 0) {
    }
}

// The load proper, from an open descriptor; `shown` names it in messages. length: the file's
// length when it is a regular file read from its start, or -1 for a stream read to its end.
ImageLoadResult LoadOpened(int fd, const std::string& name, const std::string& shown, std::int64_t length,
                           const ImageLoadOptions& options, CRomImage& target)
{
    const SAddressMap& map = options.map;
    if (map.at >= kRomImageSize)
        return Misuse("--at " + Hex(map.at) + " lies beyond the 1 MiB image");
    if (map.wrap && options.romSize == 0)
        return Misuse("--wrap needs the ROM size to wrap at");

    // The image is built aside, so a read error leaves the caller's image as it was.
    CRomImage built(options.fill);
    std::unique_ptr<char[]> chunk(new (std::nothrow) char[kLoadChunkSize]);
    if (!chunk)
        return Failure("There is not enough memory to load " + shown + ".");
    const bool stream = length < 0;
    std::uint64_t streamed = 0;
    const std::uint64_t limit = stream ? options.streamLimit : 0;
    const auto tooLong = [&]() {
        return Failure(shown + " is larger than " + std::to_string(limit >> 20) +
                       " MiB, more than any ROM image file; give the file by name.");
    };

    // Detection reads the first piece; it is handed on to whichever reader is chosen.
    std::size_t headSize = 0;
    ImageFormat format = options.format;
    if (format == ImageFormat::Auto) {
        const ssize_t got = ReadCounted(fd, chunk.get(), streamed, limit);
        if (got == -2)
            return tooLong();
        if (got < 0)
            return Failure(FileErrorText(errno, shown));
        headSize = static_cast<std::size_t>(got);
        format = DetectImageFormat(std::string_view(chunk.get(), headSize));
    }
    const bool binary = format == ImageFormat::Binary;
    if ((binary && map.base != 0) || (!binary && map.skip != 0)) {
        if (stream)
            Drain(fd, chunk.get(), streamed, limit);
        if (binary)
            return Misuse("--base " + Hex(map.base) + " applies to Intel HEX, S-record and Tektronix files, and " +
                          shown + " was read as binary: use --skip for a binary file");
        return Misuse("--skip " + Hex(map.skip) + " applies to binary files, and " + shown + " was read as " +
                      ImageFormatTitle(format) + ": use --base for a record file");
    }

    ImageLoadResult result;
    built.SetFormat(format);
    built.SetSource(name);
    LoadDiagnostics* const d = &built.Diagnostics();
    CImageBuilder builder(built, map, binary, options.romSize);
    std::uint64_t fileBytes = 0;
    if (binary) {
        // Bytes from file offset `skip` on have a place, up to where the map reaches 1 MiB; with
        // --wrap every byte has one.
        const std::uint64_t placeEnd = map.skip + (kRomImageSize - map.at);
        const auto placed = [&](std::uint64_t offset) { return map.wrap || offset < placeEnd; };
        // The first 4 KiB, for the check that a binary file is no text file by mistake.
        std::string start(chunk.get(), std::min<std::size_t>(headSize, 4096));
        const auto keepStart = [&](std::uint64_t at, std::size_t got) {
            if (start.size() < 4096 && at == start.size())
                start.append(chunk.get(), std::min<std::size_t>(got, 4096 - start.size()));
        };
        builder.Store(0, reinterpret_cast<const std::uint8_t*>(chunk.get()), headSize);
        std::uint64_t offset = headSize;
        if (!stream) {
            const auto fileLength = static_cast<std::uint64_t>(length);
            // What is skipped is sought over, what lies beyond the image not read at all.
            if (offset < map.skip && map.skip < fileLength &&
                ::lseek(fd, static_cast<off_t>(map.skip - offset), SEEK_CUR) >= 0) {
                builder.Unread(offset, map.skip - offset);
                offset = map.skip;
            }
            const std::uint64_t to = map.wrap ? fileLength : std::min(fileLength, std::max(placeEnd, offset));
            while (offset < to) {
                const ssize_t got = ReadFull(fd, reinterpret_cast<std::uint8_t*>(chunk.get()),
                                             static_cast<std::size_t>(std::min<std::uint64_t>(kLoadChunkSize, to - offset)));
                if (got < 0)
                    return Failure(FileErrorText(errno, shown));
                if (got == 0)
                    break;
                keepStart(offset, static_cast<std::size_t>(got));
                builder.Store(offset, reinterpret_cast<const std::uint8_t*>(chunk.get()), static_cast<std::size_t>(got));
                offset += static_cast<std::uint64_t>(got);
            }
            if (offset < fileLength)
                builder.Unread(offset, fileLength - offset);
            fileBytes = std::max(offset, fileLength);
        } else {
            for (;;) {
                const ssize_t got = ReadCounted(fd, chunk.get(), streamed, limit);
                if (got == -2)
                    return tooLong();
                if (got < 0)
                    return Failure(FileErrorText(errno, shown));
                if (got == 0)
                    break;
                keepStart(offset, static_cast<std::size_t>(got));
                if (placed(offset))
                    builder.Store(offset, reinterpret_cast<const std::uint8_t*>(chunk.get()), static_cast<std::size_t>(got));
                else
                    builder.Unread(offset, static_cast<std::uint64_t>(got));
                offset += static_cast<std::uint64_t>(got);
            }
            fileBytes = offset;
        }
        // The count is where the data ends in the image: the file's length when it stands as it is.
        const std::uint64_t extent =
            map.wrap ? builder.Highest() : fileBytes > map.skip ? map.at + (fileBytes - map.skip) : 0;
        built.SetBytesRead(extent);
        result.complete = fileBytes > 0;
        WarnBinaryLength(*d, fileBytes, extent, options.romSize, map);
        builder.ReportOverlaps(*d);
        // Asked for binary, yet written as text: the image would hold the text's characters.
        const ImageFormat looks = DetectImageFormat(start);
        if (options.format == ImageFormat::Binary && looks != ImageFormat::Binary)
            d->Add(LoadWarningKind::LooksLikeText, 0,
                   std::string("the file starts like ").append(ImageFormatTitle(looks)).append(
                       " but is loaded as binary: its characters, not its data, would reach the ROM"));
    } else {
        const std::string_view head(chunk.get(), headSize);
        Loaded loaded;
        if (format == ImageFormat::SRecord) {
            CSRecordScanner scanner(builder, d);
            loaded = Scan(scanner, fd, head, chunk.get(), streamed, limit);
        } else if (format == ImageFormat::TekHex) {
            CTekHexScanner scanner(builder, d);
            loaded = Scan(scanner, fd, head, chunk.get(), streamed, limit);
        } else {
            CIntelHexScanner scanner(builder, d);
            loaded = Scan(scanner, fd, head, chunk.get(), streamed, limit);
        }
        if (loaded.tooLong)
            return tooLong();
        if (!loaded.ok)
            return Failure(FileErrorText(loaded.err, shown));
        result.complete = loaded.complete;
        fileBytes = loaded.bytes;
        built.SetBytesRead(builder.Highest());
        if (options.romSize > 0 && builder.Highest() > options.romSize) {
            std::string text = "data up to " + Hex(builder.Highest() - 1) + " lies beyond the ROM size (" +
                               Hex(options.romSize) + " bytes): it is loaded but not downloaded";
            const SLoadTrace& trace = built.Trace();
            if (const std::optional<std::uint64_t> base = SuggestBase(trace, options.romSize))
                text += "; the data lies in " + Hex(trace.fileLow) + "-" + Hex(trace.fileHigh) + ": give --base " +
                        Hex(*base);
            d->Add(LoadWarningKind::BeyondRomSize, 0, std::move(text));
        }
    }
    if (!builder.StoredAny() && !d->Has(LoadWarningKind::NoRecords)) {
        if (fileBytes == 0)
            d->Add(LoadWarningKind::NoData, 0, "the file is empty: it sets no byte of the image");
        else if (binary)
            d->Add(LoadWarningKind::NoData, 0,
                   "the file sets no byte of the image: --skip " + Hex(map.skip) + " passes over all its " +
                       std::to_string(fileBytes) + " bytes");
        else
            d->Add(LoadWarningKind::NoData, 0, "the file sets no byte of the image");
    }

    result.bytesRead = built.BytesRead();
    result.format = built.Format();
    target = std::move(built);
    result.ok = true;
    return result;
}

}  // namespace

ImageLoadResult LoadImage(const std::string& fileName, const ImageLoadOptions& options, CRomImage& image)
{
    if (fileName.empty())
        return Failure("No file name was given.");

    // Messages quote the name: a name with blanks, or one that ends in a dot, reads as one.
    const std::string quoted = "\"" + fileName + "\"";
    // O_NONBLOCK: opening a FIFO must not hang; it is refused below like any non-regular file.
    const util::CUniqueFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0)
        return Failure(FileErrorText(errno, quoted));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return Failure(FileErrorText(errno, quoted));
    if (S_ISDIR(st.st_mode))
        return Failure(FileErrorText(EISDIR, quoted));
    if (!S_ISREG(st.st_mode))
        return Failure(quoted + " is not a regular file.");
    return LoadOpened(fd.Get(), fileName, quoted, static_cast<std::int64_t>(st.st_size), options, image);
}

ImageFormat DetectFileFormat(const std::string& fileName)
{
    const util::CUniqueFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return ImageFormat::Auto;
    char head[4096];
    const ssize_t got = ReadFull(fd.Get(), reinterpret_cast<std::uint8_t*>(head), sizeof head);
    if (got < 0)
        return ImageFormat::Auto;
    return DetectImageFormat(std::string_view(head, static_cast<std::size_t>(got)));
}

std::string DescribeLoad(const std::string& fileName, ImageFormat asked, ImageFormat looks,
                         const LoadDiagnostics& diagnostics, std::size_t maxShown)
{
    const bool mismatch = asked != ImageFormat::Auto && looks != ImageFormat::Auto && asked != looks;
    // The mismatch says what "no records" and "starts like text" would say again.
    std::vector<LoadWarning> warnings;
    for (const LoadWarning& w : diagnostics.Warnings())
        if (!mismatch || (w.kind != LoadWarningKind::NoRecords && w.kind != LoadWarningKind::LooksLikeText))
            warnings.push_back(w);
    if (!mismatch && warnings.empty())
        return {};
    std::string text = "\"" + fileName + "\" was loaded";
    if (mismatch)
        text.append(" as ").append(ImageFormatTitle(asked)).append(", but it looks like ").append(
            ImageFormatTitle(looks)).append(": choose that format and load it again if the buffer does not hold what you expect.");
    else
        text.append(" with warnings.");
    if (!warnings.empty()) {
        text.append("\n").append(CountOf(warnings.size(), "warning", "warnings"));
        if (warnings.size() > maxShown)
            text.append(", the first ").append(std::to_string(maxShown));
        text.append(":");
        for (std::size_t i = 0; i < warnings.size() && i < maxShown; ++i) {
            text.append("\n");
            if (warnings[i].line > 0)
                text.append("line ").append(std::to_string(warnings[i].line)).append(": ");
            text.append(warnings[i].message);
        }
    }
    return text;
}

ImageLoadResult LoadImageFromFd(int fd, const std::string& displayName, const ImageLoadOptions& options,
                                CRomImage& image)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return Failure(FileErrorText(errno, displayName));
    if (S_ISDIR(st.st_mode))
        return Failure(FileErrorText(EISDIR, displayName));
    std::int64_t length = -1;
    if (S_ISREG(st.st_mode)) {
        // A redirected file may not be read from its start: count what is left of it.
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        if (at >= 0 && at <= st.st_size)
            length = static_cast<std::int64_t>(st.st_size - at);
    }
    return LoadOpened(fd, displayName, displayName, length, options, image);
}
