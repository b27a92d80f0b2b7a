#pragma once

// The previews of the speed and colour editors: the frame preview, a thread that renders the frame at the
// position under the mouse or at the key point being dragged, and the preview video, a thread that renders the
// whole selection at the preview size into a movie file and then starts the user's video browser on it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "keyframes/keyframe_list.h"
#include "output/avi_writer.h"
#include "platform/raster.h"
#include "platform/status.h"
#include "render/preview_renderer.h"
#include "settings/key_point_curve.h"
#include "settings/palette.h"

namespace zoomreel {

/// The curve that holds the key point of a point request.
enum class PreviewCurve : std::int32_t { None = 0, Speed = 1, ColorDivisor = 2, ColorAdd = 3, ColorRotate = 4 };

/// What the previews render with, as the editors hold it now.
struct PreviewSetup {
    KeyPointCurve speed;  ///< the speed editor's record: the speed curve, or the 3D evolution curve it edits
    KeyPointCurve colorDivisor;
    KeyPointCurve colorAdd;
    KeyPointCurve colorRotate;
    bool usePalette = false;
    ColorTable colorTable;           ///< the expanded user palette
    double colorSensitivity = 1.0;
    bool subtractMinimum = false;
};

/// The setup the editors open with, from the folder's files: the speed curve (25 images per keyframe without a
/// file, as the editors show), the colour curves with their defaults, the palette and the minimum subtraction.
PreviewSetup loadPreviewSetup(const KeyframeList& list);

/// The setup shared by the editor that changes it, on the interface thread, and the preview threads that read it.
/// Every change and every copy takes the lock, so a thread never reads a curve while its points are replaced.
class PreviewSource {
public:
    void edit(const std::function<void(PreviewSetup&)>& change);
    PreviewSetup copy() const;
    /// x of key point `index` of `curve`; nothing when the curve has no such point.
    std::optional<float> pointX(PreviewCurve curve, int index) const;
    /// The setup without the lock: only for the thread that makes every change.
    const PreviewSetup& current() const { return setup_; }

private:
    mutable std::mutex mutex_;
    PreviewSetup setup_;
};

/// The walk of the previews over the speed curve: from its first key point, the position l grows by 1/V and V is
/// then interpolated geometrically on the segment being walked, even once l has passed that segment's end, so
/// that the first step after a key point still uses the speed of the segment just left. The last segment runs at
/// the last speed up to `end`. `step(l, V)` is called for every position reached (the first key point itself is
/// never one) and returns false to stop. The walk also ends where a step no longer moves l.
void walkPreview(const KeyPointCurve& speed, float end, const std::function<bool(float l, float v)>& step);

/// The colour rotation a preview frame at f starts from: rotation(l) / V summed over the walk's positions below f
/// (the selection's start plays no part; f itself is not included).
float previewRotationAt(const PreviewSetup& setup, float selectionEnd, float f);

/// The frame of the frame preview at f, in `renderer.frame`: the rotation sum up to f, then the colour curves at f.
Status renderFramePreview(PreviewRenderer& renderer, const KeyframeList& keyframes, const PreviewSetup& setup, float f);

/// Called on a preview thread after every frame with the frame and its position. It must copy what it keeps.
using PreviewFrameSink = std::function<void(const Raster& frame, float h)>;

/// The frame-preview thread and its requests. The editor asks for a position (the mouse over the graph) or for a
/// key point (one being dragged, followed as it moves); a request replaces any request not yet taken, so after
/// each frame only the latest is rendered. The thread sleeps while there is nothing to do.
class FramePreview {
public:
    /// `keyframes` (with its selection) and `source` are borrowed and must outlive the preview.
    FramePreview(const KeyframeList& keyframes, const PreviewSource& source, PreviewFrameSink sink);
    ~FramePreview();
    FramePreview(const FramePreview&) = delete;
    FramePreview& operator=(const FramePreview&) = delete;

