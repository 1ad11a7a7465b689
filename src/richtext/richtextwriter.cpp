// SPDX-License-Identifier: MIT
// CRichTextWriter: RTF rendering of styled messages and the pull-style stream-out.
#include "richtext/richtextwriter.h"

#include <algorithm>
#include <cstring>
#include <utility>

IRichEditStreamIn::~IRichEditStreamIn() = default;

CRtfSwitch::CRtfSwitch(std::string strOn, std::string strOff)
    : m_strOn(std::move(strOn)), m_strOff(std::move(strOff))
{
}

std::string CRtfSwitch::GetRtf() const
{
    return m_bOn ? m_strOn : m_strOff;
}

CRtfFormat::CRtfFormat()
    : m_swBold("\\b"), m_swUnderline("\\ul"), m_swItalic("\\i"), m_swStrike("\\strike")
{
}

std::string CRtfFormat::GetRtf() const
{
    // Background before foreground; the trailing blank ends the last control word.
    return "\\plain" + m_swBold.GetRtf() + m_swUnderline.GetRtf() + m_swItalic.GetRtf() +
           m_swStrike.GetRtf() + "\\f" + std::to_string(m_nFont) + "\\fs" + std::to_string(m_nFontSize) +
           "\\cb" + std::to_string(m_nBackColor) + "\\cf" + std::to_string(m_nForeColor) + " ";
}

CRtfFontTable::CRtfFontTable() : m_faces{"Arial"} {}

std::int32_t CRtfFontTable::Add(const std::string& face)
{
    m_faces.push_back(face);
    return std::int32_t(m_faces.size() - 1);
}

std::string CRtfFontTable::GetRtf() const
{
    std::string s = "{\\fonttbl";
    for (std::size_t i = 0; i < m_faces.size(); ++i)
        s += "{\\f" + std::to_string(i) + " " + m_faces[i] + ";}";
    return s + "}";
}

CRtfColorTable::CRtfColorTable()
    : m_colors{RtfRgb(0, 0, 0), RtfRgb(255, 0, 0), RtfRgb(0, 255, 0), RtfRgb(0, 0, 255)}
{
}

std::int32_t CRtfColorTable::Add(COLORREF color)
{
    m_colors.push_back(color);
    return std::int32_t(m_colors.size() - 1);
}

std::string CRtfColorTable::GetRtf() const
{
    std::string s = "{\\colortbl";
    for (COLORREF c : m_colors) {
        s += "\\red" + std::to_string(c & 0xFF) + "\\green" + std::to_string((c >> 8) & 0xFF) +
             "\\blue" + std::to_string((c >> 16) & 0xFF) + ";";
    }
    return s + "}";
}

CRichTextWriter::CRichTextWriter()
{
    m_format.m_nFontSize = 35;
}

void CRichTextWriter::SetFontSize(int nHalfPoints)
{
    m_format.m_nFontSize = nHalfPoints;
}

void CRichTextWriter::SetBold(bool bOn)
{
    m_format.m_swBold.m_bOn = bOn;
}

void CRichTextWriter::SetGreen()
{
    m_format.m_nForeColor = 2;
}

void CRichTextWriter::AddText(const char* pszText)
{
    // A null text is written like an empty one rather than dereferenced.
    std::string text;
    for (const char* p = pszText ? pszText : ""; *p != '\0'; ++p) {
        if (*p == '\n')
            text += "\r\n\\par ";
        else
            text += *p;
    }
    m_strRtf += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deftab720";
    m_strRtf += m_fonts.GetRtf();
    m_strRtf += m_colors.GetRtf();
    m_strRtf += m_format.GetRtf();
    m_strRtf += text;
}

void CRichTextWriter::StreamTo(IRichEditStreamIn& control)
{
    m_strRtf += "}";
    EditStream es;
    es.dwCookie = reinterpret_cast<std::uintptr_t>(&m_strRtf);
    es.dwError = 0;
    es.pfnCallback = &CRichTextWriter::EditStreamCallback;
    control.StreamIn(SF_RTF | SFF_SELECTION, es);
    m_strRtf.clear();
}

std::uint32_t CRichTextWriter::EditStreamCallback(std::uintptr_t dwCookie, std::uint8_t* pbBuff,
                                                  std::int32_t cb, std::int32_t* pcb)
{
    auto& str = *reinterpret_cast<std::string*>(dwCookie);
    // A negative capacity would otherwise turn into a huge copy; treat it as no room.
    const std::size_t room = std::size_t(std::max<std::int32_t>(cb, 0));
    const std::size_t n = str.size();
    if (n < room) {
        std::memcpy(pbBuff, str.data(), n);
        *pcb = std::int32_t(n);
        str.clear();
    } else {
        std::memcpy(pbBuff, str.data(), room);
        *pcb = std::int32_t(room);
        str.erase(0, room);
    }
    return 0;
}

CRtfManip<int> rtfFontSize(int nHalfPoints)
{
    return CRtfManip<int>(
        [](CRichTextWriter& w, int n) -> CRichTextWriter& {
            w.SetFontSize(n);
            return w;
        },
        nHalfPoints);
}

CRtfManip<bool> rtfBold(bool bOn)
{
    return CRtfManip<bool>(
        [](CRichTextWriter& w, bool b) -> CRichTextWriter& {
            w.SetBold(b);
            return w;
        },
        bOn);
}

CRtfManip<IRichEditStreamIn&> rtfWriteTo(IRichEditStreamIn& control)
{
    return CRtfManip<IRichEditStreamIn&>(
        [](CRichTextWriter& w, IRichEditStreamIn& c) -> CRichTextWriter& {
            w.StreamTo(c);
            return w;
        },
        control);
}

CRichTextWriter& rtfGreen(CRichTextWriter& writer)
{
    writer.SetGreen();
    return writer;
}

CRichTextWriter& operator<<(CRichTextWriter& writer, const char* pszText)
{
    writer.AddText(pszText);
    return writer;
}

CRichTextWriter& operator<<(CRichTextWriter& writer, CRichTextWriter& (*pfnManip)(CRichTextWriter&))
{
    return pfnManip(writer);
}
