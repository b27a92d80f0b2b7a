#include "editors/preview_window.h"

#include <QPainter>

namespace zoomreel::app {

PreviewWindow::PreviewWindow(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Preview"));
    setModal(false);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    // A window that only shows: no help button, nothing that takes input.
    setWindowFlags((windowFlags() | Qt::Tool) & ~Qt::WindowContextHelpButtonHint);
}

void PreviewWindow::placeBeside(const QWidget& editor) {
    move(editor.frameGeometry().topRight() + QPoint(1, 0));
    if (!isVisible()) show();
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
