#include "app/keyframe_strip.h"

#include <QFontMetrics>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cstring>

#include "app/interaction.h"
#include "platform/resampler.h"

namespace zoomreel::app {

StripLayout stripLayoutFor(int clientWidth, int clientHeight, int keyframeCount) {
    StripLayout layout;
    layout.columns = std::max(0, (clientWidth - 2) / kCellWidth);
    layout.rows = std::max(0, (clientHeight - 2) / kCellHeight);
    // A window too narrow for one column has nothing to scroll.
    if (layout.columns > 0) layout.scrollMaximum = std::max(0, keyframeCount / layout.columns - layout.rows + 1);
    return layout;
}

int stripHitTest(const StripLayout& layout, int scrollPosition, int x, int y) {
    if (x < 0 || y < 0) return -1;
    if (x >= layout.columns * kCellWidth || y >= (layout.rows + 1) * kCellHeight) return -1;
    return x / kCellWidth + layout.columns * (y / kCellHeight + scrollPosition);
}

bool isFramed(const KeyframeList& list, int k) {
    return k == list.selectionStart ||
           (list.selectionEnd != -1 && list.selectionStart < k && k <= list.selectionEnd);
}

bool inDisagreeingPair(const std::vector<int>& pairs, int k) {
    return std::find(pairs.begin(), pairs.end(), k) != pairs.end() ||
           std::find(pairs.begin(), pairs.end(), k - 1) != pairs.end();
}

void selectByClick(KeyframeList& list, int k, bool shift) {
    if (!shift || list.selectionStart == -1) {
        list.selectionStart = k;
        list.selectionEnd = -1;
    } else if (k == list.selectionStart) {
        list.selectionEnd = -1;
    } else if (k > list.selectionStart) {
        list.selectionEnd = k;
    } else {
        list.selectionEnd = list.selectionStart;
        list.selectionStart = k;
    }
}

QImage imageOf(const Raster& raster) {
    if (raster.empty()) return {};
    const QImage view(raster.data(), raster.width(), raster.height(), raster.strideBytes(), QImage::Format_BGR888);
    return view.mirrored();  // rows are stored bottom-up
}

QFont labelFont() {
    QFont font(QStringLiteral("Arial"));
    font.setWeight(QFont::Normal);
    font.setStyleStrategy(QFont::PreferAntialias);
    // A pixel size counts the em, not the line: step down until ascent and descent fit in 12 pixels.
    for (int size = 12; size > 6; --size) {
        font.setPixelSize(size);
        if (QFontMetrics(font).height() <= 12) break;
    }
    const int average = QFontMetrics(font).averageCharWidth();
    if (average > 0) font.setStretch(std::clamp(500 / average, 50, 200));
    return font;
}

namespace {

const QColor kLabelText(255, 220, 160);
const QColor kLabelBackground(80, 120, 140);
const QColor kDisagreementFrame(255, 160, 0);

}  // namespace

KeyframeStrip::KeyframeStrip(AppState& state, Interaction& interaction, QWidget* parent)
    : QAbstractScrollArea(parent), state_(state), interaction_(interaction), labelFont_(labelFont()) {
    setFrameShape(QFrame::NoFrame);
    // Always there, so that its appearance never changes the width the columns are computed from.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setSingleStep(1);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
}

void KeyframeStrip::dropHeldFrame() {
    std::lock_guard lock(state_.frameLock);
    if (state_.heldFrame.empty()) return;
    state_.heldFrame = Raster();
    viewport()->update();
}

void KeyframeStrip::keyframesChanged() {
    dropHeldFrame();
    thumbnails_.clear();
    const KeyframeList& list = state_.keyframes;
    if (list.loaded) {
        thumbnails_.reserve(list.summaries.size());
        for (const KeyframeSummary& summary : list.summaries) thumbnails_.push_back(imageOf(summary.thumbnail));
    }
    layoutStrip();
    viewport()->update();
}

void KeyframeStrip::resetScroll() {
    layout_.scrollMaximum = 0;
    verticalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setValue(0);
    layoutStrip();
}

void KeyframeStrip::layoutStrip() {
    const QSize client = viewport()->size();
    layout_ = stripLayoutFor(client.width(), client.height(), state_.keyframes.keyframeCount());
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, layout_.scrollMaximum);
    bar->setPageStep(std::max(1, layout_.rows));
}

int KeyframeStrip::scrollPosition() const { return verticalScrollBar()->value(); }

void KeyframeStrip::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (!window()->isMinimized()) layoutStrip();
}

void KeyframeStrip::scrollContentsBy(int, int) {
    dropHeldFrame();
    viewport()->update();
}

