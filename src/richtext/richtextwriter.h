// SPDX-License-Identifier: MIT
// CRichTextWriter: renders short styled messages as RTF and streams them into a rich-edit control.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// 0x00BBGGRR: red in the lowest byte, then green, then blue.
using COLORREF = std::uint32_t;

constexpr COLORREF RtfRgb(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return COLORREF(r) | (COLORREF(g) << 8) | (COLORREF(b) << 16);
}

// Stream-in flags the writer passes to the control: RTF, replacing the selection.
constexpr unsigned SF_RTF = 0x0002;
constexpr unsigned SFF_SELECTION = 0x8000;

// The control calls this for more bytes: fill at most cb bytes of pbBuff, report the count in
// *pcb; a count of 0 ends the stream. A non-zero return is an error.
using EditStreamCallbackFn = std::uint32_t (*)(std::uintptr_t dwCookie, std::uint8_t* pbBuff,
                                               std::int32_t cb, std::int32_t* pcb);

struct EditStream {
    std::uintptr_t dwCookie = 0;
    std::uint32_t dwError = 0;
    EditStreamCallbackFn pfnCallback = nullptr;
};

// What the writer needs from a rich-edit control: insert RTF at its selection, pulling the
// bytes through es.pfnCallback until it delivers 0 bytes.
class IRichEditStreamIn {
public:
    virtual ~IRichEditStreamIn();
    virtual long StreamIn(unsigned format, EditStream& es) = 0;
};

// One on/off character attribute.
class CRtfSwitch {
public:
    explicit CRtfSwitch(std::string strOn, std::string strOff = std::string());
    std::string GetRtf() const;

    bool m_bOn = false;
    std::string m_strOn;
    std::string m_strOff;
};

// The character format in force; GetRtf gives the run prefix.
class CRtfFormat {
public:
    CRtfFormat();
    std::string GetRtf() const;

    std::int32_t m_nFontSize = 35; // half-points
    CRtfSwitch m_swBold;
    CRtfSwitch m_swUnderline;
    CRtfSwitch m_swItalic;
    CRtfSwitch m_swStrike;
    std::int32_t m_nFont = 0;
    std::int32_t m_nForeColor = 0;
    std::int32_t m_nBackColor = 0;
};

// Font face names; a font's RTF number is its position.
class CRtfFontTable {
public:
    CRtfFontTable();
    std::int32_t Add(const std::string& face);
    std::string GetRtf() const;

private:
    std::vector<std::string> m_faces;
};

// Colours; a colour's RTF number is its position. No leading automatic entry, so 0 is black.
class CRtfColorTable {
public:
    CRtfColorTable();
    std::int32_t Add(COLORREF color);
    std::string GetRtf() const;

private:
    std::vector<COLORREF> m_colors;
};

class CRichTextWriter {
public:
    CRichTextWriter();
    virtual ~CRichTextWriter() = default;

    void SetFontSize(int nHalfPoints);
    void SetBold(bool bOn);
    void SetGreen();
    // Appends a complete RTF fragment (header, tables, run prefix, text); LF becomes a paragraph.
    void AddText(const char* pszText);
    // Closes the pending RTF, streams it into the control's selection and empties it.
    void StreamTo(IRichEditStreamIn& control);

    static std::uint32_t EditStreamCallback(std::uintptr_t dwCookie, std::uint8_t* pbBuff,
                                            std::int32_t cb, std::int32_t* pcb);

private:
    std::string m_strRtf;
    CRtfFormat m_format;
    CRtfFontTable m_fonts;
    CRtfColorTable m_colors;
};

// Manipulator carrying one argument: applying it calls the function with the writer and the argument.
template <typename T>
class CRtfManip {
public:
    using Fn = CRichTextWriter& (*)(CRichTextWriter&, T);
    CRtfManip(Fn pfn, T arg) : m_pfn(pfn), m_arg(arg) {}
    virtual CRichTextWriter& Apply(CRichTextWriter& writer) const { return m_pfn(writer, m_arg); }

private:
    Fn m_pfn;
    T m_arg;
};

CRtfManip<int> rtfFontSize(int nHalfPoints);
CRtfManip<bool> rtfBold(bool bOn);
CRtfManip<IRichEditStreamIn&> rtfWriteTo(IRichEditStreamIn& control);
CRichTextWriter& rtfGreen(CRichTextWriter& writer);

CRichTextWriter& operator<<(CRichTextWriter& writer, const char* pszText);
CRichTextWriter& operator<<(CRichTextWriter& writer, CRichTextWriter& (*pfnManip)(CRichTextWriter&));

template <typename T>
CRichTextWriter& operator<<(CRichTextWriter& writer, const CRtfManip<T>& manip)
{
    return manip.Apply(writer);
}
