#include "editors/curve_editor.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSlider>

#include <algorithm>
#include <cmath>

#include "app/keyframe_strip.h"
#include "output/beat_timeline.h"
#include "settings/render_settings.h"
#include "settings/settings_file.h"

namespace zoomreel::app {
namespace {

constexpr int kThumbnail1 = 1009;
constexpr int kThumbnail2 = 1010;
constexpr int kGraph = 1011;
constexpr int kScrollBar = 1012;
constexpr int kZoomBar = 1013;
constexpr int kReadout = 1014;
constexpr int kX10 = 1018;
constexpr int kSuggestButton = 1025;
constexpr int kInitialZoom = 10;

}  // namespace

KeyPointCurve& curveOf(PreviewSetup& setup, EditedCurve curve) {
    switch (curve) {
        case EditedCurve::Speed: return setup.speed;
        case EditedCurve::ColorDivisor: return setup.colorDivisor;
        case EditedCurve::ColorAdd: return setup.colorAdd;
        case EditedCurve::ColorRotate: return setup.colorRotate;
    }
    return setup.speed;
}

const KeyPointCurve& curveOf(const PreviewSetup& setup, EditedCurve curve) {
    return curveOf(const_cast<PreviewSetup&>(setup), curve);
}

CurveEditor::CurveEditor(QWidget* owner, AppState& state, Interaction& interaction, const QString& title,
                         int widthUnits, bool& x10Memory)
    : QDialog(owner),
      state_(state),
      interaction_(interaction),
      layout_(*this, title, 0, 50, widthUnits, 365),
      x10Memory_(x10Memory),
      labelFont_(labelFont()) {
    auto button = [&](int id, const QString& text, int x) {
        auto* pushButton = layout_.place(new QPushButton(text, this), id, x, 346, 50, 14);
        pushButton->setAutoDefault(false);
        return pushButton;
    };
    QPushButton* save = button(kSaveButton, QStringLiteral("Save"), 585);
    save->setDefault(true);
    connect(save, &QPushButton::clicked, this, &CurveEditor::accept);
    connect(button(kCancelButton, QStringLiteral("Cancel"), 639), &QPushButton::clicked, this, &CurveEditor::reject);
    previewButton_ = button(kPreviewButton, QStringLiteral("Preview"), 490);
    suggestButton_ = button(kSuggestButton, QStringLiteral("Suggest"), 250);
    connect(suggestButton_, &QPushButton::clicked, this, [this] { suggest(); });
    connect(previewButton_, &QPushButton::clicked, this, [this] {
        if (preview_) preview_->previewButton();
    });

    for (int i = 0; i < 2; ++i) {
        thumbnails_[i] = layout_.place(new QLabel(this), i == 0 ? kThumbnail1 : kThumbnail2, i == 0 ? 7 : 98, 7, 88, 47);
        thumbnails_[i]->setFrameStyle(QFrame::Box | QFrame::Plain);
        thumbnails_[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }

    graph_ = layout_.place(new GraphControl(this), kGraph, 8, 61, 689, 262);
    const QRect graphBox = graph_->geometry();
    view_.rect = {graphBox.left(), graphBox.top(), graphBox.left() + graphBox.width(), graphBox.top() + graphBox.height()};
    graph_->paint = [this](QPainter& painter) { paintGraph(painter, view_, editedCurve(), labelFont_, beatMarks_); };
    graph_->mouse = [this](QMouseEvent* event, QPoint position) { mouse(event, position); };
    graph_->left = [this] { readout_->hide(); };

    scrollBar_ = layout_.place(new QScrollBar(Qt::Horizontal, this), kScrollBar, 8, 322, 689, 11);
    // The graph's rectangle reaches a unit into the bar's; the bar starts below it instead of covering its edge.
    scrollBar_->move(scrollBar_->x(), std::max(scrollBar_->y(), graphBox.bottom() + 1));
    scrollBar_->setSingleStep(1);
    scrollBar_->setPageStep(5);
    connect(scrollBar_, &QScrollBar::valueChanged, this, &CurveEditor::scrolled);
    layout_.place(new QLabel(QStringLiteral("Zoom:"), this), 0, 321, 337, 21, 8);
    zoomBar_ = layout_.place(new QSlider(Qt::Horizontal, this), kZoomBar, 343, 334, 134, 15);
    zoomBar_->setRange(1, 21);
    zoomBar_->setValue(kInitialZoom);
    connect(zoomBar_, &QSlider::valueChanged, this, &CurveEditor::zoomed);

    auto* help = layout_.place(new QGroupBox(QStringLiteral("Key Points Control"), this), 0, 576, 5, 117, 51);
    const struct {
        const char* text;
        int y, width, height;
    } helpLines[] = {{"Move:   Click+Drag", 15, 66, 8},
                     {"Insert:  Shift+Click", 24, 66, 8},
                     {"Delete:  Ctrl+Click", 34, 66, 8},
                     {"Copy last value: Shift+Right Click", 43, 110, 10}};
    for (const auto& line : helpLines) {
        auto* text = new QLabel(QString::fromLatin1(line.text), help);
        text->setGeometry(layout_.pixels(581 - 576, line.y - 5, line.width, line.height));
    }

    readout_ = layout_.place(new QLabel(QStringLiteral("123.00, 156.00"), this), kReadout, 237, 17, 64, 10);
    readout_->setAttribute(Qt::WA_TransparentForMouseEvents);
    readout_->hide();
    x10_ = DialogLayout::tallEnough(
        layout_.place(new QCheckBox(QStringLiteral("x10 vertical zoom"), this), kX10, 497, 49, 73, 10));
    connect(x10_, &QCheckBox::toggled, this, [this](bool on) {
        view_.x10 = x10Memory_ = on;
        graph_->update();
    });

    auto* undoKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this);
    connect(undoKey, &QShortcut::activated, this, &CurveEditor::undo);
    auto* redoKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this);
    connect(redoKey, &QShortcut::activated, this, &CurveEditor::redo);
    setMouseTracking(true);
}

