#pragma once

// "Speed Setup" (dialog 131) and "Color Setup" (dialog 132): the graph editors of the speed curve, the three 3D
// evolution curves and the three colour curves, with live preview, preview video, undo and suggested curves.

#include "editors/curve_editor.h"

class QLabel;
class QLineEdit;
class QRadioButton;

namespace zoomreel::app {

/// The speed curve, or the 3D evolution curve the 3D dialog asked for with one of the program's request flags
/// (which it clears when it closes). Save writes that curve's file; Cancel writes nothing.
class SpeedSetupDialog : public CurveEditor {
public:
    SpeedSetupDialog(QWidget* owner, AppState& state, Interaction& interaction);
    ~SpeedSetupDialog() override;

    const std::string& fileName() const { return fileName_; }

private:
    void pointerAt(float position) override;
    Status writeFiles() override;
    /// Asks how long the selection is to last (today's duration to start from), then replaces the speed curve
    /// over it by one that spends more images where there is more detail to follow.
    void suggest() override;
    const KeyPointCurve& timelineSpeed() const override;
    /// "Fit to beats": asks how many beats each keyframe is to last, showing the duration that gives, and
    /// replaces the speed over the selection by one that reaches every keyframe on its beat.
    void fitToBeats();

    std::string fileName_;
    bool evolution_ = false;
    KeyPointCurve movieSpeed_;  ///< "speed.qvs" as the movie walks it, while an evolution curve is edited
    QLabel* time_ = nullptr;
};

/// The colour divisor ("Iteration division"), colour offset ("Add color") and colour rotation ("Rotate") curves,
/// one shown at a time, and the minimum subtraction. Save writes the three curves and "SubIM.qvs".
class ColorSetupDialog : public CurveEditor {
public:
    ColorSetupDialog(QWidget* owner, AppState& state, Interaction& interaction);

private:
    void showMode(int mode);
    void undone(EditedCurve curve) override;
    Status writeFiles() override;
    /// Shows the colour divisor and replaces it over the selection by one that keeps the colour density of the
    /// selection's first keyframe.
    void suggest() override;
    /// "Color pulse": asks for the rotation of an average beat and replaces the colour rotation over the
    /// selection by one that pulses with the soundtrack's onsets.
    void colourPulse();
    const KeyPointCurve& timelineSpeed() const override;

    KeyPointCurve movieSpeed_;  ///< "speed.qvs" as the movie walks it, for the beat marks
    QRadioButton* modes_[3] = {nullptr, nullptr, nullptr};  ///< by mode: 0 add, 1 division, 2 rotate
    class QScrollBar* offsetBar_ = nullptr;
    QLineEdit* average_ = nullptr;
};

}  // namespace zoomreel::app
