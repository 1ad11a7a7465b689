// SPDX-License-Identifier: MIT
// CMyPropertySheet: the tabbed holder of the Setup and Buffer 0 pages.
#pragma once

#include "pages/bufferpage.h"
#include "pages/setuppage.h"

#include <QTabWidget>

class CMyPropertySheet : public QTabWidget {
    Q_OBJECT
public:
    // Constructs both pages (the buffer page loads its settings); the window is made by Create.
    CMyPropertySheet(const QString& strCaption, QWidget* pParentWnd, int nSelectPage, CFrameLink* pFrame);
    ~CMyPropertySheet() override;

    // Shows the sheet and activates the initially selected page.
    bool Create();
    // Leaves the current page (which may refuse) and activates page nPage.
    bool SetActivePage(int nPage);
    int GetActiveIndex() const { return m_nActive; }
    CPropertyPage* GetPage(int nPage) const;

    CPageEmu0 m_pageEmu0;
    CPageSetup m_pageSetup;

private:
    void AddPage(CPropertyPage* pPage);
    void OnCurrentChanged(int nIndex);
    // Puts page nIndex in front without leaving or activating any page.
    void ShowPage(int nIndex);

    QString m_strCaption;
    int m_nSelectPage;
    int m_nActive = -1;
    bool m_bCreated = false;
    bool m_bReverting = false;
};
