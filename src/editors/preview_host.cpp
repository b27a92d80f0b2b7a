#include "editors/preview_host.h"

#include <QDialog>
#include <QPushButton>

#include "app/choose_codec_dialog.h"
#include "app/dialog_layout.h"
#include "app/keyframe_strip.h"

namespace zoomreel::app {

PreviewHost::PreviewHost(QDialog& editor, AppState& state, Interaction& interaction, const PreviewSource& source)
    : editor_(editor),
      state_(state),
      interaction_(interaction),
      source_(source),
      context_(std::make_unique<QObject>()),
      bridge_(context_.get()),
      framePreview_(state.keyframes, source, [this](const Raster& frame, float h) { deliver(frame, h); }) {}

PreviewHost::~PreviewHost() {
    // A codec question still open on the video thread gets its answer (keep the writer as it is) at once.
    bridge_.close();
    framePreview_.stop();
    video_.abort();
    video_.wait();
    delete window_.data();
}

void PreviewHost::open() {
    showWindow();
    framePreview_.start();
}

void PreviewHost::showWindow() {
    if (window_ == nullptr) {
        window_ = new PreviewWindow(&editor_);
        const KeyframeLayout& layout = state_.keyframes.layout;
        if (layout.previewWidth > 0 && layout.previewHeight > 0) window_->resize(layout.previewWidth, layout.previewHeight);
    }
    window_->placeBeside(editor_);
}

void PreviewHost::deliver(const Raster& frame, float h) {
    QImage image = imageOf(frame);  // converted here, on the preview thread
    {
        std::lock_guard lock(mailboxLock_);
        mailboxFrame_ = std::move(image);
        mailboxPosition_ = h;
        if (mailboxPosted_) return;
        mailboxPosted_ = true;
    }
    bridge_.post([this] {
        QImage latest;
        float position = 0;
        {
            std::lock_guard lock(mailboxLock_);
            latest = std::move(mailboxFrame_);
            position = mailboxPosition_;
            mailboxPosted_ = false;
        }
        if (window_ != nullptr) window_->showFrame(latest, position);
    });
}

void PreviewHost::setVideoButtons(bool running) {
    if (auto* button = control<QPushButton>(editor_, kPreviewButton)) {
        button->setText(running ? QStringLiteral("Abort") : QStringLiteral("Preview"));
    }
    for (int id : {kSaveButton, kCancelButton}) {
        if (auto* button = control<QPushButton>(editor_, id)) button->setEnabled(!running);
    }
}

void PreviewHost::previewButton() {
    const VideoParameters video = state_.video();
    if (video.videoBrowser.empty()) {
        interaction_.message(&editor_, kCaption,
                             QStringLiteral("You must define a Video Browser\nUse menu Video->Video parameters..."),
                             BoxIcon::Information, BoxButtons::Ok);
        return;
    }
    if (videoRunning()) {
        video_.abort();
        return;
    }
    framePreview_.stop();

    PreviewVideoRequest request;
    request.keyframes = &state_.keyframes;
    request.setup = source_.copy();
    request.file = state_.workingDirectory / previewFileName(video.container);
    request.frameRate = video.fps;
    request.container = video.container;
    request.soundtrack = video.soundtrack;
    request.soundtrackStart = video.soundtrackStart;
    request.videoBrowser = video.videoBrowser;
    request.chooseCompressor = [this](const CompressorRequest& codecs) {
        return bridge_.ask<std::optional<CompressorChoice>>(
            [this, codecs]() -> std::optional<CompressorChoice> {
                ChooseCodecDialog dialog(&editor_, codecs);
                if (interaction_.runDialog(dialog) != QDialog::Accepted) return std::nullopt;
                return dialog.choice();
            },
            std::nullopt);
    };
    PreviewVideoCallbacks callbacks;
    callbacks.showFrame = [this](const Raster& frame, float h) { deliver(frame, h); };
    callbacks.ended = [this](const PreviewVideoOutcome& outcome) {
        bridge_.post([this, outcome] { videoEnded(outcome); });
    };
    setVideoButtons(true);
    showWindow();
    video_.start(std::move(request), std::move(callbacks));
}

void PreviewHost::videoEnded(const PreviewVideoOutcome& outcome) {
    setVideoButtons(false);
    framePreview_.start();
    const Status& failure = !outcome.status ? outcome.status : outcome.browser;
    if (!failure) {
        interaction_.message(&editor_, kCaption, QString::fromStdString(failure.message), BoxIcon::Error,
                             BoxButtons::Ok);
    }
}

}  // namespace zoomreel::app
