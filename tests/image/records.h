// SPDX-License-Identifier: MIT
// Builds test files: blocks of bytes at file addresses written as Intel HEX, S-record or
// extended Tektronix records, and loads text through the real loader.
#pragma once

#include "image/imageloader.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace records {

using Bytes = std::vector<std::uint8_t>;

struct Block {
    std::uint64_t address;
    Bytes data;
};

inline std::string HexBytes(const Bytes& b)
{
    std::string s;
    char two[3];
    for (std::uint8_t v : b) {
        std::snprintf(two, sizeof two, "%02X", v);
        s += two;
    }
    return s;
}

// One Intel HEX record with a correct checksum.
inline std::string Intel(int type, unsigned offset, const Bytes& data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8 & 0xFF) + (offset & 0xFF) + static_cast<unsigned>(type);
    for (std::uint8_t b : data)
        sum += b;
    char head[16], cs[4];
    std::snprintf(head, sizeof head, ":%02X%04X%02X", static_cast<unsigned>(data.size()), offset & 0xFFFF,
                  static_cast<unsigned>(type));
    std::snprintf(cs, sizeof cs, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return head + HexBytes(data) + cs;
}

// One S-record with addressBytes address bytes.
inline std::string SRec(char type, std::uint64_t address, unsigned addressBytes, const Bytes& data)
{
    Bytes body{static_cast<std::uint8_t>(addressBytes + data.size() + 1)};
    for (unsigned i = addressBytes; i-- > 0;)
        body.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::uint8_t b : body)
        sum += b;
    body.push_back(static_cast<std::uint8_t>(~sum & 0xFF));
    return std::string("S") + type + HexBytes(body);
}

// One extended Tektronix record with an eight-digit address.
inline std::string Tek(int type, std::uint64_t address, const Bytes& data)
{
    char addr[16];
    std::snprintf(addr, sizeof addr, "8%08llX", static_cast<unsigned long long>(address & 0xFFFFFFFF));
    const std::string rest = addr + HexBytes(data);
    char head[8];
    std::snprintf(head, sizeof head, "%02X%X", static_cast<unsigned>(5 + rest.size()), static_cast<unsigned>(type));
    unsigned sum = 0;
    for (char c : std::string(head) + rest)
        sum += static_cast<unsigned>(c <= '9' ? c - '0' : c - 'A' + 10);
    char cs[4];
    std::snprintf(cs, sizeof cs, "%02X", sum & 0xFF);
    return "%" + std::string(head) + cs + rest;
}

// The blocks in one of the three record formats, 16 data bytes a record, with an end record;
// the Intel HEX file sets its upper address with type 04 records as needed.
inline std::string Write(ImageFormat format, const std::vector<Block>& blocks)
{
    std::string text;
    std::uint64_t upper = ~std::uint64_t{0};
    for (const Block& b : blocks)
        for (std::size_t i = 0; i < b.data.size(); i += 16) {
            const Bytes part(b.data.begin() + static_cast<std::ptrdiff_t>(i),
                             b.data.begin() + static_cast<std::ptrdiff_t>(std::min(b.data.size(), i + 16)));
            const std::uint64_t a = b.address + i;
            if (format == ImageFormat::IntelHex) {
                if (a >> 16 != upper) {
                    upper = a >> 16;
                    text += Intel(4, 0, {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)}) + "\n";
                }
                text += Intel(0, static_cast<unsigned>(a & 0xFFFF), part) + "\n";
            } else if (format == ImageFormat::SRecord) {
                text += SRec('3', a, 4, part) + "\n";
            } else {
                text += Tek(6, a, part) + "\n";
            }
        }
    if (format == ImageFormat::IntelHex)
        text += ":00000001FF\n";
    else if (format == ImageFormat::SRecord)
        text += "S70500000000FA\n";
    else
        text += Tek(8, 0, {}) + "\n";
    return text;
}

inline Bytes Seq(std::size_t n, std::uint8_t start)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(start + i * 13);
    return b;
}

struct Loaded {
    ImageLoadResult result;
    CRomImage image;
};

// Loads text (or bytes) from a temporary file.
inline Loaded Load(const std::string& content, const ImageLoadOptions& options)
{
    char tmpl[] = "/tmp/records_test.XXXXXX";
    const int fd = ::mkstemp(tmpl);
    Loaded l;
    if (fd < 0)
        return l;
    const ssize_t put = ::write(fd, content.data(), content.size());
    ::close(fd);
    if (put == static_cast<ssize_t>(content.size()))
        l.result = LoadImage(tmpl, options, l.image);
    ::unlink(tmpl);
    return l;
}

inline std::string Describe(const LoadDiagnostics& d)
{
    std::string s;
    for (const auto& w : d.Warnings())
        s += std::string(LoadWarningKindName(w.kind)) + "@" + std::to_string(w.line) + ": " + w.message + "\n";
    return s.empty() ? "(no warnings)" : s;
}

}  // namespace records
