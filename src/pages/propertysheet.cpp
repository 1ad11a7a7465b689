// SPDX-License-Identifier: MIT
// The property sheet: pages in tab order, and a tab change that the page being left may refuse.
#include "pages/propertysheet.h"

#include <QTabBar>

CMyPropertySheet::CMyPropertySheet(const QString& strCaption, QWidget* pParentWnd, int nSelectPage,
                                   CFrameLink* pFrame)
    : QTabWidget(pParentWnd), m_pageEmu0(pFrame), m_pageSetup(), m_strCaption(strCaption),
      m_nSelectPage(nSelectPage)
{
    setWindowTitle(strCaption);
    hide();
    AddPage(&m_pageSetup);
    AddPage(&m_pageEmu0);
    connect(this, &QTabWidget::currentChanged, this, &CMyPropertySheet::OnCurrentChanged);
}

// The pages are members: they leave the tab widget before its base destructor runs. Their
// tabs going must not activate the other page, which would overwrite what the user typed
// before the buffer page reads it for saving.
CMyPropertySheet::~CMyPropertySheet()
{
    m_bCreated = false;
}

void CMyPropertySheet::AddPage(CPropertyPage* pPage)
{
    addTab(pPage, pPage->Caption());
}

CPropertyPage* CMyPropertySheet::GetPage(int nPage) const
{
    return qobject_cast<CPropertyPage*>(widget(nPage));
}

bool CMyPropertySheet::Create()
{
    m_bCreated = true;
    show();
    const int nFirst = (m_nSelectPage >= 0 && m_nSelectPage < count()) ? m_nSelectPage : 0;
    m_nActive = nFirst;
    ShowPage(nFirst);
    GetPage(nFirst)->OnSetActive();
    return true;
}

bool CMyPropertySheet::SetActivePage(int nPage)
{
    if (nPage < 0 || nPage >= count())
        return false;
    setCurrentIndex(nPage);
    return m_nActive == nPage;
}

void CMyPropertySheet::OnCurrentChanged(int nIndex)
{
    if (!m_bCreated || m_bReverting || nIndex == m_nActive)
        return;
    // The tab widget has already switched; the page being left stays in front while it checks
    // its fields, so that its message is shown over the page it is about.
    ShowPage(m_nActive);
    if (CPropertyPage* pOld = GetPage(m_nActive); pOld && !pOld->OnKillActive()) {
        // The page keeps the front, with the focus on the field that failed its check.
        FocusFailedControl(pOld->FailedControl());
        return;
    }
    m_nActive = nIndex;
    ShowPage(nIndex);
    if (CPropertyPage* pNew = GetPage(nIndex))
        pNew->OnSetActive();
}

void CMyPropertySheet::ShowPage(int nIndex)
{
    m_bReverting = true;
    setCurrentIndex(nIndex);
    m_bReverting = false;
}
