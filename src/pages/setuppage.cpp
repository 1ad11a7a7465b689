// SPDX-License-Identifier: MIT
// The "  Setup  " page: controls at the reference layout and their data exchange.
#include "pages/setuppage.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include <algorithm>

CPageSetup::CPageSetup(QWidget* pParent) : CPropertyPage(QStringLiteral("  Setup  "), pParent)
{
    auto place = [this](QWidget* w, int x, int y, int cx, int cy) { w->setGeometry(DlgRect(x, y, cx, cy)); };
    place(new QGroupBox(QStringLiteral("Reset Configuration"), this), 7, 3, 476, 46);
    m_pReset = new QPushButton(QStringLiteral("Reset"), this);
    place(m_pReset, 14, 20, 40, 15);
    place(new QLabel(QStringLiteral("Activation :"), this), 64, 17, 44, 8);
    m_pHi = new QRadioButton(QStringLiteral("Hi"), this);
    place(m_pHi, 117, 17, 22, 10);
    m_pLow = new QRadioButton(QStringLiteral("Low"), this);
    place(m_pLow, 145, 17, 29, 10);
    place(new QLabel(QStringLiteral("Pulse duration :"), this), 64, 32, 51, 8);
    m_pPulseDuration = new QLineEdit(this);
    MakeCompactEdit(m_pPulseDuration);
    m_pPulseDuration->setAlignment(Qt::AlignRight);
    place(m_pPulseDuration, 118, 30, 25, 12);
    place(new QLabel(QStringLiteral("mSEC"), this), 150, 32, 20, 8);
    m_pList = new QTreeWidget(this);
    m_pList->setRootIsDecorated(false);
    m_pList->setHeaderLabels({QString()});
    m_pList->setFrameShape(QFrame::Box);
    place(m_pList, 7, 125, 476, 218);

    // Labels of this size cut descenders at small fonts; let them draw outside their box.
    for (QLabel* pLabel : findChildren<QLabel*>())
        pLabel->resize(std::max(pLabel->width(), pLabel->sizeHint().width()), std::max(pLabel->height(), pLabel->sizeHint().height()));
    connect(m_pReset, &QPushButton::clicked, this, &CPageSetup::OnReset);
}

void CPageSetup::OnReset()
{
    // The reset pulse is configured here but sent by nothing yet.
}

void CPageSetup::DoDataExchange(CDataExchange& dx)
{
    DDX_Radio(dx, {m_pHi, m_pLow}, m_nActivation);
    DDX_Text(dx, m_pPulseDuration, m_nPulseDuration);
    DDV_MinMaxUInt(dx, m_pPulseDuration, m_nPulseDuration, 0, 1000);
}
