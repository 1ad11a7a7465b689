// SPDX-License-Identifier: MIT
// Tool-bar pictures: simple line drawings, one per command.
#include "frame/toolbaricons.h"

#include "frame/commandids.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QIcon ToolBarIcon(int nCommandId)
{
    QPixmap pixmap(16, 15);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QPen ink(Qt::black);
    p.setPen(ink);
    auto page = [&](int x, int y) {
        p.setBrush(Qt::white);
        p.drawPolygon(QPolygon({QPoint(x, y), QPoint(x + 6, y), QPoint(x + 9, y + 3), QPoint(x + 9, y + 12), QPoint(x, y + 12)}));
    };
    switch (nCommandId) {
    case ID_FILE_NEW:
        page(3, 1);
        break;
    case ID_FILE_OPEN:
        p.setBrush(QColor(230, 200, 90));
        p.drawRect(1, 4, 12, 9);
        p.drawLine(1, 4, 4, 2);
        p.drawLine(4, 2, 7, 4);
        break;
    case ID_FILE_SAVE:
        p.setBrush(QColor(60, 60, 160));
        p.drawRect(1, 1, 13, 12);
        p.setBrush(Qt::white);
        p.drawRect(4, 1, 7, 5);
        break;
    case ID_EDIT_CUT:
        p.drawEllipse(2, 9, 4, 4);
        p.drawEllipse(9, 9, 4, 4);
        p.drawLine(5, 9, 10, 1);
        p.drawLine(10, 9, 5, 1);
        break;
    case ID_EDIT_COPY:
        page(1, 0);
        page(6, 2);
        break;
    case ID_EDIT_PASTE:
        p.setBrush(QColor(180, 140, 80));
        p.drawRect(1, 2, 10, 12);
        page(6, 2);
        break;
    case ID_FILE_PRINT:
        p.setBrush(Qt::white);
        p.drawRect(4, 1, 8, 5);
        p.setBrush(Qt::lightGray);
        p.drawRect(1, 6, 14, 6);
        break;
    case ID_EMULATOR_SETUP:
        p.setBrush(Qt::gray);
        p.drawEllipse(3, 3, 9, 9);
        p.setBrush(Qt::white);
        p.drawEllipse(6, 6, 3, 3);
        break;
    case ID_EMULATOR_RUN:
        p.setBrush(QColor(0, 160, 0));
        p.drawPolygon(QPolygon({QPoint(4, 2), QPoint(12, 7), QPoint(4, 12)}));
        break;
    case ID_EMULATOR_STOP:
        p.setBrush(QColor(200, 0, 0));
        p.drawRect(3, 3, 9, 9);
        break;
    case ID_TARGET_RESET: {
        p.setBrush(Qt::NoBrush);
        p.drawArc(2, 2, 11, 11, 90 * 16, 270 * 16);
        p.drawLine(7, 2, 10, 0);
        p.drawLine(7, 2, 10, 4);
        break;
    }
    case ID_APP_ABOUT:
        p.setBrush(QColor(255, 255, 200));
        p.drawEllipse(1, 0, 13, 13);
        p.drawText(QRect(1, 0, 14, 14), Qt::AlignCenter, QStringLiteral("?"));
        break;
    default:
        break;
    }
    return QIcon(pixmap);
}
