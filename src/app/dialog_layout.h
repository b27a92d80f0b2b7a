#pragma once

// Dialogs are laid out as their templates give them: rectangles in dialog units of the dialog's font, every
// control named by its identifier ("id1001"), so that they look as designed and tests find controls by number.

#include <QDialog>
#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

namespace zoomreel::app {

/// "MS Shell Dlg" at 8 points, as the fontconfig face that stands in for it here.
QFont dialogFont();

/// The object name of control `id`: "id1001".
QString controlName(int id);

class DialogLayout {
public:
    /// Sets the dialog's font, its title and its size in dialog units. The position (x, y), also in dialog
    /// units, is taken relative to the owner's top-left corner when there is an owner.
    DialogLayout(QDialog& dialog, const QString& title, int x, int y, int width, int height);

    /// The horizontal and vertical dialog base units of the dialog's font, in pixels.
    int baseWidth() const { return baseWidth_; }
    int baseHeight() const { return baseHeight_; }

    /// Pixels of a rectangle in dialog units.
    QRect pixels(int x, int y, int width, int height) const;

    /// Places `widget` at its rectangle; `id` 0 gives no name (a static text without an identifier).
    template <typename W>
    W* place(W* widget, int id, int x, int y, int width, int height) const {
        widget->setGeometry(pixels(x, y, width, height));
        if (id != 0) widget->setObjectName(controlName(id));
        return widget;
    }

    /// Grows `widget` to the height its style needs at least, upwards or downwards, keeping the room of the control
    /// on the other side: a check box of 10 units or an edit field of 12 is shorter than this platform draws them.
    template <typename W>
    static W* tallEnough(W* widget, bool downwards = false) {
        const int needed = widget->minimumSizeHint().height();
        if (needed > widget->height()) {
            const int top = downwards ? widget->y() : widget->y() + widget->height() - needed;
            widget->setGeometry(widget->x(), top, widget->width(), needed);
        }
        return widget;
    }

private:
    int baseWidth_ = 0;
    int baseHeight_ = 0;
};

/// The control of `dialog` named by `id`.
template <typename W>
W* control(const QWidget& dialog, int id) {
    return dialog.findChild<W*>(controlName(id));
}

}  // namespace zoomreel::app
