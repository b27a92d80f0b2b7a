#pragma once

// What the dialog tests do with a dialog: press its buttons, read its texts, and check that it reads well (every
// text whole, no two controls over each other, in group boxes too).

#include <QAbstractButton>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/dialog_layout.h"

namespace zoomreel::app::test {

inline void press(const QWidget& dialog, int id) { control<QAbstractButton>(dialog, id)->click(); }

inline void type(const QWidget& dialog, int id, const QString& value) { control<QLineEdit>(dialog, id)->setText(value); }
inline bool checked(const QWidget& dialog, int id) { return control<QAbstractButton>(dialog, id)->isChecked(); }

/// The text of label or field `id`.
inline QString text(const QWidget& dialog, int id) {
    if (auto* label = control<QLabel>(dialog, id)) return label->text();
    return control<QLineEdit>(dialog, id)->text();
}

/// Every text shows whole and no two visible controls of `parent` overlap, with the fonts this machine has; the
/// same inside every group box.
inline void checkLayoutFits(const QWidget& parent) {
    QList<QWidget*> controls = parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    controls.removeIf([](const QWidget* widget) { return widget->isHidden() || widget->isWindow(); });
    for (QWidget* widget : controls) {
        const QRect box = widget->geometry();
        const QString name = widget->objectName().isEmpty() ? widget->metaObject()->className() : widget->objectName();
        QVERIFY2(parent.rect().contains(box), qPrintable(name + " leaves its parent"));
        int needed = 0;
        if (auto* label = qobject_cast<QLabel*>(widget)) needed = label->sizeHint().width();
        if (auto* button = qobject_cast<QPushButton*>(widget)) {
            needed = button->fontMetrics().horizontalAdvance(button->text()) + 8;
        } else if (auto* check = qobject_cast<QAbstractButton*>(widget)) {
            needed = check->sizeHint().width();
        }
        QVERIFY2(needed <= box.width(), qPrintable(name + " cuts its text"));
        QVERIFY2(widget->minimumSizeHint().height() <= box.height(), qPrintable(name + " is too low"));
        for (QWidget* other : controls) {
            if (other != widget) {
                QVERIFY2(!box.intersects(other->geometry()), qPrintable(name + " overlaps " + other->objectName()));
            }
        }
        if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            QVERIFY2(group->fontMetrics().horizontalAdvance(group->title()) + 16 <= box.width(),
                     qPrintable(name + " cuts its title"));
            checkLayoutFits(*group);
        }
    }
}

}  // namespace zoomreel::app::test
