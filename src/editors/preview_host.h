#pragma once

// The previews of an editor: the preview window beside it, the frame-preview thread that fills it, and the preview
// video of its "Preview" button. The speed and colour editors each own one while they are open.

#include <QImage>
#include <QObject>
#include <QPointer>

#include <memory>
#include <mutex>

#include "app/app_state.h"
#include "app/interaction.h"
#include "app/ui_bridge.h"
#include "editors/preview_window.h"
#include "output/preview.h"

class QDialog;

namespace zoomreel::app {

/// Control identifiers of the editors' buttons that the preview video drives.
inline constexpr int kPreviewButton = 1015;
inline constexpr int kSaveButton = 1;
inline constexpr int kCancelButton = 2;

class PreviewHost {
public:
    /// `editor` holds the buttons 1, 2 and 1015 and owns the preview window, which thus stays above it; `source`
    /// holds the curves it edits. All must outlive the host.
    PreviewHost(QDialog& editor, AppState& state, Interaction& interaction, const PreviewSource& source);
    /// Stops both threads (a video is aborted and its file finished) and closes the preview window.
    ~PreviewHost();
    PreviewHost(const PreviewHost&) = delete;
    PreviewHost& operator=(const PreviewHost&) = delete;

    /// Opens the preview window beside the editor and starts the frame preview.
    void open();
    /// The frame under the mouse.
    void requestPosition(float f) { framePreview_.requestPosition(f); }
    /// The frame at a key point being dragged.
    void requestPoint(PreviewCurve curve, int index) { framePreview_.requestPoint(curve, index); }
    /// Stops the frame preview, as the editor does before it closes, and starts it again.
    void stopFramePreview() { framePreview_.stop(); }
    void startFramePreview() { framePreview_.start(); }

    /// The "Preview" button: without a video browser it says so; while a video runs it aborts it; otherwise it
    /// starts the preview video ("Abort" on the button, Save and Cancel disabled until the video has ended).
    void previewButton();
    bool videoRunning() const { return video_.previewVideoRunning.load() != 0; }

    PreviewWindow* window() const { return window_; }
    const FramePreview& framePreview() const { return framePreview_; }

private:
    void showWindow();
    void deliver(const Raster& frame, float h);
    void videoEnded(const PreviewVideoOutcome& outcome);
    void setVideoButtons(bool running);

    QDialog& editor_;
    AppState& state_;
    Interaction& interaction_;
    const PreviewSource& source_;
    QPointer<PreviewWindow> window_;
    std::unique_ptr<QObject> context_;  ///< where the threads' calls run; goes with the host
    UiBridge bridge_;

    // The latest frame from a thread, taken by the one call posted for it: frames that come faster than the
    // window paints replace one another instead of queueing up.
    std::mutex mailboxLock_;
    QImage mailboxFrame_;
    float mailboxPosition_ = 0;
    bool mailboxPosted_ = false;

    FramePreview framePreview_;
    PreviewVideo video_;
};

}  // namespace zoomreel::app