void KeyframeStrip::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    if (!paintPublished(painter) && state_.keyframes.loaded) paintGrid(painter);
}

bool KeyframeStrip::paintPublished(QPainter& painter) {
    QImage thumbnail;
    {
        // Only a copy is taken under the lock, so that a movie waits for the window no longer than a copy lasts.
        std::lock_guard lock(state_.frameLock);
        const Raster* image = state_.publishedImage != nullptr ? state_.publishedImage : &state_.heldFrame;
        if (image->empty()) return false;
        if (shown_.width() != image->width() || shown_.height() != image->height()) {
            shown_ = Raster(image->width(), image->height());
        }
        std::memcpy(shown_.data(), image->data(), image->sizeBytes());
        if (state_.publishedThumbnail != nullptr) thumbnail = imageOf(*state_.publishedThumbnail);
    }
    // Stretched over the whole client area by area averaging, as the frames themselves are made.
    const QSize client = viewport()->size();
    if (screen_.width() != client.width() || screen_.height() != client.height()) {
        screen_ = Raster(client.width(), client.height());
    }
    if (!screen_.empty()) {
        stretchAreaAverage(shown_, screen_);
        const QImage view(screen_.data(), screen_.width(), screen_.height(), screen_.strideBytes(),
                          QImage::Format_BGR888);
        painter.save();
        painter.translate(0, screen_.height());
        painter.scale(1, -1);  // rows are stored bottom-up
        painter.drawImage(0, 0, view);
        painter.restore();
    }
    if (!thumbnail.isNull()) painter.drawImage(0, 0, thumbnail);
    return true;
}

void KeyframeStrip::paintGrid(QPainter& painter) {
    const KeyframeList& list = state_.keyframes;
    const int count = std::min<int>(list.keyframeCount(), static_cast<int>(thumbnails_.size()));
    if (layout_.columns <= 0) return;
    painter.setFont(labelFont_);
    const QFontMetrics metrics(labelFont_);
    QPen framePen(QColor(255, 0, 0), 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    QPen checkPen(kDisagreementFrame, 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    int k = layout_.columns * scrollPosition();
    for (int row = 0; row <= layout_.rows && k < count; ++row) {
        for (int column = 0; column < layout_.columns && k < count; ++column, ++k) {
            const int x0 = kCellWidth * column;
            const int y0 = kCellHeight * row;
            painter.drawImage(x0 + 2, y0 + 2, thumbnails_[k]);
            if (inDisagreeingPair(state_.disagreeingPairs, k)) {
                // Inside the cell's edge, where the selection frame goes, so that both show.
                painter.setPen(checkPen);
                painter.setBrush(Qt::NoBrush);
                painter.drawRect(x0 + 5, y0 + 5, kCellWidth - 9, kCellHeight - 9);
            }
            const QString label = QString::number(k);
            const QRect box(x0 + 2, y0 + 2, metrics.horizontalAdvance(label), metrics.height());
            painter.fillRect(box, kLabelBackground);
            painter.setPen(kLabelText);
            painter.drawText(box, Qt::AlignLeft | Qt::AlignTop, label);
            if (isFramed(list, k)) {
                painter.setPen(framePen);
                painter.setBrush(Qt::NoBrush);
                const QPoint corners[] = {{x0 + 1, y0 + 1},
                                          {x0 + kCellWidth, y0 + 1},
                                          {x0 + kCellWidth, y0 + kCellHeight},
                                          {x0 + 1, y0 + kCellHeight}};
                painter.drawPolygon(corners, 4);
            }
        }
    }
}

void KeyframeStrip::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    const int k = stripHitTest(layout_, scrollPosition(), at.x(), at.y());
    KeyframeList& list = state_.keyframes;
    if (k < 0 || k >= list.keyframeCount()) return;
    dropHeldFrame();
    if (event->button() == Qt::LeftButton) {
        selectByClick(list, k, event->modifiers().testFlag(Qt::ShiftModifier));
        viewport()->update();
    } else if (event->button() == Qt::RightButton) {
        QMenu menu(this);
        QAction* selectAll = menu.addAction(QStringLiteral("Select All"));
        QAction* properties = menu.addAction(QStringLiteral("Properties"));
        menu.addAction(QStringLiteral("Cancel"));
        QAction* chosen = interaction_.popUp(menu, viewport()->mapToGlobal(at));
        if (chosen == selectAll) {
            list.selectionStart = 0;
            list.selectionEnd = list.keyframeCount() - 1;
            viewport()->update();
        } else if (chosen == properties) {
            list.propertiesKeyframe = k;
            if (showProperties) showProperties(k);
        }
    }
}

}  // namespace zoomreel::app
