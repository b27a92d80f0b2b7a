#include "editors/preview_window.h"

#include <QPainter>
#include <QScreen>

#include <algorithm>

namespace zoomreel::app {

PreviewWindow::PreviewWindow(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Preview"));
    setModal(false);
    setFocusPolicy(Qt::NoFocus);
    // A window that only shows: no help button, nothing that takes input.
    setWindowFlags((windowFlags() | Qt::Tool | Qt::WindowStaysOnTopHint) & ~Qt::WindowContextHelpButtonHint);
}

void PreviewWindow::placeBeside(const QWidget& editor) {
    QPoint corner = editor.frameGeometry().topRight() + QPoint(1, 0);
    // On a screen too narrow for both side by side, the window covers the editor's right edge rather than leave
    // the screen: a preview nobody can see is of no use.
    if (const QScreen* screen = editor.screen()) {
        const QRect room = screen->availableGeometry();
        const QSize outer = isVisible() ? frameGeometry().size() : size() + QSize(2, 24);
        corner.setX(std::max(room.left(), std::min(corner.x(), room.right() + 1 - outer.width())));
        corner.setY(std::max(room.top(), std::min(corner.y(), room.bottom() + 1 - outer.height())));
    }
    move(corner);
    if (!isVisible()) show();
    raise();  // above the editor, which it may cover in part
}

void PreviewWindow::showFrame(const QImage& frame, float h) {
    if (frame.size() != frame_.size()) resize(frame.size());
    frame_ = frame;
    setWindowTitle(QString::asprintf("Preview %4.2f", static_cast<double>(h)));
    update();
}

void PreviewWindow::paintEvent(QPaintEvent*) {
    if (frame_.isNull()) return;
    QPainter painter(this);
    painter.drawImage(rect(), frame_);
}

}  // namespace zoomreel::app
