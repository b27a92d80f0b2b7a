#include "app/dialog_layout.h"

#include <QFontMetrics>

namespace zoomreel::app {

QFont dialogFont() {
    QFont font(QStringLiteral("MS Shell Dlg"), 8);
    // Not a face of this platform: fontconfig finds the sans-serif face that stands in for it.
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QString controlName(int id) { return QStringLiteral("id%1").arg(id); }

DialogLayout::DialogLayout(QDialog& dialog, const QString& title, int x, int y, int width, int height) {
    dialog.setFont(dialogFont());
    dialog.setWindowTitle(title);
    const QFontMetrics metrics(dialog.font());
    // The base units of a dialog font: the average width of the 52 letters, rounded, and the line height.
    baseWidth_ = (metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                      26 +
                  1) /
                 2;
    baseHeight_ = metrics.height();
    const QRect frame = pixels(x, y, width, height);
    dialog.setFixedSize(frame.size());
    if (QWidget* owner = dialog.parentWidget()) dialog.move(owner->mapToGlobal(frame.topLeft()));
}

QRect DialogLayout::pixels(int x, int y, int width, int height) const {
    return {x * baseWidth_ / 4, y * baseHeight_ / 8, width * baseWidth_ / 4, height * baseHeight_ / 8};
}

}  // namespace zoomreel::app
