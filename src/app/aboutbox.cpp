// SPDX-License-Identifier: MIT
// The About box, laid out in dialog units of its 9-point font.
#include "app/aboutbox.h"

#include "pages/propertypage.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

CAboutBox::CAboutBox(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(QStringLiteral("About Tarvex"));
    setFont(DialogFont());
    const CDialogUnits u(font());
    setFixedSize(u.Rect(0, 0, 235, 75).size());

    auto* pIcon = new QLabel(this);
    pIcon->setObjectName(QStringLiteral("icon"));
    pIcon->setGeometry(u.Rect(11, 17, 20, 21));
    pIcon->setPixmap(QIcon(QStringLiteral(":/tarvex.png")).pixmap(pIcon->size()));
    auto text = [&](const QString& s, int x, int y, int cx) {
        auto* pLabel = new QLabel(s, this);
        pLabel->setTextFormat(Qt::PlainText);
        pLabel->setGeometry(u.Rect(x, y, cx, 8).adjusted(0, 0, 0, 2));
    };
    text(QStringLiteral("Tarvex Version 1.0"), 40, 10, 119);
    text(QStringLiteral("Copyright (C) 2026 the Tarvex developers"), 40, 25, 188);
    text(QStringLiteral("Email) tarvex@example.org"), 40, 39, 136);
    text(QStringLiteral("Web) https://tarvex.example.org"), 40, 52, 136);
    auto* pConfirm = new QPushButton(QStringLiteral("Confirm"), this);
    pConfirm->setGeometry(u.Rect(178, 54, 50, 14));
    pConfirm->setDefault(true);
    connect(pConfirm, &QPushButton::clicked, this, &QDialog::accept);
}
