// SPDX-License-Identifier: MIT
// Image file writing: Intel HEX, Motorola S-record or binary.
#include "image/imagewriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

#include "util/fileutil.h"

namespace {

constexpr std::size_t kFlushSize = 64 * 1024;
constexpr char kDigits[] = "0123456789ABCDEF";
// Data bytes of one extended Tektronix record: its length field counts at most 255 characters.
constexpr std::size_t kTekMaxBytes = 120;

// Builds records in a buffer handed to the sink whenever it fills past kFlushSize; a record
// (at most 530 characters) always fits in the room left.
class RecordWriter {
public:
    explicit RecordWriter(const ImageSink& sink) : m_sink(sink), m_text(kFlushSize + 1024, '\0') {}

    void Begin(std::string_view mark)
    {
        // Copied, not replace()d: GCC 12 at -O3 sees an overlap in replace that is not there.
        std::memcpy(m_text.data() + m_len, mark.data(), mark.size());
        m_len += mark.size();
        m_sum = 0;
    }
    void Byte(unsigned b)
    {
        m_text[m_len] = kDigits[(b >> 4) & 0xF];
        m_text[m_len + 1] = kDigits[b & 0xF];
        m_len += 2;
        m_sum += b;
    }
    void Bytes(const std::uint8_t* p, std::size_t n)
    {
        char* out = m_text.data() + m_len;
        for (std::size_t i = 0; i < n; ++i) {
            out[2 * i] = kDigits[p[i] >> 4];
            out[2 * i + 1] = kDigits[p[i] & 0xF];
            m_sum += p[i];
        }
        m_len += 2 * n;
    }
    unsigned Sum() const { return m_sum; }
    // Ends a line; returns false once the sink refused a piece.
    bool End(std::string_view eol)
    {
        std::memcpy(m_text.data() + m_len, eol.data(), eol.size());
        m_len += eol.size();
        if (m_len >= kFlushSize)
            return Flush();
        return m_ok;
    }
    bool Flush()
    {
        if (m_ok && m_len > 0)
            m_ok = m_sink(std::string_view(m_text.data(), m_len));
        m_len = 0;
        return m_ok;
    }

private:
    const ImageSink& m_sink;
    std::string m_text;
    std::size_t m_len = 0;
    unsigned m_sum = 0;
    bool m_ok = true;
};

bool WriteIntelHex(std::span<const std::uint8_t> data, unsigned perRecord, const ImageSink& sink)
{
    RecordWriter w(sink);
    std::uint32_t upper = 0;
    for (std::size_t a = 0; a < data.size();) {
        const auto u = static_cast<std::uint32_t>(a >> 16);
        if (u != upper) {
            // Extended linear address: the upper 16 bits of the records that follow.
            w.Begin(":");
            w.Byte(2);
            w.Byte(0);
            w.Byte(0);
            w.Byte(4);
            w.Byte(u >> 8);
            w.Byte(u & 0xFF);
            w.Byte((0x100 - (w.Sum() & 0xFF)) & 0xFF);
            if (!w.End("\r\n"))
                return false;
            upper = u;
        }
        // A record never crosses a 64 KiB boundary: readers differ on whether its offset wraps.
        const std::size_t n = std::min({std::size_t{perRecord}, data.size() - a, 0x10000 - (a & 0xFFFF)});
        w.Begin(":");
        w.Byte(static_cast<unsigned>(n));
        w.Byte((a >> 8) & 0xFF);
        w.Byte(a & 0xFF);
        w.Byte(0);
        w.Bytes(data.data() + a, n);
        w.Byte((0x100 - (w.Sum() & 0xFF)) & 0xFF);
        if (!w.End("\r\n"))
            return false;
        a += n;
    }
    w.Begin(":00000001FF");
    w.End("\r\n");
    return w.Flush();
}

void SRecord(RecordWriter& w, char type, std::uint64_t address, unsigned addressBytes,
             const std::uint8_t* p, std::size_t n)
{
    const char mark[2] = {'S', type};
    w.Begin(std::string_view(mark, 2));
    w.Byte(static_cast<unsigned>(addressBytes + n + 1));
    for (unsigned i = addressBytes; i-- > 0;)
        w.Byte(static_cast<unsigned>(address >> (8 * i)) & 0xFF);
    w.Bytes(p, n);
    w.Byte(~w.Sum() & 0xFF);
}

unsigned SRecordAddressBytes(std::size_t size, unsigned atLeast)
{
    const std::uint64_t last = size == 0 ? 0 : size - 1;
    const unsigned need = last <= 0xFFFF ? 2 : last <= 0xFFFFFF ? 3 : 4;
    return std::max(need, atLeast);
}

bool WriteSRecord(std::span<const std::uint8_t> data, const ImageWriteOptions& o, const ImageSink& sink)
{
    RecordWriter w(sink);
    const unsigned addressBytes = SRecordAddressBytes(data.size(), o.sRecordAddressBytes);
    const char dataType = static_cast<char>('1' + (addressBytes - 2));  // S1, S2, S3
    const char endType = static_cast<char>('9' - (addressBytes - 2));   // S9, S8, S7
    SRecord(w, '0', 0, 2, nullptr, 0);
    if (!w.End("\n"))
        return false;
    std::uint64_t records = 0;
    for (std::size_t a = 0; a < data.size();) {
        const std::size_t n = std::min(std::size_t{o.bytesPerRecord}, data.size() - a);
        SRecord(w, dataType, a, addressBytes, data.data() + a, n);
        if (!w.End("\n"))
            return false;
        a += n;
        ++records;
    }
    if (o.sRecordCount) {
        if (records <= 0xFFFF)
            SRecord(w, '5', records, 2, nullptr, 0);
        else
            SRecord(w, '6', records, 3, nullptr, 0);
        if (!w.End("\n"))
            return false;
    }
    SRecord(w, endType, 0, addressBytes, nullptr, 0);
    w.End("\n");
    return w.Flush();
}

// Extended Tektronix: '%', the record's length in characters after the '%', the type, the
// checksum (the sum of the values of every other digit) and the address with its digit count.
// Eight address digits, as srec_cat writes them.
void TekRecord(RecordWriter& w, char type, std::uint32_t address, const std::uint8_t* p, std::size_t n)
{
    constexpr unsigned kAddressDigits = 8;
    char text[2 * kTekMaxBytes + 16];
    std::size_t len = 0;
    const unsigned length = static_cast<unsigned>(6 + kAddressDigits + 2 * n);
    text[len++] = kDigits[length >> 4];
    text[len++] = kDigits[length & 0xF];
    text[len++] = type;
    text[len++] = '0';  // the checksum, set below
    text[len++] = '0';
    text[len++] = kDigits[kAddressDigits];
    for (unsigned i = kAddressDigits; i-- > 0;)
        text[len++] = kDigits[(address >> (4 * i)) & 0xF];
    for (std::size_t i = 0; i < n; ++i) {
        text[len++] = kDigits[p[i] >> 4];
        text[len++] = kDigits[p[i] & 0xF];
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i < len; ++i)
        if (i != 3 && i != 4)
            sum += static_cast<unsigned>(text[i] <= '9' ? text[i] - '0' : text[i] - 'A' + 10);
    text[3] = kDigits[(sum >> 4) & 0xF];
    text[4] = kDigits[sum & 0xF];
    w.Begin("%");
    w.Begin(std::string_view(text, len));
}

bool WriteTekHex(std::span<const std::uint8_t> data, unsigned perRecord, const ImageSink& sink)
{
    RecordWriter w(sink);
    for (std::size_t a = 0; a < data.size();) {
        const std::size_t n = std::min(std::size_t{perRecord}, data.size() - a);
        TekRecord(w, '6', static_cast<std::uint32_t>(a), data.data() + a, n);
        if (!w.End("\n"))
            return false;
        a += n;
    }
    // The termination record, with entry point 0.
    TekRecord(w, '8', 0, nullptr, 0);
    w.End("\n");
    return w.Flush();
}

bool WriteBinary(std::span<const std::uint8_t> data, const ImageSink& sink)
{
    for (std::size_t a = 0; a < data.size(); a += kFlushSize) {
        const std::size_t n = std::min(kFlushSize, data.size() - a);
        if (!sink(std::string_view(reinterpret_cast<const char*>(data.data() + a), n)))
            return false;
    }
    return true;
}

bool EndsWith(std::string_view name, std::string_view ext)
{
    if (name.size() < ext.size())
        return false;
    const std::string_view tail = name.substr(name.size() - ext.size());
    return std::equal(tail.begin(), tail.end(), ext.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

}  // namespace

ImageWriteOptions WriteOptionsForFileName(std::string_view fileName)
{
    ImageWriteOptions o;
    if (EndsWith(fileName, ".hex") || EndsWith(fileName, ".ihx")) {
        o.format = ImageFormat::IntelHex;
    } else if (EndsWith(fileName, ".s19")) {
        o.format = ImageFormat::SRecord;
        o.sRecordAddressBytes = 2;
    } else if (EndsWith(fileName, ".s28")) {
        o.format = ImageFormat::SRecord;
        o.sRecordAddressBytes = 3;
    } else if (EndsWith(fileName, ".s37")) {
        o.format = ImageFormat::SRecord;
        o.sRecordAddressBytes = 4;
    } else if (EndsWith(fileName, ".srec") || EndsWith(fileName, ".mot")) {
        o.format = ImageFormat::SRecord;
    } else {
        o.format = ImageFormat::Binary;
    }
    return o;
}

std::string CheckWriteOptions(std::span<const std::uint8_t> data, const ImageWriteOptions& o)
{
    switch (o.format) {
    case ImageFormat::IntelHex:
        if (o.bytesPerRecord < 1 || o.bytesPerRecord > 255)
            return "Intel HEX records hold 1 to 255 data bytes.";
        if (data.size() > (std::uint64_t{1} << 32))
            return "Intel HEX reaches 4 GiB at most.";
        return {};
    case ImageFormat::SRecord:
        if (o.sRecordAddressBytes != 0 && (o.sRecordAddressBytes < 2 || o.sRecordAddressBytes > 4))
            return "S-records have 2, 3 or 4 address bytes.";
        if (o.bytesPerRecord < 1 || o.bytesPerRecord > 250)
            return "S-records hold 1 to 250 data bytes.";
        if (data.size() > (std::uint64_t{1} << 32))
            return "S-records reach 4 GiB at most.";
        return {};
    case ImageFormat::TekHex:
        if (o.bytesPerRecord < 1 || o.bytesPerRecord > kTekMaxBytes)
            return "Extended Tektronix records hold 1 to 120 data bytes.";
        if (data.size() > (std::uint64_t{1} << 32))
            return "Extended Tektronix reaches 4 GiB at most.";
        return {};
    case ImageFormat::Binary: return {};
    default: return std::string("Images cannot be written as ") + ImageFormatTitle(o.format) + ".";
    }
}

bool EncodeImage(std::span<const std::uint8_t> data, const ImageWriteOptions& options,
                 const ImageSink& sink)
{
    if (!CheckWriteOptions(data, options).empty())
        return false;
    switch (options.format) {
    case ImageFormat::IntelHex: return WriteIntelHex(data, options.bytesPerRecord, sink);
    case ImageFormat::SRecord: return WriteSRecord(data, options, sink);
    case ImageFormat::TekHex: return WriteTekHex(data, options.bytesPerRecord, sink);
    default: return WriteBinary(data, sink);
    }
}

std::string EncodeImageToString(std::span<const std::uint8_t> data, const ImageWriteOptions& options)
{
    std::string text;
    // Two digits a byte plus each record's frame: at most about 2.8 characters a byte at 16
    // bytes a record, more only for very short records.
    text.reserve(options.format == ImageFormat::Binary ? data.size() : data.size() * 3 + 1024);
    EncodeImage(data, options, [&text](std::string_view piece) {
        text += piece;
        return true;
    });
    return text;
}

ImageWriteResult WriteImageToFd(int fd, const std::string& displayName,
                                std::span<const std::uint8_t> data, const ImageWriteOptions& options)
{
    ImageWriteResult result;
    const std::string problem = CheckWriteOptions(data, options);
    if (!problem.empty()) {
        result.message = problem;
        return result;
    }
    int err = 0;
    const bool ok = EncodeImage(data, options, [fd, &err](std::string_view piece) {
        while (!piece.empty()) {
            const ssize_t put = ::write(fd, piece.data(), piece.size());
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                err = errno;
                return false;
            }
            piece.remove_prefix(static_cast<std::size_t>(put));
        }
        return true;
    });
    if (!ok) {
        result.message = err == ENOSPC ? "There is no space left to write " + displayName + "."
                         : err == EPIPE ? "The reader of " + displayName + " went away before the image was written."
                                        : "Could not write " + displayName + " (" + std::strerror(err) + ").";
        return result;
    }
    result.ok = true;
    return result;
}

ImageWriteResult WriteImageFile(const std::string& path, std::span<const std::uint8_t> data,
                                const ImageWriteOptions& options)
{
    ImageWriteResult result;
    const std::string quoted = "\"" + path + "\"";
    if (const std::string problem = CheckWriteOptions(data, options); !problem.empty()) {
        result.message = "Could not write " + quoted + ": " + problem;
        return result;
    }
    std::string error;
    const bool ok = util::UpdateFile(path, util::FileWriteOptions{},
                                     [&](std::string& content, std::string&) {
                                         content.clear();
                                         EncodeImage(data, options, [&content](std::string_view piece) {
                                             content += piece;
                                             return true;
                                         });
                                         return true;
                                     },
                                     error);
    if (!ok) {
        // The writer names the path bare ("cannot write PATH: cause"): the window quotes it.
        const std::string prefix = "cannot write " + path + ": ";
        result.message = "Could not write " + quoted + ": " +
                         (error.rfind(prefix, 0) == 0 ? error.substr(prefix.size()) : error);
        return result;
    }
    result.ok = true;
    return result;
}
