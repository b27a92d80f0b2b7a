#pragma once

// The "Video Parameters" dialog: frame rate, frames per file, frame size, the zoom text, the video browser, and the
// program's own settings of the movie's files: the container and the soundtrack.

#include <QDialog>

#include "settings/video_parameters.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace zoomreel::app {

class ColorSwatch;
class Interaction;
struct AppState;

/// Edits the program's video parameters. An empty face name becomes "Arial" in the record as the dialog opens.
/// "Font", "Color" and "Video Browser" apply their choice to the record at once, even if the dialog is then
/// cancelled. "Save" takes the numbers (a field that is not a number keeps its value; no range is checked) and
/// the check box into the record, writes "VFS.qvs" and "VBr.qvs" into the working directory and closes with 1;
/// when the files cannot be written it says why and stays open, so that the user may try again or cancel.
/// The container and the soundtrack's start are taken by "Save" too (a start that is not a number of 0 or more
/// keeps its value), and written into "zoomreel.toml" beside "VFS.qvs"; "Soundtrack" and "Clear" apply at once,
/// like the other choosers.
/// "Cancel" and Escape close with 2. Runs on the interface thread; the record may be read meanwhile by a movie.
class VideoParametersDialog : public QDialog {
public:
    VideoParametersDialog(QWidget* owner, Interaction& interaction, AppState& state);

    void accept() override;
    void reject() override;

private:
    void chooseFont();
    void chooseColor();
    void chooseVideoBrowser();
    void chooseSoundtrack();
    void clearSoundtrack();

    Interaction& interaction_;
    AppState& state_;
    /// The record as the dialog has it; kept equal to the state's but for the numbers not yet saved.
    VideoParameters video_;

    QLineEdit* fps_ = nullptr;
    QLineEdit* framesPerMovie_ = nullptr;
    QLineEdit* finalWidth_ = nullptr;
    QLineEdit* height3D_ = nullptr;
    QCheckBox* showZoomText_ = nullptr;
    QLineEdit* fontName_ = nullptr;
    QLineEdit* fontSize_ = nullptr;
    ColorSwatch* swatch_ = nullptr;
    QLineEdit* videoBrowser_ = nullptr;
    QComboBox* container_ = nullptr;
    QLineEdit* soundtrack_ = nullptr;
    QLineEdit* soundtrackStart_ = nullptr;
};

}  // namespace zoomreel::app
