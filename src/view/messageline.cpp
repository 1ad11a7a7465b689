// SPDX-License-Identifier: MIT
// The message line: stream-in of RTF or plain text into a read-only text edit.
#include "view/messageline.h"

#include "richtext/rtfreader.h"

#include <QApplication>
#include <QTextCursor>
#include <QTextCharFormat>

#include <array>

CMessageLine::CMessageLine(QWidget* pParent) : QTextEdit(pParent)
{
    setLineWrapMode(QTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAcceptRichText(false);
    // Not the form's tightened dialog face: the RTF sets face and size, spacing stays natural.
    QFont font = QApplication::font();
    font.setLetterSpacing(QFont::PercentageSpacing, 100);
    setFont(font);
}

void CMessageLine::PreSubclassWindow()
{
    SetBackgroundColor(palette().color(QPalette::Active, QPalette::Button));
    // Disabled: the line takes no focus and no input.
    setEnabled(false);
    setFocusPolicy(Qt::NoFocus);
    setReadOnly(true);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

void CMessageLine::SetBackgroundColor(const QColor& color)
{
    QPalette pal = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::Base, color);
    setPalette(pal);
}

QColor CMessageLine::BackgroundColor() const
{
    return palette().color(QPalette::Disabled, QPalette::Base);
}

long CMessageLine::StreamIn(unsigned format, EditStream& es)
{
    std::string bytes;
    std::array<std::uint8_t, 4096> chunk;
    es.dwError = 0;
    for (;;) {
        std::int32_t nGot = 0;
        if (!es.pfnCallback)
            break;
        es.dwError = es.pfnCallback(es.dwCookie, chunk.data(), std::int32_t(chunk.size()), &nGot);
        if (es.dwError != 0 || nGot <= 0)
            break;
        bytes.append(reinterpret_cast<const char*>(chunk.data()), size_t(std::min<std::int32_t>(nGot, chunk.size())));
    }

    QTextCursor cursor = textCursor();
    if (!(format & SFF_SELECTION)) {
        cursor.select(QTextCursor::Document);
    }
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    long nInserted = 0;
    if (format & SF_RTF) {
        for (const CRtfRun& run : CRtfReader::Parse(bytes)) {
            QTextCharFormat fmt;
            fmt.setFontWeight(run.bBold ? QFont::Bold : QFont::Normal);
            fmt.setFontItalic(run.bItalic);
            fmt.setFontUnderline(run.bUnderline);
            fmt.setFontStrikeOut(run.bStrike);
            if (!run.strFace.empty())
                fmt.setFontFamilies({QString::fromStdString(run.strFace)});
            fmt.setFontPointSize(run.nHalfPoints / 2.0);
            if (run.foreColor)
                fmt.setForeground(QColor::fromRgb(QRgb(*run.foreColor)));
            if (run.backColor)
                fmt.setBackground(QColor::fromRgb(QRgb(*run.backColor)));
            const QString text = QString::fromStdString(run.strText);
            cursor.insertText(text, fmt);
            nInserted += text.size();
        }
    } else {
        const QString text = QString::fromLatin1(bytes);
        cursor.insertText(text);
        nInserted = text.size();
    }
    cursor.endEditBlock();
    setTextCursor(cursor);
    return nInserted;
}
