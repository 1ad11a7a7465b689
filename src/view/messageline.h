// SPDX-License-Identifier: MIT
// CMessageLine: the one-line, read-only rich-text line under the property sheet.
#pragma once

#include "richtext/richtextwriter.h"

#include <QTextEdit>

class CMessageLine : public QTextEdit, public IRichEditStreamIn {
    Q_OBJECT
public:
    explicit CMessageLine(QWidget* pParent = nullptr);

    // Runs when the view attaches the line: button-face background, disabled, read-only.
    void PreSubclassWindow();
    void SetBackgroundColor(const QColor& color);
    QColor BackgroundColor() const;

    // Pulls bytes through es.pfnCallback until it delivers none (or reports an error, kept in
    // es.dwError), and puts the text in place of the selection. Returns the characters inserted.
    long StreamIn(unsigned format, EditStream& es) override;
};
