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

// Characters a record needs before it can be handled: the header, then the data and checksum,
// and at least the four address characters of a type 04 record.
std::size_t RecordLength(const char* r, std::size_t avail)
{
    if (avail < kHeaderLength)
        return kHeaderLength;
    const std::size_t full = kHeaderLength + 2 * std::size_t{CAscii::HexByte(r + 1)} + 2;
    if (CAscii::HexByte(r + 7) == 0x04)
        return std::max(full, kHeaderLength + 4);
    return full;
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
    std::size_t i = 0;
    while (i < head.size() && (head[i] == ' ' || head[i] == '\t' || head[i] == '\r' ||
                               head[i] == '\n' || head[i] == '\f' || head[i] == '\v'))
        ++i;
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
}

void CIntelHexScanner::Finish()
{
    if (m_bMore && !m_carry.empty()) {
        m_bInCarry = true;
        Record(m_carry.data(), m_carry.size(), true);
        m_bInCarry = false;
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

    switch (tv & 0xFF) {
    case 0x00: {
        // A record cut short stores the bytes it holds complete; a record may run over 64 KiB
        // boundaries.
        const std::uint64_t a = (static_cast<std::uint64_t>(m_nUpper) << 16) + ((hi & 0xFF) << 8 | (lo & 0xFF));
        std::uint8_t data[256];
        for (; k < held; ++k) {
            const unsigned v = pairs(src + 2 * k);
            data[k] = static_cast<std::uint8_t>(v);
            sum += v;
            bad |= v;
        }
        if (const std::size_t stored = m_builder.Store(a, data, held); stored < held)
            m_dropped.Add(LineOf(r), held - stored);
        used = kHeaderLength + 2 * held;
        break;
    }
    case 0x01:
        m_bMore = false;
        break;
    case 0x02: m_segment.Add(LineOf(r)); break;
    case 0x03: m_start.Add(LineOf(r)); break;
    case 0x04:
        if (avail < kHeaderLength + 4) {
            m_cutShort.Add(LineOf(r));
            return avail;
        }
        m_nUpper = CAscii::HexWord(src);
        used = kHeaderLength + 4;
        break;
    case 0x05: m_linearStart.Add(LineOf(r)); break;
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
    AddDroppedWarning(d, m_dropped);
    if (m_segment.Any())
        d.Add(LoadWarningKind::PassedOver, m_segment.First(),
              "extended segment address records (type 02) passed over: the data after them "
              "loads as if they were absent (" + m_segment.Lines() + ")");
    if (m_start.Any())
        d.Add(LoadWarningKind::PassedOver, m_start.First(),
              "start segment address record (type 03) passed over (" + m_start.Lines() + ")");
    if (m_linearStart.Any())
        d.Add(LoadWarningKind::PassedOver, m_linearStart.First(),
              "start linear address record (type 05) passed over (" + m_linearStart.Lines() + ")");
    if (m_otherType.Any())
        d.Add(LoadWarningKind::PassedOver, m_otherType.First(),
              CountOf(m_otherType.Count(), "record", "records") + " of an unknown type passed over (" +
                  m_otherType.Lines() + ")");
}

namespace {

struct Loaded {
    bool ok = false;
    int err = 0;
    bool complete = false;
    bool tooLong = false;  // a stream passed its limit
};

// Feeds the text scanner the head already read, then the rest of the descriptor piece by
// piece until the scanner meets its end record or the input ends.
// Reads one chunk of a stream, counting towards its limit. -1 on error (errno set), -2 past the limit.
ssize_t ReadCounted(int fd, char* chunk, std::uint64_t& total, std::uint64_t limit)
{
    const ssize_t got = ReadFull(fd, reinterpret_cast<std::uint8_t*>(chunk), kLoadChunkSize);
    if (got > 0) {
        total += static_cast<std::uint64_t>(got);
        if (limit > 0 && total > limit)
            return -2;
    }
    return got;
}

template <class Scanner>
Loaded Scan(Scanner& scanner, int fd, std::string_view head, char* chunk, bool stream, std::uint64_t& total,
            std::uint64_t limit)
{
    Loaded r;
    auto read = [&]() {
        const ssize_t got = ReadCounted(fd, chunk, total, limit);
        if (got == -2)
            r.tooLong = true;
        else if (got < 0)
            r.err = errno;
        return got;
    };
    if (!head.empty())
        scanner.Feed(head);
    while (!scanner.Ended()) {
        const ssize_t got = read();
        if (got < 0)
            return r;
        if (got == 0)
            break;
        scanner.Feed(std::string_view(chunk, static_cast<std::size_t>(got)));
    }
    scanner.Finish();
    // A pipe is read to its end, so the program writing it never fails on a closed pipe.
    while (stream) {
        const ssize_t got = read();
        if (got < 0)
            return r;
        if (got == 0)
            break;
    }
    r.ok = true;
    r.complete = scanner.Complete();
    return r;
}

void WarnBinaryLength(LoadDiagnostics& d, std::uint64_t length, std::uint64_t romSize)
{
    if (length > kRomImageSize)
        d.Add(LoadWarningKind::BinaryTooLong, 0,
              "the binary file holds " + std::to_string(length) +
                  " bytes: only the first 1 MiB has a place in the buffer, the rest is dropped");
    if (romSize > 0 && romSize < kRomImageSize && length > romSize)
        d.Add(LoadWarningKind::BinaryTooLong, 0,
              "the binary file holds " + std::to_string(length) + " bytes, more than the ROM size (" +
                  std::to_string(romSize) + "): the bytes from " + Hex(romSize) +
                  " on are loaded but not downloaded");
}

// The load proper, from an open descriptor; `shown` names it in messages. length: the file's
// length when it is a regular file read from its start, or -1 for a stream read to its end.
ImageLoadResult LoadOpened(int fd, const std::string& name, const std::string& shown, std::int64_t length,
                           const ImageLoadOptions& options, CRomImage& target)
{
    // The image is built aside, so a read error leaves the caller's image as it was.
    CRomImage built(options.fill);
    const RomImage image = built.Bytes();
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

    ImageLoadResult result;
    built.SetFormat(format);
    built.SetSource(name);
    LoadDiagnostics* const d = &built.Diagnostics();
    if (format == ImageFormat::Binary) {
        // Only the first 1 MiB has a place in the buffer; the count stays the file's length.
        std::memcpy(image.data(), chunk.get(), headSize);
        std::uint64_t total = 0;
        if (length >= 0) {
            const auto want = static_cast<std::size_t>(
                std::min<std::uint64_t>(static_cast<std::uint64_t>(length), kRomImageSize));
            if (want > headSize && ReadFull(fd, image.data() + headSize, want - headSize) < 0)
                return Failure(FileErrorText(errno, shown));
            total = static_cast<std::uint64_t>(length);
        } else {
            const ssize_t got = ReadFull(fd, image.data() + headSize, kRomImageSize - headSize);
            if (got < 0)
                return Failure(FileErrorText(errno, shown));
            total = headSize + static_cast<std::uint64_t>(got);
            streamed = total;
            // What lies beyond 1 MiB only counts.
            for (;;) {
                const ssize_t more = ReadCounted(fd, chunk.get(), streamed, limit);
                if (more == -2)
                    return tooLong();
                if (more < 0)
                    return Failure(FileErrorText(errno, shown));
                if (more == 0)
                    break;
                total += static_cast<std::uint64_t>(more);
            }
        }
        built.SetBytesRead(total);
        built.MarkSet(0, static_cast<std::size_t>(std::min<std::uint64_t>(total, kRomImageSize)));
        result.complete = total > 0;
        {
            WarnBinaryLength(*d, total, options.romSize);
            // Asked for binary, yet written as text: the image would hold the text's characters.
            const ImageFormat looks = DetectImageFormat(
                std::string_view(reinterpret_cast<const char*>(image.data()), std::min<std::uint64_t>(total, 4096)));
            if (options.format == ImageFormat::Binary && looks != ImageFormat::Binary)
                d->Add(LoadWarningKind::LooksLikeText, 0,
                       std::string("the file starts like ").append(ImageFormatTitle(looks)).append(
                           " but is loaded as binary: its characters, not its data, would reach the ROM"));
        }
    } else {
        const std::string_view head(chunk.get(), headSize);
        CImageBuilder builder(built);
        Loaded loaded;
        if (format == ImageFormat::SRecord) {
            CSRecordScanner scanner(builder, d);
            loaded = Scan(scanner, fd, head, chunk.get(), stream, streamed, limit);
        } else if (format == ImageFormat::TekHex) {
            CTekHexScanner scanner(builder, d);
            loaded = Scan(scanner, fd, head, chunk.get(), stream, streamed, limit);
        } else {
            CIntelHexScanner scanner(builder, d);
            loaded = Scan(scanner, fd, head, chunk.get(), stream, streamed, limit);
        }
        if (loaded.tooLong)
            return tooLong();
        if (!loaded.ok)
            return Failure(FileErrorText(loaded.err, shown));
        result.complete = loaded.complete;
        built.SetBytesRead(builder.Highest());
        if (options.romSize > 0 && builder.Highest() > options.romSize)
            d->Add(LoadWarningKind::BeyondRomSize, 0,
                   "data up to " + Hex(builder.Highest() - 1) + " lies beyond the ROM size (" +
                       Hex(options.romSize) + " bytes): it is loaded but not downloaded");
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
