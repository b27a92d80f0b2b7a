#pragma once

// The shell's four small modal dialogs: About, Preview Frame Size, Key Frame Properties and Compute One Frame.
// Each is laid out in dialog units with its controls named by identifier ("id1001"); the result codes are the
// identifiers of the buttons that close them (1 for OK, 2 for the cancel command).

#include <QDialog>

#include <functional>

#include "app/app_state.h"
#include "keyframes/keyframe_list.h"

class QListWidget;
class QLineEdit;

namespace zoomreel::app {

class Interaction;

/// The program's name and version. OK closes with 1, Escape and the close button with 2.
class AboutDialog : public QDialog {
public:
    explicit AboutDialog(QWidget* owner);

    void reject() override;
};

/// Asks for the preview block n of a conversion, listing the preview map sizes for n = 40 down to 2. The
/// conversion waits for the answer, so the dialog closes only through OK with an entry selected (result 1):
/// Escape and the close button do nothing.
class PreviewFrameSizeDialog : public QDialog {
public:
    PreviewFrameSizeDialog(QWidget* owner, int mapWidth, int mapHeight);

    /// The block and the preview map size chosen; block 0 until OK was accepted.
    PreviewChoice choice() const { return choice_; }

    void accept() override;
    void reject() override;

private:
    int mapWidth_;
    int mapHeight_;
    QListWidget* list_ = nullptr;
    PreviewChoice choice_;
};

/// The index, file name, iteration statistics, zoom and colour divisor of keyframe `k` of `list`. OK closes with
/// 1; Escape and the close button do nothing. Whatever of `k` the list does not hold (no summaries yet, an index
/// beyond the list) is left blank.
class KeyFramePropertiesDialog : public QDialog {
public:
    KeyFramePropertiesDialog(QWidget* owner, const KeyframeList& list, int k);

    void reject() override;
};

/// Asks for the keyframe position of the one frame to compute. OK keeps the entered value in `position` (text
/// that is not a number leaves it as it was) and, when the value lies within the selection from
/// `selectionStart` to `selectionEnd` (keyframe indices, `selectionEnd` -1 when there is none), calls `start`
/// with it and closes with 1; otherwise it shows "Frame must be in selection!" and stays open. "Annuler" and
/// Escape close with 2. `position` must outlive the dialog.
class ComputeOneFrameDialog : public QDialog {
public:
    ComputeOneFrameDialog(QWidget* owner, Interaction& interaction, double& position, int selectionStart,
                          int selectionEnd, std::function<void(float target)> start);

    void accept() override;
    void reject() override;

private:
    Interaction& interaction_;
    double& position_;
    int selectionStart_;
    int selectionEnd_;
    std::function<void(float)> start_;
    QLineEdit* edit_ = nullptr;
};

}  // namespace zoomreel::app
