#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "keyframes/keyframe_list.h"
#include "output/avi_writer.h"
#include "output/movie_resume.h"
#include "platform/raster.h"
#include "platform/status.h"
#include "render/frame_renderer.h"
#include "settings/key_point_curve.h"
#include "settings/palette.h"
#include "settings/render_settings.h"
#include "settings/video_parameters.h"

namespace zoomreel {

/// The keyframe-position walk of a movie over the selection S..E of K keyframes.
struct WalkLimits {
    int selectionStart = 0;
    int selectionEnd = 0;
    int keyframeCount = 0;
    bool keyframeByKeyframe = false;  ///< one image per keyframe, whatever the speed curve says
};

enum class WalkEnd {
    Completed,  ///< every speed segment walked
    Stopped,    ///< past the selection's end or at the last keyframe
    Aborted,    ///< the abort flag was set
    Ended,      ///< the step asked to end (the frame of "Compute One Frame" is done, or a failure)
};

/// Walks h from the speed curve's first point in steps of 1/g (g: images per keyframe, interpolated
/// geometrically along each segment, in single precision) and calls `step(h, g)` for every position strictly
/// above S; `step` returns false to end the walk. The walk stops before a position above E, at or beyond K - 1,
/// or once `abortRequested` is set. It also stops where a step no longer moves h (an absurd speed from a
/// damaged file), instead of computing the same frame forever. The curve must have at least one point.
WalkEnd walkMovie(const KeyPointCurve& speed, const WalkLimits& limits, const std::atomic<std::int32_t>* abortRequested,
                  const std::function<bool(float h, float g)>& step);

/// One step of the walk: its speed segment, its keyframe position and its images per keyframe.
struct WalkStep {
    int segment = 0;
    float h = 0;
    float g = 0;
};

/// `walkMovie` going on after the step `after` (its segment and position; g is taken again from the curve, as
/// the walk took it) instead of from the curve's first point: the steps that follow are those the whole walk
/// makes after it. Without `after`, the whole walk.
WalkEnd walkMovieAfter(const KeyPointCurve& speed, const WalkLimits& limits,
                       const std::atomic<std::int32_t>* abortRequested, const WalkStep* after,
                       const std::function<bool(const WalkStep& step)>& step);

/// The speed curve a movie walks: one image per keyframe in keyframe-by-keyframe mode, else the folder's
/// "speed.qvs" (20 images per keyframe without one).
KeyPointCurve movieSpeedCurve(const KeyframeList& list, bool keyframeByKeyframe);

/// The number of frames a movie over the selection computes.
int countMovieFrames(const KeyPointCurve& speed, const WalkLimits& limits);

/// "film(S-E)NNN.avi" (".mp4", ".mkv" for those containers): the name of output file `fileIndex` (from 1) of a
/// movie over S..E.
std::string movieFileName(int selectionStart, int selectionEnd, int fileIndex,
                          MovieContainer container = MovieContainer::Avi);

/// "film(S-E).resume": the record beside a movie's files that lets a stopped movie over S..E go on.
std::string movieResumeFileName(int selectionStart, int selectionEnd);

enum class MessageIcon { Warning, Error, Information };

/// The five durations of a frame, in seconds: the 2D frame, and with 3D on the height field, the smoothing, the
/// shadows and the projection.
struct FrameTimings {
    double frame2D = 0, heightField = 0, smoothing = 0, shadows = 0, projection = 0;
};

/// What the output step of one computed frame reports.
struct MovieProgress {
    float h = 0;
    int framesComputed = 0;  ///< in this run, this one included
    int framesWritten = 0;   ///< appended to the movie files so far in this run
    int framesBefore = 0;    ///< of a resumed movie: the frames of the finished files it kept
    int fileIndex = 0;
    int framesInFile = 0;
    FrameTimings timings;
};

/// How the movie thread speaks to its front end. Every callback runs on the movie thread and may be empty.
struct MovieCallbacks {
    /// Guards the published image; the renderer holds it while it writes that image.
    std::recursive_mutex* frameLock = nullptr;
    /// The image to paint while the movie runs; nullptr withdraws it. Called with the frame lock held.
    std::function<void(const Raster* image)> publishImage;
    /// Repaint the window: after each frame without erasing, at the end of a movie erasing the background.
    std::function<void(bool erase)> repaint;
    std::function<void(const std::string& title)> setTitle;
    /// false when the movie thread ends: "File", "Setup" and "Make Video" usable again, "Abort Video" not.
    /// (`StartMovie` sets the running state on the caller's thread.)
    std::function<void(bool running)> setMenusRunning;
    CompressorChooser chooseCompressor;
    std::function<void(MessageIcon icon, const std::string& text)> showMessage;
    /// After the output step of every computed frame, with the image shown (the 3D image with 3D on).
    std::function<void(const MovieProgress& progress, const Raster& shown)> frameDone;
    /// The video parameters as they are now. The dialog stays open to the user during a movie; its changes
    /// reach the next frame (caption, frames per file) and the next file (frame rate). The frame size stays.
    std::function<VideoParameters()> videoParameters;
};

/// What a movie is made from. The keyframe list is borrowed and must outlive the run. The settings records are
/// the program's current values, over which the thread loads the folder's files, as every run does.
struct MovieRequest {
    const KeyframeList* keyframes = nullptr;  ///< the selection S..E is taken from it
    bool keyframeByKeyframe = false;
    bool flipHorizontal = false;
    bool flipVertical = false;
    VideoParameters video;
    Palette palette;
    ColorTable colorTable;
    ReliefSettings relief;
    Projection3DSettings projection;
    SubtractMinimumSettings subtractMinimum;
    /// Go on with a stopped movie from this record (found by `findStoppedMovie`) instead of from the first frame:
    /// its codec is used and none is asked for. The thread checks the record again before it writes anything.
    std::optional<MovieResume> resume;
};

/// What a run is made with: the request's settings under the folder's files, as the movie thread reads them.
struct MovieRun {
    VideoParameters video;  ///< with `finalHeight` derived from the keyframes
    CurveSet curves;
    Palette palette;
    ColorTable colorTable;
    RenderSettings settings;  ///< its colour table is `colorTable`

