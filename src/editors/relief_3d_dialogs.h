#pragma once

// "Relief" (dialog 137) and "3D" (dialog 138): the relief shading and 3D projection settings, each read from its
// file as the dialog opens and written on "OK".

#include <QDialog>

#include <vector>

#include "app/app_state.h"
#include "app/interaction.h"

class QAbstractButton;
class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace zoomreel::app {

/// Edits the program's relief settings after reading "Relief.qvs". "OK" (and Return) takes every control into the
/// record (a field that is not a number keeps its value; one left as shown keeps its exact value), writes
/// "Relief.qvs" and closes with 1; a file that cannot be written is shown with its reason, the dialog stays open
/// and the record keeps its values. "Annuler" (and Escape) closes with 2, changing nothing. Before any folder has
/// been chosen there is no file: the record is edited in memory only.
class ReliefDialog : public QDialog {
public:
    ReliefDialog(QWidget* owner, AppState& state, Interaction& interaction);

    void accept() override;
    void reject() override;

private:
    AppState& state_;
    Interaction& interaction_;
    std::vector<std::pair<QLineEdit*, double ReliefSettings::*>> numbers_;
    std::vector<std::pair<QCheckBox*, std::int32_t ReliefSettings::*>> flags_;
    QRadioButton* none_ = nullptr;
    QRadioButton* wrapToZero_ = nullptr;
};

/// Edits the program's 3D settings after reading "3D.qvs", as ReliefDialog does for the relief; the angle is shown
/// and typed in degrees. Each "Evolution..." button opens the speed editor on its 3D evolution curve, or says that
/// keyframes must be selected first; the dialog stays open with what was typed in it.
class Projection3DDialog : public QDialog {
public:
    Projection3DDialog(QWidget* owner, AppState& state, Interaction& interaction);

    void accept() override;
    void reject() override;

private:
    void openEvolution(std::int32_t AppState::*request);

    AppState& state_;
    Interaction& interaction_;
    /// The record as the dialog opened on it; the speed editor reads the settings files again meanwhile.
    Projection3DSettings opened_;
    QLineEdit* angle_ = nullptr;
    QLineEdit* vertShift_ = nullptr;
    std::vector<std::pair<QLineEdit*, double Projection3DSettings::*>> numbers_;
    std::vector<std::pair<QCheckBox*, std::int32_t Projection3DSettings::*>> flags_;
};

}  // namespace zoomreel::app