CurveEditor::~CurveEditor() = default;

void CurveEditor::open(const std::function<void(PreviewSetup& setup)>& loadCurves) {
    KeyframeList& list = state_.keyframes;
    auto folderFile = [&](std::string_view name) { return settingsFilePath(list, name); };
    loadPalette(folderFile(kPaletteFileName), state_.palette);
    if (state_.palette.usePalette != 0) expandPalette(state_.palette, state_.colorTable);
    loadSubtractMinimum(folderFile(kSubtractMinimumFileName), state_.subtractMinimum);
    loadRelief(folderFile(kReliefFileName), state_.relief);
    load3D(folderFile(k3DFileName), state_.projection);
    source_.edit([&](PreviewSetup& setup) {
        loadCurves(setup);
        setup.usePalette = state_.palette.usePalette != 0;
        setup.colorTable = state_.colorTable;
        setup.colorSensitivity = state_.palette.colorSensitivity;
        setup.subtractMinimum = state_.subtractMinimum.subtract != 0;
    });

    view_.x10 = x10Memory_;
    x10_->setChecked(x10Memory_);
    view_.selectionStart = list.selectionStart;
    view_.selectionEnd = list.selectionEnd;
    view_.zoom = kInitialZoom;
    view_.scroll = 0;
    scrollBar_->setRange(0, view_.scrollLimit());
    scrollBar_->setValue(0);

    analyseSoundtrack();
    updateBeatMarks();
    preview_ = std::make_unique<PreviewHost>(*this, state_, interaction_, source_);
    preview_->startFramePreview();
}

void CurveEditor::analyseSoundtrack() {
    const VideoParameters video = state_.video();
    if (video.soundtrack.empty()) {
        beatsProblem_ = "There is no soundtrack in the video parameters (Video > Video Parameters...) to take the "
                        "beats from.";
        return;
    }
    // Once per soundtrack: the cache beside the program's settings keeps it for the next time.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    BeatAnalysis analysis;
    const Status found = zoomreel::soundtrackBeats(video.soundtrack, state_.workingDirectory, analysis);
    QApplication::restoreOverrideCursor();
    if (found) {
        beats_ = std::move(analysis);
    } else {
        beatsProblem_ = found.message;
    }
}

const BeatAnalysis* CurveEditor::soundtrackBeats() {
    if (beats_) return &*beats_;
    refused(Status::failure(beatsProblem_));
    return nullptr;
}

std::vector<double> CurveEditor::movieBeats() const {
    return beats_ ? beatsFrom(*beats_, state_.video().soundtrackStart) : std::vector<double>{};
}

WalkLimits CurveEditor::selectionWalk() const {
    const KeyframeList& list = state_.keyframes;
    return {list.selectionStart, list.selectionEnd, list.keyframeCount(), false};
}

