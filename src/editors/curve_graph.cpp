#include "editors/curve_graph.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace zoomreel::app {
namespace {

/// trunc() into an int, held to a range no screen reaches, so that a value of 0 on a logarithmic axis (a file can
/// hold one) or an absurd one still gives a pixel off the graph instead of undefined behaviour.
int truncated(double value) {
    if (!(value == value)) return 0;
    return static_cast<int>(std::clamp(std::trunc(value), -1e6, 1e6));
}

const QColor kGridColor(180, 180, 180);
const QColor kCurveColor(120, 120, 120);
const QColor kBeatMarkColor(150, 170, 230);
const QColor kBarMarkColor(40, 70, 200);

}  // namespace

int GraphView::scrollLimit() const {
    return std::max(0, selectionEnd - (rect.width() - 4) / (4 * zoom) - selectionStart);
}

int GraphView::screenX(float x) const {
    return 2 + truncated((x - static_cast<float>(selectionStart) - static_cast<float>(scroll)) * 4.0f *
                         static_cast<float>(zoom));
}

int GraphView::screenY(float value) const {
    const int height = rect.height();
    const int l = height - 4;
    const double v = value;
    switch (axis) {
        case GraphAxis::Speed:
            return height - 6 - truncated(std::log((x10 ? 10 * v : v) / base) * l / 5);
        case GraphAxis::Division:
            return l - truncated(std::log(x10 ? 100 * v : 10 * v) * l / 10) - 2;
        case GraphAxis::Add:
            return truncated(l / 2 - (x10 ? (offset + v) * l : (offset + v) / 10 * l));
        case GraphAxis::Rotate:
            return truncated(l / 2 - (x10 ? 10 * v * l : v * l));
    }
    return 0;
}

int GraphView::baseLineY() const {
    const int l = rect.height() - 4;
    switch (axis) {
        case GraphAxis::Speed:
        case GraphAxis::Division: return rect.height() - 6;
        case GraphAxis::Add: return x10 ? l / 2 - l * offset : l / 2 + truncated(l * offset / -10.0);
        case GraphAxis::Rotate: return l / 2;
    }
    return 0;
}

QColor GraphView::background() const {
    switch (axis) {
        case GraphAxis::Speed: return {221, 239, 255};
        case GraphAxis::Division: return {221, 255, 239};
        case GraphAxis::Add: return {255, 229, 248};
        case GraphAxis::Rotate: return {229, 229, 248};
    }
    return Qt::white;
}

bool GraphView::contains(QPoint mouse) const {
    return rect.left < mouse.x() && mouse.x() < rect.right && rect.top < mouse.y() && mouse.y() < rect.bottom;
}

float GraphView::positionAt(int mx) const {
    return static_cast<float>(mx - rect.left - 4) / static_cast<float>(4 * zoom) + static_cast<float>(scroll) +
           static_cast<float>(selectionStart);
}

float GraphView::valueAt(int my) const {
    const int h = rect.height() - 4;
    float y = 0;
    switch (axis) {
        case GraphAxis::Speed:
            y = static_cast<float>(base) * std::exp(static_cast<float>(rect.bottom - my - 2) * 5.0f / static_cast<float>(h));
            break;
        case GraphAxis::Division:
            y = std::exp(static_cast<float>(rect.bottom - my - 2) * 10.0f / static_cast<float>(h)) * 0.1f;
            break;
        case GraphAxis::Add:
        case GraphAxis::Rotate: {
            const float t = static_cast<float>(rect.bottom - h / 2 - my - 2) / static_cast<float>(h);
            // The offset view with x10 shows (offset + value) * l above the middle, so the mouse reads the value
            // back by taking the whole offset off, as the picture has it.
            if (axis == GraphAxis::Rotate) {
                y = t;
            } else {
                y = 10.0f * t - static_cast<float>(x10 ? 10 * offset : offset);
            }
            break;
        }
    }
    return x10 ? y / 10.0f : y;
}

int GraphView::hitPoint(const KeyPointCurve& curve, float p, float y) const {
    if (curve.empty()) return -1;
    const float reach = 0.55f / static_cast<float>(zoom);
    const int s = findSegment(curve, p + reach);
    const KeyPoint& point = curve.points[s];
    if (!(std::fabs(p - point.x) < reach)) return -1;
    const bool logarithmic = axis == GraphAxis::Speed || axis == GraphAxis::Division;
    const bool close = logarithmic ? std::fabs(y / point.y - 1.0f) < 0.2f : std::fabs(y - point.y) < 0.2f;
    return close ? s : -1;
}

