// Image file loading: Intel HEX or raw binary into the 1 MiB ROM image buffer.
#include "buffer/imageloader.h"

#include "hexedit/ascii.h"
#include "util/fileutil.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kHeaderLength = 9;  // ':' count(2) offset(4) type(2)

// CAscii::HexByte of every pair of characters, so the data bytes of a record decode by one
// look-up each: a dense 1 MiB image has a million of them.
class HexPairTable {
public:
    HexPairTable()
    {
        for (unsigned i = 0; i < 0x10000; ++i) {
            const char pair[2] = {static_cast<char>(i >> 8), static_cast<char>(i & 0xFF)};
            m_value[i] = CAscii::HexByte(pair);
        }
    }
    std::uint8_t operator()(const char* p) const
    {
        return m_value[static_cast<std::uint8_t>(p[0]) << 8 | static_cast<std::uint8_t>(p[1])];
    }

private:
    std::uint8_t m_value[0x10000];
};

const HexPairTable& HexPairs()
{
    static const HexPairTable table;
    return table;
}

// Characters a record needs before it can be handled: the header, then the data of a type 00
// record or the four address characters of a type 04 record. The checksum is not needed.
std::size_t RecordLength(const char* r, std::size_t avail)
{
    if (avail < kHeaderLength)
        return kHeaderLength;
    const std::size_t n = CAscii::HexByte(r + 1);
    switch (CAscii::HexByte(r + 7)) {
    case 0x00: return kHeaderLength + 2 * n;
    case 0x04: return kHeaderLength + 4;
    default: return kHeaderLength;
    }
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

void CIntelHexScanner::Feed(std::string_view text)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    if (m_bMore && !m_carry.empty()) {
        // Complete the record the last piece cut off; the header decides the length needed.
        for (;;) {
            const std::size_t need = RecordLength(m_carry.data(), m_carry.size());
            if (m_carry.size() >= need)
                break;
            const std::size_t take =
                std::min(need - m_carry.size(), static_cast<std::size_t>(end - p));
            m_carry.append(p, take);
            p += take;
            if (m_carry.size() < need)
                return;
        }
        Record(m_carry.data(), m_carry.size(), true);
        m_carry.clear();
    }
    while (m_bMore && p < end) {
        const auto* r = static_cast<const char*>(std::memchr(p, ':', static_cast<std::size_t>(end - p)));
        if (r == nullptr)
            return;
        const std::size_t used = Record(r, static_cast<std::size_t>(end - r), false);
        if (used == 0) {
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
    if (m_bMore && !m_carry.empty())
        Record(m_carry.data(), m_carry.size(), true);
    m_carry.clear();
}

std::size_t CIntelHexScanner::Record(const char* r, std::size_t avail, bool final)
{
    const std::size_t need = RecordLength(r, avail);
    if (avail < need && !final)
        return 0;
    if (avail < kHeaderLength)
        return avail;  // header cut short by the end of the file: nothing to do

    const std::size_t n = CAscii::HexByte(r + 1);
    const std::uint16_t offset = CAscii::HexWord(r + 3);
    switch (CAscii::HexByte(r + 7)) {
    case 0x00: {
        // A record cut short stores the bytes it holds complete.
        const std::size_t count = std::min(n, (avail - kHeaderLength) / 2);
        const std::uint64_t a = (static_cast<std::uint64_t>(m_nUpper) << 16) + offset;
        if (a < kRomImageSize) {
            // Bytes past the buffer's end are dropped; a record may run over 64 KiB boundaries.
            const std::size_t stored = static_cast<std::size_t>(
                std::min<std::uint64_t>(count, kRomImageSize - a));
            std::uint8_t* dst = m_buffer.data() + a;
            const char* src = r + kHeaderLength;
            const HexPairTable& hexByte = HexPairs();
            for (std::size_t k = 0; k < stored; ++k)
                dst[k] = hexByte(src + 2 * k);
            if (stored > 0 && a + stored > m_nHighest)
                m_nHighest = a + stored;
        }
        return kHeaderLength + 2 * count;
    }
    case 0x01:
        m_bMore = false;
        return kHeaderLength;
    case 0x04:
        if (avail < need)
            return avail;
        m_nUpper = CAscii::HexWord(r + kHeaderLength);
        return need;
    default:
        return kHeaderLength;
    }
}

ImageLoadResult LoadImageFile(const std::string& fileName, int fileFormat, std::uint8_t fill,
                              RomImage buffer)
{
    if (fileName.empty())
        return Failure("No file name was given.");

    // O_NONBLOCK: opening a FIFO must not hang; it is refused below like any non-regular file.
    const util::CUniqueFd fd(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Get() < 0)
        return Failure(FileErrorText(errno, fileName));
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return Failure(FileErrorText(errno, fileName));
    if (S_ISDIR(st.st_mode))
        return Failure(FileErrorText(EISDIR, fileName));
    if (!S_ISREG(st.st_mode))
        return Failure(fileName + " is not a regular file.");

    // The image is built aside, so a read error leaves the caller's buffer as it was.
    std::unique_ptr<std::uint8_t[]> scratch(new (std::nothrow) std::uint8_t[kRomImageSize]);
    if (!scratch)
        return Failure("There is not enough memory to load " + fileName + ".");
    std::memset(scratch.get(), fill, kRomImageSize);
    const RomImage image(scratch.get(), kRomImageSize);

    ImageLoadResult result;
    if (fileFormat != 0) {
        // Only the first 1 MiB has a place in the buffer; the count stays the file's length.
        const std::uint64_t length = static_cast<std::uint64_t>(st.st_size);
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(length, kRomImageSize));
        if (ReadFull(fd.Get(), image.data(), want) < 0)
            return Failure(FileErrorText(errno, fileName));
        result.bytesRead = length;
    } else {
        std::unique_ptr<char[]> chunk(new (std::nothrow) char[kLoadChunkSize]);
        if (!chunk)
            return Failure("There is not enough memory to load " + fileName + ".");
        CIntelHexScanner scanner(image);
        while (!scanner.Ended()) {
            const ssize_t got =
                ReadFull(fd.Get(), reinterpret_cast<std::uint8_t*>(chunk.get()), kLoadChunkSize);
            if (got < 0)
                return Failure(FileErrorText(errno, fileName));
            if (got == 0)
                break;
            scanner.Feed(std::string_view(chunk.get(), static_cast<std::size_t>(got)));
        }
        scanner.Finish();
        result.bytesRead = scanner.Highest();
    }

    std::memcpy(buffer.data(), scratch.get(), kRomImageSize);
    result.ok = true;
    return result;
}
