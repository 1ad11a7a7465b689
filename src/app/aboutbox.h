// SPDX-License-Identifier: MIT
// CAboutBox: the modal About box.
#pragma once

#include <QDialog>

class CAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit CAboutBox(QWidget* pParent = nullptr);
};
