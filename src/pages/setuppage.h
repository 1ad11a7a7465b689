// SPDX-License-Identifier: MIT
// CPageSetup: the "  Setup  " page, the target's reset configuration.
#pragma once

#include "pages/propertypage.h"

class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

class CPageSetup : public CPropertyPage {
    Q_OBJECT
public:
    explicit CPageSetup(QWidget* pParent = nullptr);

    int m_nActivation = 0;          // 0 "Hi", 1 "Low"
    unsigned m_nPulseDuration = 100; // milliseconds, 0 to 1000

    QPushButton* m_pReset = nullptr;
    QRadioButton* m_pHi = nullptr;
    QRadioButton* m_pLow = nullptr;
    QLineEdit* m_pPulseDuration = nullptr;
    QTreeWidget* m_pList = nullptr;

    void OnReset();

protected:
    void DoDataExchange(CDataExchange& dx) override;
};
