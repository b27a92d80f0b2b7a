#pragma once

// The graph of the speed and colour editors: how a view maps key points to pixels and the mouse back to key
// points, how the graph is painted, and the control that shows it.

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QPoint>

#include <functional>
#include <optional>
#include <vector>

#include "settings/key_point_curve.h"

class QPainter;

namespace zoomreel::app {

/// A rectangle as the graph's arithmetic counts it: right and bottom one past its last pixel.
struct GraphRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

/// The vertical axes of the graph: the speed editor's (five natural-log units above `base`, also for the 3D
/// evolution curves), and the colour editor's colour division (ten natural-log units above 0.1), colour offset
/// and colour rotation (linear around the middle).
enum class GraphAxis { Speed, Division, Add, Rotate };

/// One editor's view of the graph.
struct GraphView {
    GraphAxis axis = GraphAxis::Speed;
    double base = 40.0;  ///< the speed axis's value at the bottom without x10
    bool x10 = false;    ///< "x10 vertical zoom": the axis shows a tenth of the values
    int offset = 0;      ///< the colour offset view's vertical offset, -100 to 100
    int zoom = 10;       ///< 4 * zoom pixels per keyframe
    int scroll = 0;      ///< the first keyframe shown, counted from the selection start
    int selectionStart = 0;
    int selectionEnd = 0;
    GraphRect rect;      ///< the graph control's outer rectangle, in the dialog's client coordinates

    int scrollLimit() const;

    // Painting, in the graph's client coordinates.
    int screenX(float x) const;
    int screenY(float value) const;
    int baseLineY() const;
    QColor background() const;

    // The mouse, in the dialog's client coordinates.
    bool contains(QPoint mouse) const;
    float positionAt(int mx) const;  ///< P: the keyframe position under the mouse
    float valueAt(int my) const;     ///< Y: the curve value under the mouse
    /// The key point a click at (P, Y) hits: the one that starts the segment of P + 0.55 / zoom, when it lies
    /// within 0.55 / zoom keyframes of P and within 20 % of Y (logarithmic axes) or 0.2 of it (linear axes).
    /// -1 when none is hit.
    int hitPoint(const KeyPointCurve& curve, float p, float y) const;
    /// The keyframe position of the mark (of `marks`, ascending) nearest the mouse's x, when it is within
    /// `kSnapPixels` of it on the screen.
    std::optional<float> snapToMark(int mx, const std::vector<double>& marks) const;
};

/// How near a beat mark a dragged key point has to come to snap onto it.
inline constexpr int kSnapPixels = 6;

/// Paints the graph of `curve` into a client area of (W - 4) x (H - 4) pixels, W and H the view rectangle's sides:
/// background, grid with keyframe numbers, base line, the curve from the segment at the left edge to the first
/// point past the right edge with a 7 x 7 marker on each point, then a horizontal line to the right edge.
/// `beatMarks` (keyframe positions of the soundtrack's beats, from beat 0) are thin vertical lines behind the
/// curve, every fourth one stronger.
void paintGraph(QPainter& painter, const GraphView& view, const KeyPointCurve& curve, const QFont& labelFont,
                const std::vector<double>& beatMarks = {});

/// The graph control (1011): a client-edged frame that paints the editor's graph and hands the mouse to the
/// editor in the dialog's client coordinates.
class GraphControl : public QFrame {
public:
    explicit GraphControl(QWidget* dialog);

    std::function<void(QPainter& painter)> paint;
    std::function<void(QMouseEvent* event, QPoint dialogPosition)> mouse;
    std::function<void()> left;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void forward(QMouseEvent* event);
};

}  // namespace zoomreel::app