std::optional<float> GraphView::snapToMark(int mx, const std::vector<double>& marks) const {
    const double p = positionAt(mx);
    const auto after = std::lower_bound(marks.begin(), marks.end(), p);
    std::optional<float> best;
    int bestDistance = kSnapPixels + 1;
    for (auto it = after == marks.begin() ? after : after - 1; it != marks.end() && it <= after; ++it) {
        const int distance = std::abs(rect.left + 2 + screenX(static_cast<float>(*it)) - mx);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<float>(*it);
        }
    }
    return best;
}

void paintGraph(QPainter& painter, const GraphView& view, const KeyPointCurve& curve, const QFont& labelFont,
                const std::vector<double>& beatMarks) {
    const int width = view.rect.width();
    const int height = view.rect.height();
    const QColor background = view.background();
    painter.save();
    painter.setClipRect(QRect(0, 0, width - 4, height));
    painter.fillRect(QRect(0, 0, width - 4, height - 4), background);

    // Lines end one pixel short of their end point, as the line drawing of the program's home platform does.
    painter.setPen(QPen(kGridColor, 1));
    const int base = view.baseLineY();
    painter.drawLine(2, base, width - 7, base);
    painter.setFont(labelFont);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(background);
    const int step = view.zoom < 3 ? 10 : view.zoom < 6 ? 5 : 1;
    const int lineHeight = QFontMetrics(labelFont).height();
    for (int j = 0; j <= view.selectionEnd - view.selectionStart - view.scroll; ++j) {
        const int x = 2 + 4 * view.zoom * j;
        painter.setPen(QPen(kGridColor, 1));
        painter.drawLine(x, 2, x, height - 7);
        const int keyframe = view.selectionStart + view.scroll + j;
        if (keyframe % step == 0) {
            painter.setPen(Qt::black);
            painter.drawText(QRect(x + 2, 12, 8 * lineHeight, lineHeight), Qt::AlignLeft | Qt::AlignTop,
                             QString::asprintf("%d", keyframe));
        }
        if (x > width - 4) break;
    }
    painter.setBackgroundMode(Qt::TransparentMode);

    for (std::size_t b = 0; b < beatMarks.size(); ++b) {
        const int x = view.screenX(static_cast<float>(beatMarks[b]));
        if (x < 2) continue;
        if (x > width - 4) break;
        painter.setPen(QPen(b % 4 == 0 ? kBarMarkColor : kBeatMarkColor, 1));
        painter.drawLine(x, 2, x, height - 7);
    }

    if (!curve.empty()) {
        painter.setPen(QPen(kCurveColor, 1));
        const auto& points = curve.points;
        int s = findSegment(curve, static_cast<float>(view.selectionStart + view.scroll));
        QPoint last(view.screenX(points[s].x), view.screenY(points[s].y));
        painter.fillRect(last.x() - 3, last.y() - 3, 7, 7, kCurveColor);
        while (last.x() <= width - 4 && ++s < curve.count()) {
            const QPoint next(view.screenX(points[s].x), view.screenY(points[s].y));
            painter.drawLine(last, next);
            painter.fillRect(next.x() - 3, next.y() - 3, 7, 7, kCurveColor);
            last = next;
        }
        if (width - 7 >= last.x()) painter.drawLine(last.x(), last.y(), width - 7, last.y());
    }
    painter.restore();
}

GraphControl::GraphControl(QWidget* dialog) : QFrame(dialog) {
    // The client edge: a sunken border two pixels wide.
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setMouseTracking(true);
}

void GraphControl::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (!paint) return;
    QPainter painter(this);
    const QRect client = contentsRect();
    painter.setClipRect(client);
    painter.translate(client.topLeft());
    paint(painter);
}

void GraphControl::forward(QMouseEvent* event) {
    if (mouse) mouse(event, event->position().toPoint() + pos());
}

void GraphControl::mousePressEvent(QMouseEvent* event) { forward(event); }
void GraphControl::mouseReleaseEvent(QMouseEvent* event) { forward(event); }
void GraphControl::mouseMoveEvent(QMouseEvent* event) { forward(event); }

void GraphControl::leaveEvent(QEvent*) {
    if (left) left();
}

}  // namespace zoomreel::app
