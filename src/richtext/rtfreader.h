// SPDX-License-Identifier: MIT
// CRtfReader: turns the RTF the rich-text writer emits into styled runs of text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One stretch of text with one character format. Colours are 0xRRGGBB; none means automatic.
struct CRtfRun {
    std::string strText; // UTF-8; "\n" for a paragraph end
    bool bBold = false;
    bool bItalic = false;
    bool bUnderline = false;
    bool bStrike = false;
    std::string strFace; // empty: the document's default font
    int nHalfPoints = 24;
    std::optional<std::uint32_t> foreColor;
    std::optional<std::uint32_t> backColor;

    bool SameFormat(const CRtfRun& other) const;
};

// Reads groups, the font and colour tables, \plain, \b, \ul, \i, \strike, \f, \fs, \cb, \cf,
// \par, \line, \tab, \'hh, \uN (with \ucN fallbacks), \binN and the escaped characters; other
// control words and the destinations it does not know are passed over. Text bytes are code
// page 1252. Any byte string is taken: unbalanced braces are tolerated (a missing close ends at
// the input's end, a surplus one is ignored), a malformed escape is no character, and the text
// is always well-formed UTF-8 (U+FFFD for what names no character). Never throws.
class CRtfReader {
public:
    static std::vector<CRtfRun> Parse(std::string_view rtf);
};
