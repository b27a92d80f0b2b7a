#include "app/program_icon.h"

#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace zoomreel::app {

namespace {

QPixmap drawIcon(int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(side / 2.0, side / 2.0);
    double half = side * 0.47;
    // Each frame half the size of the last, turned a little: a zoom by 2 per keyframe.
    for (int level = 0; level < 6 && half > 0.8; ++level) {
        const int shade = 60 + 30 * level;
        painter.setPen(Qt::NoPen);
        painter.setBrush(level % 2 == 0 ? QColor(230, 120, 40) : QColor(40, 120 + shade / 3, 200));
        painter.drawRect(QRectF(-half, -half, 2 * half, 2 * half));
        painter.rotate(20);
        half *= 0.62;
    }
    return pixmap;
}

}  // namespace

QIcon programIcon() {
    QIcon icon;
    for (int side : {16, 32, 48, 64}) icon.addPixmap(drawIcon(side));
    return icon;
}

}  // namespace zoomreel::app