void CurveEditor::updateBeatMarks() {
    beatMarks_.clear();
    const std::vector<double> beats = movieBeats();
    if (!beats.empty() && !timelineSpeed().empty()) {
        const int fps = std::max(1, state_.video().fps);
        // Up to the frame after the last beat: the marks need no more of a long movie.
        const BeatTimeline timeline(timelineSpeed(), selectionWalk(), fps,
                                    static_cast<std::size_t>(beats.back() * fps) + 2);
        beatMarks_ = beatPositions(timeline, beats);
    }
    graph_->update();
}

void CurveEditor::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The preview window goes beside the editor once the editor has its place on the screen: after the editor's
    // window is mapped, so that the window manager stacks the preview above it.
    QMetaObject::invokeMethod(
        this, [this] {
            if (preview_) preview_->open();
        },
        Qt::QueuedConnection);
}

void CurveEditor::setEdited(EditedCurve curve, GraphAxis axis) {
    edited_ = curve;
    view_.axis = axis;
    graph_->update();
}

void CurveEditor::refresh() {
    updateBeatMarks();
    if (preview_ && lastPosition_ >= 0) preview_->requestPosition(lastPosition_);
}

void CurveEditor::mouse(QMouseEvent* event, QPoint position) {
    switch (event->type()) {
        case QEvent::MouseMove: moved(position, event->modifiers()); break;
        case QEvent::MouseButtonPress: pressed(event, position); break;
        case QEvent::MouseButtonRelease:
            if (event->button() == Qt::LeftButton) released();
            break;
        default: break;
    }
}

void CurveEditor::mouseMoveEvent(QMouseEvent*) { readout_->hide(); }

void CurveEditor::moved(QPoint position, Qt::KeyboardModifiers modifiers) {
    if (!view_.contains(position)) {
        readout_->hide();
        return;
    }
    const float p = view_.positionAt(position.x());
    const float y = view_.valueAt(position.y());
    readout_->setText(QString::asprintf("%5.2f, %6.3f", static_cast<double>(p), static_cast<double>(y)));
    readout_->move(position.x() - readout_->width() / 2, position.y() - readout_->height() - 2);
    readout_->show();
    readout_->raise();
    if (dragged_ >= 0) {
        // Onto a beat mark near the mouse, unless Alt is or was held for this drag.
        const bool snaps = dragSnaps_ && !modifiers.testFlag(Qt::AltModifier);
        const std::optional<float> mark = snaps ? view_.snapToMark(position.x(), beatMarks_) : std::nullopt;
        source_.edit([&](PreviewSetup& setup) { movePoint(curveOf(setup, edited_), dragged_, mark.value_or(p), y); });
        if (preview_) preview_->requestPoint(static_cast<PreviewCurve>(static_cast<int>(edited_) + 1), dragged_);
        if (edited_ == EditedCurve::Speed) updateBeatMarks();
        graph_->update();
    } else {
        pointerAt(p);
        if (preview_) preview_->requestPosition(p);
        lastPosition_ = p;
    }
    const int k = std::max(0, static_cast<int>(p));
    if (k != lastThumbnailKeyframe_) {
        lastThumbnailKeyframe_ = k;
        showThumbnails(k);
    }
}

void CurveEditor::pressed(QMouseEvent* event, QPoint position) {
    if (!view_.contains(position)) return;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    const bool control = modifiers.testFlag(Qt::ControlModifier);
    const float p = view_.positionAt(position.x());
    const float y = view_.valueAt(position.y());
    if (event->button() == Qt::RightButton) {
        // "Copy last value": a point with the value of the point that starts the segment.
        if (!shift || control || editedCurve().empty()) return;
        const float value = editedCurve().points[findSegment(editedCurve(), p + 0.55f / static_cast<float>(view_.zoom))].y;
        changeCurve([&](KeyPointCurve& curve) { insertPoint(curve, p, value); });
        return;
    }
    if (event->button() != Qt::LeftButton || (shift && control)) return;
    if (shift) {
        changeCurve([&](KeyPointCurve& curve) { insertPoint(curve, p, y); });
        return;
    }
    const int hit = view_.hitPoint(editedCurve(), p, y);
    if (hit < 0) return;
    if (control) {
        // The curve keeps one point at least: every reader of it needs one.
        if (editedCurve().count() > 1) changeCurve([&](KeyPointCurve& curve) { removePoint(curve, hit); });
        return;
    }
    dragged_ = hit;
    dragSnaps_ = !modifiers.testFlag(Qt::AltModifier);
    dragBefore_ = editedCurve();
}

