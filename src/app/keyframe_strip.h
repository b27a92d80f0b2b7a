#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QImage>

#include <functional>
#include <vector>

#include "app/app_state.h"
#include "platform/raster.h"

namespace zoomreel::app {

class Interaction;

inline constexpr int kCellWidth = 130;
inline constexpr int kCellHeight = 74;

/// The grid's numbers for a client area.
struct StripLayout {
    int columns = 0;
    int rows = 0;            ///< full rows that fit
    int scrollMaximum = 0;
};
StripLayout stripLayoutFor(int clientWidth, int clientHeight, int keyframeCount);

/// The keyframe under client point (x, y) with the grid scrolled to `scrollPosition`, or -1.
int stripHitTest(const StripLayout& layout, int scrollPosition, int x, int y);

/// Whether keyframe k carries the selection frame.
bool isFramed(const KeyframeList& list, int k);

/// Whether keyframe k belongs to one of the pairs (given by their first keyframe) that the check found
/// disagreeing.
bool inDisagreeingPair(const std::vector<int>& pairs, int k);

/// A click on keyframe k, with or without Shift: click for the first keyframe, Shift+click for the last.
void selectByClick(KeyframeList& list, int k, bool shift);

/// A bottom-up raster as an image of its own.
QImage imageOf(const Raster& raster);

/// The label face of the strip and of the editors' graphs: "Arial" with lines 12 pixels high, narrowed so that
/// its average character is 5 pixels wide.
QFont labelFont();

/// The main window's client area: the opened folder's keyframes as a grid of labelled thumbnails with the
/// selection framed in red and the keyframes of pairs that disagree framed in orange within, scrolled by rows; while a conversion or a movie runs, the image it publishes.
class KeyframeStrip final : public QAbstractScrollArea {
public:
    KeyframeStrip(AppState& state, Interaction& interaction, QWidget* parent = nullptr);

    /// The folder's keyframes changed (loaded, converted, closed): new thumbnails and a new scroll range.
    void keyframesChanged();
    /// Back to the top of the grid, as opening a folder does.
    void resetScroll();

    /// Forgets the frame that "Compute One Frame" left on screen.
    void dropHeldFrame();

    /// Recomputes the grid for the viewport's size.
    void layoutStrip();
    const StripLayout& layout() const { return layout_; }
    int scrollPosition() const;

    /// "Properties" of the right-click menu, for keyframe k.
    std::function<void(int k)> showProperties;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void paintGrid(class QPainter& painter);
    bool paintPublished(class QPainter& painter);

    AppState& state_;
    Interaction& interaction_;
    StripLayout layout_;
    std::vector<QImage> thumbnails_;
    QFont labelFont_;
    Raster shown_;   ///< a copy of the published image, taken under the frame lock
    Raster screen_;  ///< that copy stretched to the client area
};

}  // namespace zoomreel::app
