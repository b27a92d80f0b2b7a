#pragma once

// "Preview": the small modeless window beside the speed and colour editors that shows the preview frames.

#include <QDialog>
#include <QImage>

namespace zoomreel::app {

/// Shows the latest preview frame stretched over its whole client area, without smoothing, and nothing on its own
/// before the first one. Owned by its editor, above which it stays; it takes no input.
class PreviewWindow : public QDialog {
public:
    explicit PreviewWindow(QWidget* owner);

    /// Puts the window's top-left corner at the top-right corner of `editor`, keeping its own size, and shows it
    /// without taking the focus from the editor.
    void placeBeside(const QWidget& editor);

    /// The frame at keyframe position h: the title becomes "Preview %4.2f"; a frame of another size than the last
    /// one resizes the client area to it.
    void showFrame(const QImage& frame, float h);

    const QImage& frame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage frame_;
};

}  // namespace zoomreel::app
