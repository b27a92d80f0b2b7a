#pragma once

// "Accelerate or deccelerate the movie" (dialog 135): the speed curve over the selection scaled by one factor.

#include <QDialog>
#include <QString>

#include "app/app_state.h"
#include "app/interaction.h"
#include "settings/key_point_curve.h"

class QLineEdit;
class QPushButton;

namespace zoomreel::app {

/// Shows how long the selection lasts with the folder's "speed.qvs" at the video parameters' frame rate, and how
/// long it would last with the factor typed (1.00 at each opening). "OK" (and Return) divides the images per
/// keyframe of the points from selection start - 1 to selection end + 1 by the factor, writes "speed.qvs" and
/// closes with 1; a file that cannot be written is shown with its reason and the dialog stays open. A factor that
/// is not a number, not above 0, or that would take a speed beyond what a float holds, leaves OK disabled and the
/// new duration says why. "Cancel" (and Escape) closes with 2 and writes nothing. The curve lives with the
/// dialog only: the next editor or movie reads the file.
class AccelerateDialog : public QDialog {
public:
    AccelerateDialog(QWidget* owner, AppState& state, Interaction& interaction);

    void accept() override;
    void reject() override;

private:
    void factorTyped();
    /// Why the typed factor cannot scale the curve; an empty text, with `factor` set, when it can.
    QString refusal(double& factor) const;
    bool scaled(const KeyPoint& point) const;

    AppState& state_;
    Interaction& interaction_;
    KeyPointCurve speed_;
    int frames_ = 0;  ///< the selection's frames at the present speed
    int fps_ = 0;
    QLineEdit* factor_ = nullptr;
    QLineEdit* newDuration_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace zoomreel::app