    /// Starts the thread; nothing when it runs already.
    void start();
    /// The frame at keyframe position f.
    void requestPosition(float f);
    /// The frame at the x of key point `index` of `curve`, read when the frame is rendered.
    void requestPoint(PreviewCurve curve, int index);
    /// Asks the thread to stop and waits until it has, whatever request or frame it has in hand. A pending
    /// request is dropped. Safe to call when it is not running.
    void stop();
    bool running() const { return thread_.joinable(); }

    /// Frames rendered since construction, and the outcome of the last one: for the program's tests and benchmarks.
    int framesRendered() const { return framesRendered_.load(); }
    Status lastStatus() const;

private:
    void run();

    const KeyframeList& keyframes_;
    const PreviewSource& source_;
    PreviewFrameSink sink_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    float previewRequest_ = -1.0f;  ///< a position to render; -1: none
    std::int32_t previewCommand_ = -1;  ///< the index of the dragged key point to render at; -1: none
    PreviewCurve previewCurve_ = PreviewCurve::None;
    bool stopRequested_ = false;
    Status lastStatus_;
    std::atomic<int> framesRendered_{0};
    std::thread thread_;
};

/// "preview.avi", "preview.mp4" or "preview.mkv": the preview video's file in the working directory.
std::string previewFileName(MovieContainer container);

/// What a preview video is made of. The keyframe list is borrowed; the setup is the one at the press of "Preview".
struct PreviewVideoRequest {
    const KeyframeList* keyframes = nullptr;  ///< the selection S..E is taken from it
    PreviewSetup setup;
    std::filesystem::path file;               ///< `previewFileName` in the working directory
    std::int32_t frameRate = 30;
    MovieContainer container = MovieContainer::Avi;
    std::string soundtrack;                   ///< played with the video from `soundtrackStart` seconds; empty: none
    double soundtrackStart = 0;
    CompressorChooser chooseCompressor;       ///< asked once the first frame's size is known
    std::string videoBrowser;                 ///< started on the file at the end; empty: none
};

struct PreviewVideoOutcome {
    Status status;             ///< a keyframe that could not be read, a file that could not be written
    bool aborted = false;
    int framesWritten = 0;
    bool browserStarted = false;
    Status browser;            ///< why the video browser could not be started
};

struct PreviewVideoCallbacks {
    PreviewFrameSink showFrame;
    /// The end notice, on the preview-video thread, after the file is finished and the browser started.
    std::function<void(const PreviewVideoOutcome& outcome)> ended;
};

/// The whole preview video on the calling thread. Positions follow the preview walk; frames above the selection
/// start are rendered with the rotation summed frame by frame, up to E or the last keyframe, or until `abort`
/// is set. The file is finished however the video ends; the browser is started on it also after an abort, but
/// not on a file that could not be written. A soundtrack that cannot be used, a codec that does not fit the
/// container or the frame size, are told before any frame is made.
PreviewVideoOutcome PreviewVideoThread(const PreviewVideoRequest& request, const PreviewVideoCallbacks& callbacks,
                                       const std::atomic<std::int32_t>& abort);

/// The preview-video thread of an editor.
class PreviewVideo {
public:
    PreviewVideo() = default;
    /// A video still running is aborted and waited for, so that its file is finished.
    ~PreviewVideo();
    PreviewVideo(const PreviewVideo&) = delete;
    PreviewVideo& operator=(const PreviewVideo&) = delete;

    /// Starts the thread; false while a video runs.
    bool start(PreviewVideoRequest request, PreviewVideoCallbacks callbacks);
    /// The video stops at its next step.
    void abort() { previewVideoAbort.store(1); }
    void wait();

    std::atomic<std::int32_t> previewVideoRunning{0};
    std::atomic<std::int32_t> previewVideoAbort{0};

private:
    std::thread thread_;
};

}  // namespace zoomreel
