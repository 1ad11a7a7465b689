// SPDX-License-Identifier: MIT
// Splits text fed in arbitrary pieces into lines for the line-based image readers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// Only an incomplete last line is kept back, and of a line longer than kMaxLine only its first
// kMaxLine characters: a file without line ends never grows the memory used.
class CLineSplitter {
public:
    static constexpr std::size_t kMaxLine = 1024;

    // onLine(std::string_view line, std::uint64_t number, bool tooLong) -> bool: false stops
    // the splitting for good. line has no '\n'.
    template <class OnLine>
    void Feed(std::string_view text, OnLine&& onLine)
    {
        const char* p = text.data();
        const char* const end = p + text.size();
        while (!m_bStopped && p < end) {
            const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            const char* const lineEnd = nl != nullptr ? nl : end;
            if (m_carry.empty() && !m_bLong && nl != nullptr) {
                // The whole line lies in this piece: no copy.
                const std::size_t len = static_cast<std::size_t>(lineEnd - p);
                ++m_nLine;
                if (!onLine(std::string_view(p, std::min(len, kMaxLine)), m_nLine, len > kMaxLine))
                    m_bStopped = true;
            } else {
                const std::size_t len = static_cast<std::size_t>(lineEnd - p);
                const std::size_t room = kMaxLine - m_carry.size();
                m_carry.append(p, std::min(len, room));
                if (len > room)
                    m_bLong = true;
                if (nl == nullptr)
                    return;
                ++m_nLine;
                if (!onLine(std::string_view(m_carry), m_nLine, m_bLong))
                    m_bStopped = true;
                m_carry.clear();
                m_bLong = false;
            }
            p = lineEnd + 1;
        }
    }

    // End of input: the last line, if it has no line end.
    template <class OnLine>
    void Finish(OnLine&& onLine)
    {
        if (!m_bStopped && (!m_carry.empty() || m_bLong)) {
            ++m_nLine;
            onLine(std::string_view(m_carry), m_nLine, m_bLong);
        }
        m_carry.clear();
        m_bLong = false;
        m_bStopped = true;
    }

    bool Stopped() const { return m_bStopped; }

private:
    std::string m_carry;
    bool m_bLong = false;
    bool m_bStopped = false;
    std::uint64_t m_nLine = 0;
};

// The line without surrounding white space (CR of a CR LF line end included).
inline std::string_view TrimLine(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; };
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && blank(s[b]))
        ++b;
    while (e > b && blank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// The first line without a UTF-8 byte order mark in front; other lines as they are.
inline std::string_view WithoutByteOrderMark(std::string_view line, std::uint64_t number)
{
    if (number == 1 && line.substr(0, 3) == "\xEF\xBB\xBF")
        return line.substr(3);
    return line;
}

// A comment line, as tools write them before the first record: '#' or ';' first.
inline bool IsCommentLine(std::string_view trimmed)
{
    return !trimmed.empty() && (trimmed[0] == '#' || trimmed[0] == ';');
}
