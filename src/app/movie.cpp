// Make Video, Compute One Frame and Abort Video: the movie thread hosted by the main window.
#include <QAction>
#include <QMenu>

#include "app/choose_codec_dialog.h"
#include "app/dialogs.h"
#include "app/keyframe_strip.h"
#include "app/main_window.h"

namespace zoomreel::app {

namespace {
/// What the program's state asks of a movie over the selection of `keyframes`.
MovieRequest movieRequestOf(const AppState& state, const KeyframeList* keyframes) {
    MovieRequest request;
    request.keyframes = keyframes;
    request.keyframeByKeyframe = state.keyframeByKeyframe;
    request.flipHorizontal = state.flipHorizontal;
    request.flipVertical = state.flipVertical;
    request.video = state.video();
    request.palette = state.palette;
    request.colorTable = state.colorTable;
    request.relief = state.relief;
    request.projection = state.projection;
    request.subtractMinimum = state.subtractMinimum;
    return request;
}

BoxIcon boxIconOf(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Warning: return BoxIcon::Warning;
        case MessageIcon::Error: return BoxIcon::Error;
        case MessageIcon::Information: return BoxIcon::Information;
    }
    return BoxIcon::None;
}
}  // namespace

void MainWindow::makeVideo() {
    const KeyframeList& list = state_.keyframes;
    if (list.selectionEnd == -1) {
        say(QStringLiteral("No Key Frames selected"), BoxIcon::Warning);
        return;
    }
    const VideoParameters video = state_.video();
    const QString question = QString::asprintf(
        "Confirm you want to make final movie from %d to %d KeyFrames?\nFPS: %d   FPM: %d   Width: %d",
        list.selectionStart, list.selectionEnd, video.fps, video.framesPerMovie, video.finalWidth);
    if (say(question, BoxIcon::Question, BoxButtons::OkCancel) != BoxAnswer::Ok) return;
    // A movie of this selection that was stopped and would go on with the same frames: continue it, or start
    // again (which makes its record obsolete). Its codec is kept, so none is asked for then.
    std::optional<MovieResume> resume;
    StoppedMovie stopped = findStoppedMovie(movieRequestOf(state_, &list), video);
    if (stopped.state == StoppedMovie::State::Found) {
        const QString resumeQuestion = QString::asprintf(
            "A movie of these key frames was stopped after file %03d.\nContinue it?", stopped.record.nextFile - 1);
        if (say(resumeQuestion, BoxIcon::Question, BoxButtons::OkCancel) == BoxAnswer::Ok) {
            resume = std::move(stopped.record);
        }
    }
    state_.movie.singleFrameTarget.store(-1.0f);
    startMovie(std::move(resume));
}

void MainWindow::computeOneFrame() {
    const KeyframeList& list = state_.keyframes;
    ComputeOneFrameDialog dialog(this, interaction_, state_.singleFramePosition, list.selectionStart,
                                 list.selectionEnd, [this](float target) {
                                     state_.movie.singleFrameTarget.store(target);
                                     startMovie();
                                 });
    interaction_.runDialog(dialog);
}

void MainWindow::setMovieMenus(bool running) {
    menus_[kFileMenu]->menuAction()->setEnabled(!running);
    menus_[kSetupMenu]->menuAction()->setEnabled(!running);
    command(kMakeVideo)->setEnabled(!running);
    command(kAbortVideo)->setEnabled(running);
}

void MainWindow::startMovie(std::optional<MovieResume> resume) {
    MovieDriver& driver = state_.movie;
    if (driver.running.load()) return;
    // The previous run may still be telling its end; its copy of the keyframes is replaced only after it.
    WaitForMovie(driver);
    movieKeyframes_ = state_.keyframes;
    strip_->dropHeldFrame();

    MovieRequest request = movieRequestOf(state_, &movieKeyframes_);
    request.resume = std::move(resume);

    MovieCallbacks callbacks;
    callbacks.frameLock = &state_.frameLock;
    callbacks.publishImage = [this](const Raster* image) {
        state_.publishedImage = image;
        state_.publishedThumbnail = nullptr;
    };
    callbacks.repaint = [this](bool) { bridge_.post([this] { strip_->viewport()->update(); }); };
    callbacks.setTitle = [this](const std::string& title) {
        bridge_.post([this, text = QString::fromStdString(title)] { setTitle(text); });
    };
    callbacks.setMenusRunning = [this](bool running) { bridge_.run([this, running] { setMovieMenus(running); }); };
    callbacks.chooseCompressor = [this](const CompressorRequest& codecs) {
        return bridge_.ask<std::optional<CompressorChoice>>(
            [this, codecs]() -> std::optional<CompressorChoice> {
                ChooseCodecDialog dialog(this, codecs);
                if (interaction_.runDialog(dialog) != QDialog::Accepted) return std::nullopt;
                return dialog.choice();
            },
            std::nullopt);
    };
    callbacks.showMessage = [this](MessageIcon icon, const std::string& text) {
        bridge_.post([this, icon, message = QString::fromStdString(text)] { say(message, boxIconOf(icon)); });
    };
    callbacks.videoParameters = [this] { return state_.video(); };
    if (driver.singleFrameTarget.load() != -1.0f) {
        callbacks.frameDone = [this](const MovieProgress&, const Raster& shown) {
            std::lock_guard lock(state_.frameLock);
            state_.heldFrame = shown;
        };
    }
    StartMovie(driver, std::move(request), std::move(callbacks));
}

}  // namespace zoomreel::app
