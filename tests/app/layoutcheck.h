// SPDX-License-Identifier: MIT
// Layout checks shared by the page and frame tests: every control shows its text whole, and
// no two controls touch.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <set>

inline std::string Describe(const QWidget* w)
{
    const QRect g = w->geometry();
    QString text;
    if (auto* l = qobject_cast<const QLabel*>(w))
        text = l->text();
    else if (auto* b = qobject_cast<const QAbstractButton*>(w))
        text = b->text();
    else if (auto* e = qobject_cast<const QLineEdit*>(w))
        text = e->text();
    else if (auto* g2 = qobject_cast<const QGroupBox*>(w))
        text = g2->title();
    return QStringLiteral("%1 \"%2\" at %3,%4 %5x%6")
        .arg(QString::fromLatin1(w->metaObject()->className()), text)
        .arg(g.x())
        .arg(g.y())
        .arg(g.width())
        .arg(g.height())
        .toStdString();
}

// Whether the control's own text, every entry of a list, has room in it. A shown (polished)
// control is needed, so that style sheets are in effect.
inline ::testing::AssertionResult TextFits(QWidget* w)
{
    const QFontMetrics fm = w->fontMetrics();
    auto fail = [&](int need) {
        return ::testing::AssertionFailure() << Describe(w) << " needs " << need << " pixels";
    };
    if (auto* l = qobject_cast<QLabel*>(w)) {
        const QSize need = l->sizeHint();
        if (need.width() > l->width() || fm.height() > l->height())
            return fail(need.width()) << " by " << fm.height();
    } else if (auto* r = qobject_cast<QRadioButton*>(w)) {
        if (r->sizeHint().width() > r->width())
            return fail(r->sizeHint().width());
    } else if (auto* b = qobject_cast<QPushButton*>(w)) {
        const int frame = 2 * b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
        const int need = fm.horizontalAdvance(b->text()) + frame;
        if (need > b->width())
            return fail(need);
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        // A text wider than the field scrolls: the caret at the end then stands less than the
        // text's width from where it stood at the start.
        auto caret = [e] { return e->inputMethodQuery(Qt::ImCursorRectangle).toRect(); };
        e->setCursorPosition(0);
        const int x0 = caret().center().x();
        e->end(false);
        const int x1 = caret().center().x();
        const int need = fm.horizontalAdvance(e->text());
        if (x1 - x0 < need || caret().right() >= e->width())
            return fail(need);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        for (int i = 0; i < c->count(); ++i) {
            QStyleOptionComboBox opt;
            opt.initFrom(c);
            opt.editable = c->isEditable();
            opt.currentText = c->itemText(i);
            const QSize contents(fm.horizontalAdvance(c->itemText(i)), fm.height());
            const QSize need = c->style()->sizeFromContents(QStyle::CT_ComboBox, &opt, contents, c);
            if (need.width() > c->width())
                return fail(need.width()) << " for \"" << c->itemText(i).toStdString() << "\"";
        }
    }
    return ::testing::AssertionSuccess();
}

// Every control of parent (group boxes aside) keeps at least a pixel from every other, except
// the pairs allowed to meet; a control that starts inside a group box ends inside it too.
inline void ExpectControlsApart(QWidget* parent, const std::set<std::pair<QWidget*, QWidget*>>& meet = {})
{
    std::vector<QWidget*> controls;
    std::vector<QGroupBox*> boxes;
    for (QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (auto* box = qobject_cast<QGroupBox*>(w))
            boxes.push_back(box);
        else
            controls.push_back(w);
    }
    // A label or a radio button draws from its left edge: what it covers is its text's extent,
    // not its box.
    auto footprint = [](const QWidget* w) {
        if (qobject_cast<const QLabel*>(w) || qobject_cast<const QRadioButton*>(w))
            return QRect(w->pos(), w->sizeHint()).intersected(w->geometry());
        return w->geometry();
    };
    for (std::size_t i = 0; i < controls.size(); ++i) {
        QWidget* a = controls[i];
        EXPECT_TRUE(TextFits(a));
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            QWidget* b = controls[j];
            if (meet.count({a, b}) || meet.count({b, a}))
                continue;
            EXPECT_FALSE(footprint(a).adjusted(-1, -1, 1, 1).intersects(footprint(b)))
                << Describe(a) << " touches " << Describe(b);
        }
        for (QGroupBox* box : boxes) {
            if (box->geometry().contains(a->geometry().topLeft())) {
                EXPECT_TRUE(box->geometry().contains(a->geometry())) << Describe(a) << " leaves " << Describe(box);
            }
        }
    }
}