    MovieRun() = default;
    MovieRun(const MovieRun&) = delete;
    MovieRun& operator=(const MovieRun&) = delete;
};
/// Reads the folder's curves, palette, relief, 3D and subtraction files over the request's values, as every run
/// does, for frames of `video`.
void loadMovieRun(const MovieRequest& request, const VideoParameters& video, MovieRun& run);

/// A stopped movie of a selection, and whether it can go on.
struct StoppedMovie {
    enum class State {
        None,        ///< no record of a stopped movie of the selection
        Damaged,     ///< a record that cannot be read, or that does not fit the folder
        Differs,     ///< made with other settings, keyframes or codec
        FileMissing, ///< one of its finished files is gone
        Found,       ///< it can go on
    };
    State state = State::None;
    std::string message;  ///< what is wrong, for every state but Found
    MovieResume record;
};

/// Looks for the stopped movie of the request's selection and checks it against what the request would make now:
/// the same fingerprint, with `codec` (when given) the same codec, and its finished files still there.
StoppedMovie findStoppedMovie(const MovieRequest& request, const VideoParameters& video,
                              const CompressorChoice* codec = nullptr);

struct MovieOutcome {
    Status status;       ///< a keyframe that could not be read, a movie file that could not be written
    bool aborted = false;
    int framesComputed = 0;
    int framesWritten = 0;
    std::vector<std::filesystem::path> files;  ///< movie files finished, in order
    float lastPosition = -1;                   ///< h of the last frame computed
};

/// The movie driver's state, one for the program's lifetime, with the renderer whose buffers it owns per run.
struct MovieDriver {
    explicit MovieDriver(int workers = 0) : renderer(workers) {}
    /// A movie still running is aborted and waited for, so that its files are finished.
    ~MovieDriver();
    MovieDriver(const MovieDriver&) = delete;
    MovieDriver& operator=(const MovieDriver&) = delete;

    std::atomic<float> singleFrameTarget{-1.0f};  ///< -1: make the movie; else the "Compute One Frame" position
    std::atomic<std::int32_t> abortRequested{0};
    float cumulativeRotation = 0;
    double frameLightAngle = 0;
    double zScaleFactor = 0;
    double maxIterFactor = 0;
    double vertShiftFactor = 0;
    std::unique_ptr<AviWriter> currentWriter;
    std::int32_t fileIndex = 0;
    std::int32_t framesInFile = 0;
    FrameRenderer renderer;

    std::thread thread;
    std::atomic<bool> running{false};  ///< from `StartMovie` until the run's files are finished
    MovieOutcome lastOutcome;          ///< of the last run, once `running` is false
};

/// Sets the menus to the running state, clears the abort flag and starts the movie thread. Returns at once. A
/// movie still running is refused (false). The thread of the previous run may still be telling its end to the
/// front end: it is waited for, so the front end's end-of-run callbacks must not wait for the caller.
bool StartMovie(MovieDriver& driver, MovieRequest request, MovieCallbacks callbacks);

/// The "Abort Video" command: the movie thread stops at its next step.
inline void AbortMovie(MovieDriver& driver) { driver.abortRequested.store(1); }

/// Waits for the movie thread to end.
void WaitForMovie(MovieDriver& driver);

/// The whole run on the calling thread: the walk, the frames, the output and the end of the run.
MovieOutcome MovieThread(MovieDriver& driver, const MovieRequest& request, const MovieCallbacks& callbacks);

/// "Zoomreel - <folder> - Frame: ... - film(S-E)NNN-MMM C(...S) N(...S) L(...S) S(...) A(...S)"
std::string movieTitle(const std::filesystem::path& folder, float h, int selectionStart, int selectionEnd,
                       int fileIndex, int framesInFile, const FrameTimings& timings);

}  // namespace zoomreel