void CurveEditor::released() {
    if (dragged_ < 0) return;
    dragged_ = -1;
    if (editedCurve().points != dragBefore_.points) {
        undoSteps_.push_back({edited_, std::move(dragBefore_), editedCurve()});
        redoSteps_.clear();
    }
    dragBefore_ = {};
}

void CurveEditor::changeCurve(const std::function<void(KeyPointCurve& curve)>& change) {
    Step step{edited_, editedCurve(), {}};
    source_.edit([&](PreviewSetup& setup) {
        change(curveOf(setup, edited_));
        step.after = curveOf(setup, edited_);
    });
    if (step.after.points != step.before.points) {
        undoSteps_.push_back(std::move(step));
        redoSteps_.clear();
    }
    refresh();
}

void CurveEditor::undo() { restore(false); }
void CurveEditor::redo() { restore(true); }

void CurveEditor::restore(bool redoing) {
    std::vector<Step>& from = redoing ? redoSteps_ : undoSteps_;
    std::vector<Step>& to = redoing ? undoSteps_ : redoSteps_;
    if (from.empty() || dragged_ >= 0) return;
    Step step = std::move(from.back());
    from.pop_back();
    source_.edit([&](PreviewSetup& setup) { curveOf(setup, step.curve) = redoing ? step.after : step.before; });
    if (step.curve != edited_) undone(step.curve);
    to.push_back(std::move(step));
    refresh();
}

bool CurveEditor::refused(const Status& status) {
    if (status) return false;
    interaction_.message(this, kCaption, QString::fromStdString(status.message), BoxIcon::Warning, BoxButtons::Ok);
    return true;
}

std::optional<std::vector<KeyframeMeasures>> CurveEditor::selectionMeasures() {
    const KeyframeList& list = state_.keyframes;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const MeasuresOutcome outcome = keyframeMeasures(list, list.selectionStart, list.selectionEnd);
    QApplication::restoreOverrideCursor();
    // Measures that could not be kept are as good; they are taken again next time.
    if (refused(outcome.status)) return std::nullopt;
    return outcome.measures;
}

void CurveEditor::replaceEditedCurve(const KeyPointCurve& replacement) {
    changeCurve([&](KeyPointCurve& curve) { curve = replacement; });
    if (preview_ && lastPosition_ < 0) preview_->requestPosition(static_cast<float>(view_.selectionStart));
}

void CurveEditor::scrolled(int scroll) {
    view_.scroll = scroll;
    showThumbnails(view_.selectionStart + scroll);
    graph_->update();
}

void CurveEditor::zoomed(int zoom) {
    view_.zoom = zoom;
    const int limit = view_.scrollLimit();
    view_.scroll = std::min(view_.scroll, limit);
    const QSignalBlocker quiet(scrollBar_);
    scrollBar_->setRange(0, limit);
    scrollBar_->setValue(view_.scroll);
    scrolled(view_.scroll);
}

void CurveEditor::showThumbnails(int first) {
    const KeyframeList& list = state_.keyframes;
    const int count = static_cast<int>(list.summaries.size());
    if (count == 0) return;
    const int a = std::clamp(first, 0, count - 1);
    const int b = std::min(a + 1, count - 1);
    thumbnails_[0]->setPixmap(QPixmap::fromImage(imageOf(list.summaries[a].thumbnail)));
    thumbnails_[1]->setPixmap(QPixmap::fromImage(imageOf(list.summaries[b].thumbnail)));
}

void CurveEditor::accept() {
    if (!preview_ || preview_->videoRunning()) return;
    preview_->stopFramePreview();
    if (Status written = writeFiles(); !written) {
        interaction_.message(this, kCaption, QString::fromStdString(written.message), BoxIcon::Error, BoxButtons::Ok);
        preview_->startFramePreview();
        return;
    }
    closeWith(kSaveButton);
}

void CurveEditor::reject() {
    if (preview_ && preview_->videoRunning()) return;
    closeWith(kCancelButton);
}

void CurveEditor::closeWith(int result) {
    // The threads stop and the preview window goes with the editor; the curves are read afresh next time.
    preview_.reset();
    done(result);
}

}  // namespace zoomreel::app
