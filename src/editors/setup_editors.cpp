#include "editors/setup_editors.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include <cmath>

#include "editors/dialog_fields.h"
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
