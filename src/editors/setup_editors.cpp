#include "editors/setup_editors.h"

#include <QButtonGroup>
#include <QDoubleSpinBox>
#include <QSpinBox>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

#include "editors/dialog_fields.h"
#include "settings/curve_suggestion.h"
#include "output/beat_fit.h"
#include "platform/text_scan.h"
#include "settings/render_settings.h"
#include "settings/settings_file.h"

namespace zoomreel::app {
namespace {

constexpr int kGraphTitle = 1023;
constexpr int kTime = 1024;
constexpr int kDivisionMode = 1016;
constexpr int kAddMode = 1017;
constexpr int kRotateMode = 1021;
constexpr int kSubtract = 1019;
constexpr int kAverage = 1020;
constexpr int kOffsetBar = 1022;
constexpr int kDurationField = 1000;
constexpr int kToday = 1001;
constexpr int kBeatsButton = 1026;
constexpr int kBeatsField = 1002;
constexpr int kBeatsDuration = 1003;
constexpr int kOk = 1;
constexpr int kCancel = 2;

/// What the speed editor edits: the speed curve, or the evolution curve a request flag names.
struct SpeedMode {
    const char* caption;
    const char* fileName;
    const char* graphTitle;
    double base;
    float defaultValue;
    bool evolution;
};

SpeedMode speedModeOf(const AppState& state) {
    if (state.zScaleEvolutionRequest != 0) {
        return {"Z Scale evolution", "EvEchZ3D.qvs", "Z Scale relative to base", 10.0, 1.0f, true};
    }
    if (state.maxIterEvolutionRequest != 0) {
        return {"Maximum Iteration evolution", "EvMaxIter3D.qvs", "Max Iter. relative to base", 10.0, 1.0f, true};
    }
    if (state.vertShiftEvolutionRequest != 0) {
        return {"Vertical Shift evolution", "EvVertDec3D.qvs", "Vertical Shift relative to base", 10.0, 1.0f, true};
    }
    return {"Speed Setup", "speed.qvs", "Speed Graph (Images number / Key Frame)", 40.0, kEditorSpeedDefault, false};
}

EditedCurve curveOfMode(int mode) {
    return mode == 0 ? EditedCurve::ColorAdd : mode == 2 ? EditedCurve::ColorRotate : EditedCurve::ColorDivisor;
}

GraphAxis axisOfMode(int mode) { return mode == 0 ? GraphAxis::Add : mode == 2 ? GraphAxis::Rotate : GraphAxis::Division; }

/// The colour curves every editor loads, each with its default.
void loadColourCurves(const KeyframeList& list, PreviewSetup& setup) {
    loadCurveWithDefault(settingsFilePath(list, "coloradd.qvs"), setup.colorAdd, 0.0f);
    loadCurveWithDefault(settingsFilePath(list, "colorrot.qvs"), setup.colorRotate, 0.0f);
    loadCurveWithDefault(settingsFilePath(list, "colordiv.qvs"), setup.colorDivisor,
                         curveDefault(CurveKind::ColorDivisor, list));
}

/// "Suggest Speed": the duration the selection is to last, typed over today's; nothing when cancelled.
std::optional<QString> askDuration(QWidget* owner, Interaction& interaction, const QString& today) {
    QDialog dialog(owner);
    const DialogLayout layout(dialog, QStringLiteral("Suggest Speed"), 250, 250, 186, 58);
    layout.place(new QLabel(QStringLiteral("Duration of the selection:"), &dialog), 0, 7, 9, 88, 8);
    auto* field = DialogLayout::tallEnough(layout.place(new QLineEdit(today, &dialog), kDurationField, 97, 7, 82, 12));
    field->setMaxLength(32);
    layout.place(new QLabel(QStringLiteral("Today: ") + today + QStringLiteral("   (MM:SS)"), &dialog), kToday, 7,
                 23, 172, 8);
    QPushButton* ok = placeButton(layout, dialog, kOk, QStringLiteral("OK"), 75, 38);
    ok->setDefault(true);
    QPushButton* cancel = placeButton(layout, dialog, kCancel, QStringLiteral("Cancel"), 129, 38);
    QObject::connect(ok, &QPushButton::clicked, &dialog, [&] { dialog.done(kOk); });
    QObject::connect(cancel, &QPushButton::clicked, &dialog, [&] { dialog.done(kCancel); });
    field->setFocus();
    field->selectAll();
    if (interaction.runDialog(dialog) != kOk) return std::nullopt;
    return field->text().trimmed();
}

/// The small dialog of "Fit to beats" and "Color pulse": one field, a line under it that `describe` fills in from
/// the field's value as it changes, OK (Return) and Cancel (Escape). True for OK. The field, owned by the caller,
/// outlives the dialog.
template <typename Field>
bool askNumber(QWidget* owner, Interaction& interaction, const QString& title, const QString& label, Field* field,
               const std::function<QString()>& describe) {
    QDialog dialog(owner);
    const DialogLayout layout(dialog, title, 250, 250, 200, 58);
    layout.place(new QLabel(label, &dialog), 0, 7, 9, 100, 8);
    field->setParent(&dialog);
    DialogLayout::tallEnough(layout.place(field, kBeatsField, 110, 7, 60, 12));
    auto* outcome = layout.place(new QLabel(&dialog), kBeatsDuration, 7, 23, 186, 8);
    auto update = [&] { outcome->setText(describe()); };
    if constexpr (std::is_same_v<Field, QSpinBox>) {
        QObject::connect(field, &QSpinBox::valueChanged, &dialog, update);
    } else {
        QObject::connect(field, &QDoubleSpinBox::valueChanged, &dialog, update);
    }
    update();
    QPushButton* ok = placeButton(layout, dialog, kOk, QStringLiteral("OK"), 89, 38);
    ok->setDefault(true);
    QPushButton* cancel = placeButton(layout, dialog, kCancel, QStringLiteral("Cancel"), 143, 38);
    QObject::connect(ok, &QPushButton::clicked, &dialog, [&] { dialog.done(kOk); });
    QObject::connect(cancel, &QPushButton::clicked, &dialog, [&] { dialog.done(kCancel); });
    field->setFocus();
    field->selectAll();
    const bool accepted = interaction.runDialog(dialog) == kOk;
    // The caller reads the field after the dialog is gone: it stays the caller's, not the dialog's child.
    field->setParent(nullptr);
    return accepted;
}

/// The beat button beside "Suggest".
QPushButton* placeBeatsButton(const DialogLayout& layout, QDialog& dialog, const QString& text) {
    auto* button = layout.place(new QPushButton(text, &dialog), kBeatsButton, 194, 346, 52, 14);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

SpeedSetupDialog::SpeedSetupDialog(QWidget* owner, AppState& state, Interaction& interaction)
    : CurveEditor(owner, state, interaction, QString::fromLatin1(speedModeOf(state).caption), 705,
                  state.editors.speedX10) {
    const SpeedMode mode = speedModeOf(state);
    fileName_ = mode.fileName;
    view_.base = mode.base;
    layout_.place(new QLabel(QString::fromLatin1(mode.graphTitle), this), kGraphTitle, 10, 334, 171, 8);
    layout_.place(new QLabel(QStringLiteral("Time / Sequence Length :"), this), 0, 319, 17, 87, 8);
    // The label's rectangle reaches a unit into the readout's; the readout starts after it.
    time_ = layout_.place(new QLabel(QStringLiteral(" / "), this), kTime, 406, 18, 142, 8);
    // No preview video of an evolution curve: the video would walk its factors as if they were speeds.
    previewButton_->setEnabled(!mode.evolution);
    // An evolution curve holds factors, not images per keyframe: there is no duration for it to fit.
    suggestButton_->setEnabled(!mode.evolution);
    QPushButton* beats = placeBeatsButton(layout_, *this, QStringLiteral("Fit to beats"));
    beats->setEnabled(!mode.evolution);
    connect(beats, &QPushButton::clicked, this, &SpeedSetupDialog::fitToBeats);
    evolution_ = mode.evolution;
    // The movie's own: without "speed.qvs" it runs at its default, not at the editor's.
    if (evolution_) movieSpeed_ = movieSpeedCurve(state_.keyframes, false);
    setEdited(EditedCurve::Speed, GraphAxis::Speed);
    open([&](PreviewSetup& setup) {
        loadCurveWithDefault(settingsFilePath(state_.keyframes, fileName_), setup.speed, mode.defaultValue);
        loadColourCurves(state_.keyframes, setup);
    });
}

SpeedSetupDialog::~SpeedSetupDialog() {
    state_.zScaleEvolutionRequest = 0;
    state_.maxIterEvolutionRequest = 0;
    state_.vertShiftEvolutionRequest = 0;
}

const KeyPointCurve& SpeedSetupDialog::timelineSpeed() const { return evolution_ ? movieSpeed_ : editedCurve(); }

void SpeedSetupDialog::fitToBeats() {
    const KeyframeList& list = state_.keyframes;
    if (refused(checkSuggestionSelection(list.selectionStart, list.selectionEnd))) return;
    const BeatAnalysis* analysis = soundtrackBeats();
    if (analysis == nullptr) return;
    const int fps = std::max(1, state_.video().fps);
    BeatFitRequest request;
    request.limits = selectionWalk();
    request.fps = fps;
    request.speed = editedCurve();
    request.beats = movieBeats();
    const int steps = list.selectionEnd - list.selectionStart;
    std::optional<std::vector<int>> detail;  // "auto", measured once it is first asked for
    auto fitWith = [&](int each) -> CurveSuggestion {
        if (each > 0) {
            request.beatsPerKeyframe.assign(static_cast<std::size_t>(steps), each);
        } else {
            if (!detail) {
                const auto measures = selectionMeasures();
                if (!measures) return {Status::failure("The keyframes' detail cannot be measured."), {}, 0};
                SpeedRequest speed;
                speed.selectionStart = list.selectionStart;
                speed.selectionEnd = list.selectionEnd;
                speed.speed = editedCurve();
                speed.colorDivisor = source_.current().colorDivisor;
                speed.colorSensitivity = source_.current().colorSensitivity;
                const WalkLimits walk = request.limits;
                std::vector<int> shares;
                const Status s = beatsFollowingKeyframes(
                    *measures, speed, [&](const KeyPointCurve& c) { return countMovieFrames(c, walk); },
                    request.beats, fps, shares);
                if (!s) return {s, {}, 0};
                detail = shares;
            }
            request.beatsPerKeyframe = *detail;
        }
        return fitSpeedToBeats(request);
    };
    const auto owned = std::make_unique<QSpinBox>();
    QSpinBox* field = owned.get();
    field->setRange(0, 64);
    field->setSpecialValueText(QStringLiteral("auto"));
    field->setValue(state_.editors.beatsPerKeyframe);
    const auto describe = [&]() -> QString {
        const CurveSuggestion fit = fitWith(field->value());
        if (!fit.status) return QString::fromStdString(fit.status.message);
        return QString::asprintf("%.1f beats per minute: ", analysis->tempo) + durationText(fit.frames, fps) +
               QString::asprintf(" (%d frames)", fit.frames);
    };
    if (!askNumber(this, interaction_, QStringLiteral("Fit to beats"), QStringLiteral("Beats per keyframe:"), field,
                   describe)) {
        return;
    }
    state_.editors.beatsPerKeyframe = field->value();
    const CurveSuggestion fit = fitWith(field->value());
    if (refused(fit.status)) return;
    replaceEditedCurve(fit.curve);
}

void SpeedSetupDialog::pointerAt(float position) {
    const KeyframeList& list = state_.keyframes;
    const SpeedFrameCount frames =
        countSpeedFrames(editedCurve(), list.keyframeCount(), list.selectionStart, list.selectionEnd, position);
    const int fps = state_.video().fps;
    time_->setText(durationText(frames.upToLimit, fps) + QStringLiteral(" / ") + durationText(frames.total, fps));
}

Status SpeedSetupDialog::writeFiles() {
    return saveCurve(settingsFilePath(state_.keyframes, fileName_), editedCurve());
}

void SpeedSetupDialog::suggest() {
    const KeyframeList& list = state_.keyframes;
    const int start = list.selectionStart;
    const int end = list.selectionEnd;
    if (refused(checkSuggestionSelection(start, end))) return;
    const FrameCounter countFrames = [&](const KeyPointCurve& speed) {
        return countSpeedFrames(speed, list.keyframeCount(), start, end).total;
    };
    const int fps = std::max(1, state_.video().fps);
    const auto typed = askDuration(this, interaction_, durationText(countFrames(editedCurve()), fps));
    if (!typed) return;
    const auto seconds = parseDuration(typed->toStdString());
    if (!seconds) {
        refused(Status::failure("Cannot read a duration MM:SS from \"" + typed->toStdString() + "\"."));
        return;
    }
    const PreviewSetup& setup = source_.current();
    SpeedRequest request;
    request.selectionStart = start;
    request.selectionEnd = end;
    request.frames = framesOfDuration(*seconds, fps);
    request.speed = editedCurve();
    request.colorDivisor = setup.colorDivisor;
    request.colorSensitivity = setup.colorSensitivity;
    // Refused before any keyframe is read.
    if (refused(checkSpeedFrames(request, countFrames))) return;
    const auto measures = selectionMeasures();
    if (!measures) return;
    const CurveSuggestion speed = suggestSpeed(*measures, request, countFrames);
    if (refused(speed.status)) return;
    replaceEditedCurve(speed.curve);
}

ColorSetupDialog::ColorSetupDialog(QWidget* owner, AppState& state, Interaction& interaction)
    : CurveEditor(owner, state, interaction, QStringLiteral("Color Setup"), 709, state.editors.colorX10) {
    auto* subtraction =
        layout_.place(new QGroupBox(QStringLiteral("Substract minimum iteration"), this), 0, 341, 7, 102, 37);
    auto* subtract = new QCheckBox(QStringLiteral("Substract"), subtraction);
    subtract->setObjectName(controlName(kSubtract));
    subtract->setGeometry(layout_.pixels(347 - 341, 16 - 7, 60, 10));
    DialogLayout::tallEnough(subtract);
    auto* averageLabel = new QLabel(QStringLiteral("Average :"), subtraction);
    averageLabel->setGeometry(layout_.pixels(347 - 341, 28 - 7, 33, 8));
    average_ = new QLineEdit(subtraction);
    average_->setObjectName(controlName(kAverage));
    average_->setGeometry(layout_.pixels(383 - 341, 26 - 7, 33, 12));
    average_->setMaxLength(259);
    DialogLayout::tallEnough(average_, true);

    offsetBar_ = layout_.place(new QScrollBar(Qt::Vertical, this), kOffsetBar, 697, 61, 10, 260);
    offsetBar_->setRange(-100, 100);
    offsetBar_->setSingleStep(1);
    offsetBar_->setPageStep(5);
    layout_.place(new QLabel(QStringLiteral("Color Parameters Graph"), this), 0, 10, 334, 171, 8);
    connect(placeBeatsButton(layout_, *this, QStringLiteral("Color pulse")), &QPushButton::clicked, this,
            &ColorSetupDialog::colourPulse);

    auto* group = new QButtonGroup(this);
    const struct {
        int mode, id;
        const char* text;
        int y, width;
    } radios[] = {{1, kDivisionMode, "Iteration division", 12, 69},
                  {0, kAddMode, "Add color", 26, 46},
                  {2, kRotateMode, "Rotate", 40, 38}};
    for (const auto& radio : radios) {
        modes_[radio.mode] = DialogLayout::tallEnough(layout_.place(
            new QRadioButton(QString::fromLatin1(radio.text), this), radio.id, 238, radio.y, radio.width, 10));
        group->addButton(modes_[radio.mode], radio.mode);
    }

    // The beat marks are where the movie reaches the beats: at its own default speed when there is no file.
    movieSpeed_ = movieSpeedCurve(state_.keyframes, false);
    open([&](PreviewSetup& setup) {
        loadColourCurves(state_.keyframes, setup);
        loadCurveWithDefault(settingsFilePath(state_.keyframes, "speed.qvs"), setup.speed, kEditorSpeedDefault);
    });
    subtract->setChecked(state_.subtractMinimum.subtract != 0);
    average_->setText(QString::asprintf("%d", state_.subtractMinimum.averageFrames));
    view_.offset = state_.editors.colorOffset;
    offsetBar_->setValue(view_.offset);
    showMode(state_.editors.colorMode);

    connect(group, &QButtonGroup::idClicked, this, &ColorSetupDialog::showMode);
    connect(offsetBar_, &QScrollBar::valueChanged, this, [this](int offset) {
        view_.offset = state_.editors.colorOffset = offset;
        graph()->update();
    });
    // Applied at once, to the preview and to the next movie; Cancel does not take it back.
    connect(subtract, &QCheckBox::toggled, this, [this](bool on) {
        state_.subtractMinimum.subtract = on ? 1 : 0;
        source_.edit([on](PreviewSetup& setup) { setup.subtractMinimum = on; });
        refresh();
    });
}

void ColorSetupDialog::showMode(int mode) {
    state_.editors.colorMode = mode;
    modes_[mode]->setChecked(true);
    offsetBar_->setVisible(mode == 0);
    setEdited(curveOfMode(mode), axisOfMode(mode));
}

void ColorSetupDialog::undone(EditedCurve curve) {
    showMode(curve == EditedCurve::ColorAdd ? 0 : curve == EditedCurve::ColorRotate ? 2 : 1);
}

void ColorSetupDialog::suggest() {
    const KeyframeList& list = state_.keyframes;
    if (refused(checkSuggestionSelection(list.selectionStart, list.selectionEnd))) return;
    showMode(1);
    const auto measures = selectionMeasures();
    if (!measures) return;
    const CurveSuggestion divisor =
        suggestColorDivisor(*measures, list.selectionStart, list.selectionEnd, editedCurve());
    if (refused(divisor.status)) return;
    replaceEditedCurve(divisor.curve);
}

const KeyPointCurve& ColorSetupDialog::timelineSpeed() const { return movieSpeed_; }

void ColorSetupDialog::colourPulse() {
    const KeyframeList& list = state_.keyframes;
    if (refused(checkSuggestionSelection(list.selectionStart, list.selectionEnd))) return;
    const BeatAnalysis* analysis = soundtrackBeats();
    if (analysis == nullptr) return;
    showMode(2);
    const BeatTimeline timeline(timelineSpeed(), selectionWalk(), std::max(1, state_.video().fps));
    const auto owned = std::make_unique<QDoubleSpinBox>();
    QDoubleSpinBox* field = owned.get();
    field->setRange(-10, 10);
    field->setDecimals(3);
    field->setSingleStep(0.05);
    field->setValue(state_.editors.colourPulse);
    const double start = state_.video().soundtrackStart;
    auto pulseWith = [&] {
        return zoomreel::colourPulse(editedCurve(), timeline, *analysis, start, field->value(), list.selectionStart,
                                     list.selectionEnd);
    };
    const auto describe = [&]() -> QString {
        const CurveSuggestion pulse = pulseWith();
        if (!pulse.status) return QString::fromStdString(pulse.status.message);
        return QString::asprintf("%.1f beats per minute, %d beats in the selection", analysis->tempo,
                                 static_cast<int>(beatPositions(timeline, movieBeats()).size()));
    };
    if (!askNumber(this, interaction_, QStringLiteral("Color pulse"), QStringLiteral("Rotation of a beat:"), field,
                   describe)) {
        return;
    }
    state_.editors.colourPulse = field->value();
    const CurveSuggestion pulse = pulseWith();
    if (refused(pulse.status)) return;
    replaceEditedCurve(pulse.curve);
}

Status ColorSetupDialog::writeFiles() {
    const KeyframeList& list = state_.keyframes;
    scanNumber(average_->text().toStdString(), state_.subtractMinimum.averageFrames);
    const PreviewSetup& setup = source_.current();
    const struct {
        const char* name;
        const KeyPointCurve& curve;
    } files[] = {{"colordiv.qvs", setup.colorDivisor}, {"coloradd.qvs", setup.colorAdd}, {"colorrot.qvs", setup.colorRotate}};
    for (const auto& file : files) {
        if (Status s = saveCurve(settingsFilePath(list, file.name), file.curve); !s) return s;
    }
    return saveSubtractMinimum(settingsFilePath(list, kSubtractMinimumFileName), state_.subtractMinimum);
}

}  // namespace zoomreel::app
