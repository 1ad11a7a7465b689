// SPDX-License-Identifier: MIT
// RTF reading for the message line: a small state machine over groups and control words.
#include "richtext/rtfreader.h"

#include <algorithm>
#include <map>

namespace {

// Code page 1252 positions 0x80..0x9F; the others are Latin-1.
const char16_t s_cp1252[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(char32_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Always well-formed: a surrogate or a value past U+10FFFF becomes U+FFFD.
void AppendUtf8(std::string& out, char32_t c)
{
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        c = kReplacement;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The locale must not decide what a control word is.
bool IsAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Word's largest font size, in half-points.
constexpr int kMaxHalfPoints = 3276;

char32_t FromCp1252(unsigned char b)
{
    return (b >= 0x80 && b < 0xA0) ? char32_t(s_cp1252[b - 0x80]) : char32_t(b);
}

enum class Dest { kText, kFontTable, kColorTable, kSkip };

struct State {
    Dest dest = Dest::kText;
    bool bBold = false, bItalic = false, bUnderline = false, bStrike = false;
    int nFont = -1;
    int nHalfPoints = 24;
    int nFore = -1, nBack = -1;
    int nFallback = 1; // \ucN: characters that stand in for each \uN
};

class Parser {
public:
    explicit Parser(std::string_view rtf) : m_rtf(rtf) {}

    std::vector<CRtfRun> Run()
    {
        while (m_pos < m_rtf.size()) {
            const char c = m_rtf[m_pos++];
            if (c == '{') {
                m_stack.push_back(m_state);
                m_bGroupStart = true;
                continue;
            }
            if (c == '}') {
                FlushSurrogate();
                EndGroup();
                continue;
            }
            if (c == '\\') {
                ControlWord();
                continue;
            }
            m_bGroupStart = false;
            if (c == '\r' || c == '\n')
                continue; // line ends in RTF source are not text
            Text(FromCp1252(static_cast<unsigned char>(c)));
        }
        FlushSurrogate();
        return std::move(m_runs);
    }

private:
    void EndGroup()
    {
        if (m_state.dest == Dest::kFontTable && !m_fontName.empty())
            CloseFont();
        if (m_stack.empty())
            return;
        m_state = m_stack.back();
        m_stack.pop_back();
        m_bGroupStart = false;
    }

    void ControlWord()
    {
        if (m_pos >= m_rtf.size())
            return;
        const char c = m_rtf[m_pos];
        if (!IsAsciiLetter(c)) {
            ++m_pos;
            const bool bStart = m_bGroupStart;
            m_bGroupStart = false;
            if (c == '\\' || c == '{' || c == '}')
                Text(char32_t(c));
            else if (c == '~')
                Text(0xA0);
            else if (c == '\'') {
                // Two hex digits name a code-page byte; anything else is no character at all.
                const int n = HexByteAt(m_pos);
                if (n >= 0) {
                    m_pos += 2;
                    Text(FromCp1252(static_cast<unsigned char>(n)));
                }
            } else if (c == '*' && bStart)
                m_state.dest = Dest::kSkip;
            return;
        }
        std::string word;
        while (m_pos < m_rtf.size() && IsAsciiLetter(m_rtf[m_pos]) && word.size() < 32)
            word += m_rtf[m_pos++];
        bool bHasParam = false, bNegative = false;
        long nParam = 0;
        if (m_pos < m_rtf.size() && m_rtf[m_pos] == '-') {
            bNegative = true;
            ++m_pos;
        }
        while (m_pos < m_rtf.size() && IsAsciiDigit(m_rtf[m_pos])) {
            bHasParam = true;
            nParam = std::min(nParam * 10 + (m_rtf[m_pos++] - '0'), 100000000L);
        }
        if (bNegative)
            nParam = -nParam;
        if (m_pos < m_rtf.size() && m_rtf[m_pos] == ' ')
            ++m_pos; // the delimiting blank belongs to the word
        const bool bStart = m_bGroupStart;
        m_bGroupStart = false;
        Word(word, bHasParam, int(nParam), bStart);
    }

    void Word(const std::string& w, bool bHasParam, int n, bool bGroupStart)
    {
        const bool bOn = !bHasParam || n != 0;
        if (w == "fonttbl")
            m_state.dest = Dest::kFontTable;
        else if (w == "colortbl") {
            m_state.dest = Dest::kColorTable; // a later table replaces an earlier one
            m_colors.clear();
        }
        else if (bGroupStart && (w == "stylesheet" || w == "info" || w == "pict" || w == "header" ||
                                 w == "footer" || w == "listtable" || w == "generator"))
            m_state.dest = Dest::kSkip;
        else if (m_state.dest == Dest::kColorTable) {
            if (w == "red")
                m_r = n, m_bColorSet = true;
            else if (w == "green")
                m_g = n, m_bColorSet = true;
            else if (w == "blue")
                m_b = n, m_bColorSet = true;
        } else if (m_state.dest == Dest::kFontTable) {
            if (w == "f") {
                m_nFontNumber = n;
                m_fontName.clear();
            }
        } else if (w == "plain") {
            const Dest d = m_state.dest;
            m_state = State();
            m_state.dest = d;
        } else if (w == "b")
            m_state.bBold = bOn;
        else if (w == "i")
            m_state.bItalic = bOn;
        else if (w == "ul")
            m_state.bUnderline = bOn;
        else if (w == "ulnone")
            m_state.bUnderline = false;
        else if (w == "strike")
            m_state.bStrike = bOn;
        else if (w == "f")
            m_state.nFont = n;
        else if (w == "fs")
            m_state.nHalfPoints = bHasParam && n > 0 ? std::min(n, kMaxHalfPoints) : 24;
        else if (w == "cf")
            m_state.nFore = n;
        else if (w == "cb" || w == "highlight")
            m_state.nBack = n;
        else if (w == "par" || w == "line")
            Text(U'\n');
        else if (w == "tab")
            Text(U'\t');
        else if (w == "uc" && bHasParam)
            m_state.nFallback = std::clamp(n, 0, 16);
        else if (w == "u" && bHasParam) {
            // A signed 16-bit value; anything outside that is no character.
            Text(n >= -32768 && n <= 65535 ? char32_t(n < 0 ? n + 65536 : n) : kReplacement);
            SkipFallback();
        } else if (w == "bin" && bHasParam && n > 0)
            m_pos += std::min(size_t(n), m_rtf.size() - m_pos); // raw bytes, never text
    }

    // The byte named by two hex digits at pos, or -1.
    int HexByteAt(size_t pos) const
    {
        if (m_rtf.size() - pos < 2)
            return -1;
        const int hi = HexValue(m_rtf[pos]), lo = HexValue(m_rtf[pos + 1]);
        return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
    }

    // Passes over the characters that stand in for a \uN for readers without Unicode: plain
    // characters and \'hh, never a group boundary or another control word.
    void SkipFallback()
    {
        for (int i = 0; i < m_state.nFallback && m_pos < m_rtf.size(); ++i) {
            const char c = m_rtf[m_pos];
            if (c == '{' || c == '}')
                return;
            if (c == '\\') {
                if (m_rtf.size() - m_pos < 2 || m_rtf[m_pos + 1] != '\'' || HexByteAt(m_pos + 2) < 0)
                    return;
                m_pos += 4;
            } else {
                ++m_pos;
            }
        }
    }

    // Joins a \uN high surrogate with the low one that follows; alone, either is U+FFFD.
    void Text(char32_t c)
    {
        if (m_pendingHigh) {
            const char32_t high = *m_pendingHigh;
            m_pendingHigh.reset();
            if (IsLowSurrogate(c)) {
                Char(0x10000 + ((high - 0xD800) << 10) + (c - 0xDC00));
                return;
            }
            Char(kReplacement);
        }
        if (IsHighSurrogate(c))
            m_pendingHigh = c;
        else
            Char(c);
    }

    void FlushSurrogate()
    {
        if (m_pendingHigh) {
            m_pendingHigh.reset();
            Char(kReplacement);
        }
    }

    void Char(char32_t c)
    {
        switch (m_state.dest) {
        case Dest::kSkip:
            return;
        case Dest::kFontTable:
            if (c == U';')
                CloseFont();
            else
                AppendUtf8(m_fontName, c);
            return;
        case Dest::kColorTable:
            if (c == U';') {
                m_colors.push_back(m_bColorSet ? std::optional<std::uint32_t>((std::uint32_t(m_r & 255) << 16) |
                                                                              (std::uint32_t(m_g & 255) << 8) |
                                                                              std::uint32_t(m_b & 255))
                                               : std::nullopt);
                m_r = m_g = m_b = 0;
                m_bColorSet = false;
            }
            return;
        case Dest::kText:
            break;
        }
        CRtfRun run;
        run.bBold = m_state.bBold;
        run.bItalic = m_state.bItalic;
        run.bUnderline = m_state.bUnderline;
        run.bStrike = m_state.bStrike;
        if (auto it = m_fonts.find(m_state.nFont); it != m_fonts.end())
            run.strFace = it->second;
        run.nHalfPoints = m_state.nHalfPoints;
        if (m_state.nFore >= 0 && size_t(m_state.nFore) < m_colors.size())
            run.foreColor = m_colors[size_t(m_state.nFore)];
        if (m_state.nBack >= 0 && size_t(m_state.nBack) < m_colors.size())
            run.backColor = m_colors[size_t(m_state.nBack)];
        if (m_runs.empty() || !m_runs.back().SameFormat(run))
            m_runs.push_back(run);
        AppendUtf8(m_runs.back().strText, c);
    }

    void CloseFont()
    {
        std::string name = m_fontName;
        while (!name.empty() && name.front() == ' ')
            name.erase(name.begin());
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        if (m_nFontNumber >= 0)
            m_fonts[m_nFontNumber] = name;
        m_fontName.clear();
    }

    std::string_view m_rtf;
    size_t m_pos = 0;
    State m_state;
    std::vector<State> m_stack;
    bool m_bGroupStart = false;
    std::map<int, std::string> m_fonts;
    int m_nFontNumber = -1;
    std::string m_fontName;
    std::vector<std::optional<std::uint32_t>> m_colors;
    int m_r = 0, m_g = 0, m_b = 0;
    bool m_bColorSet = false;
    std::vector<CRtfRun> m_runs;
    std::optional<char32_t> m_pendingHigh;
};

} // namespace

bool CRtfRun::SameFormat(const CRtfRun& o) const
{
    return bBold == o.bBold && bItalic == o.bItalic && bUnderline == o.bUnderline && bStrike == o.bStrike &&
           strFace == o.strFace && nHalfPoints == o.nHalfPoints && foreColor == o.foreColor &&
           backColor == o.backColor;
}

std::vector<CRtfRun> CRtfReader::Parse(std::string_view rtf)
{
    return Parser(rtf).Run();
}
