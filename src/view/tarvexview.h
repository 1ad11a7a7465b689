// SPDX-License-Identifier: MIT
// CTarvexView: the form in the main window, holding the property sheet and the message line.
#pragma once

#include "view/messageline.h"

#include <QWidget>

#include <memory>
#include <string>

class CFrameLink;
class CMyPropertySheet;
class QFrame;

class CTarvexView : public QWidget {
    Q_OBJECT
public:
    explicit CTarvexView(CFrameLink* pFrame, QWidget* pParent = nullptr);
    ~CTarvexView() override;

    // First update with a document: builds the sheet in the placeholder, writes the banner and
    // activates page 0, then page 1. A repeated call (File New, File Open) keeps the sheet.
    void OnInitialUpdate();
    // A line about the last operation in place of the banner; empty writes the banner again.
    void ShowStatus(const std::string& text);
    // Print, Print Preview: the pages come out blank.
    void OnFilePrint();
    void OnFilePrintPreview();

    // The form's size in pixels: 500 by 398 dialog units, grown by what the sheet needs beyond
    // its placeholder.
    QSize FormSize() const;
    QFrame* Placeholder() const { return m_pPlaceholder; }

    CMessageLine m_wndMessageLine;
    CMyPropertySheet* m_pPropertySheet = nullptr;

private:
    void ResizeParentToFit();
    void WriteBanner();
    // Grows the placeholder (and the form under it) to hold the sheet's pages whole.
    void FitPlaceholderToSheet();

    CFrameLink* m_pFrame;
    QFrame* m_pPlaceholder = nullptr;
    QSize m_growth{0, 0}; // beyond the form's reference size
    std::unique_ptr<CMyPropertySheet> m_pSheetOwner;
    std::string m_strStatus;  // what the message line shows instead of the banner
};
