#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "keyframes/keyframe_file.h"
#include "keyframes/keyframe_list.h"
#include "platform/raster.h"
#include "platform/status.h"
#include "platform/worker_pool.h"
#include "render/zoom_caption.h"
#include "render/level_coloring.h"
#include "render/projection.h"
#include "settings/palette.h"
#include "settings/render_settings.h"

namespace zoomreel {

/// The full maps of four consecutive keyframes, k to k+3, as the frames between k and k+1 need them. Levels past
/// the end of the folder are magnified from the level before.
struct KeyframeCache {
    std::int32_t loadedKeyframe = -1;     ///< k held in level 0; -1: nothing loaded
    std::array<std::vector<double>, 4> levels;  ///< each height rows of width values, stored row 0 first, flipped
    std::vector<std::uint8_t> palette;    ///< the keyframes' colour table: colorCount entries of blue, green, red
    std::int32_t colorCount = 0;
    KeyframeLayout layout;                ///< of the first keyframe loaded; every keyframe must share it
    std::uint64_t mapsRead = 0;           ///< full maps read from files since the program started

    /// The keyframe the next keyframe step needs, read while frames are rendered (with `readAhead` on).
    struct ReadAhead {
        int keyframe = -1;               ///< -1: none under way
        std::vector<double> map;         ///< written by the reading thread until `done` is ready
        std::future<Status> done;        ///< declared after `map`: destroyed first, it waits for the read
    } readAhead;
};

/// The frame images of a run, owned by the caller (the movie thread) from the first frame to its end.
struct MovieFrameContext {
    Raster frame;    ///< finalWidth x finalHeight
    Raster frame3D;  ///< finalWidth x height3D, only with 3D on
};

/// What a run reads. The keyframe list and the colour table are borrowed and must outlive the run.
struct RenderSettings {
    const KeyframeList* keyframes = nullptr;
    const ColorTable* colorTable = nullptr;  ///< the expanded user palette, used when `usePalette` is on
    bool usePalette = false;
    ReliefSettings relief;
    Projection3DSettings projection;
    SubtractMinimumSettings subtractMinimum;
    bool keyframeByKeyframe = false;
    bool flipHorizontal = false;
    bool flipVertical = false;
    int finalWidth = 0;
    int finalHeight = 0;
    int height3D = 0;
    bool showZoomText = false;  ///< the zoom of the frame in its top-left corner
    ZoomCaptionStyle caption;
};

/// How the renderer reaches its front end and the movie driver. Every member may be left empty.
struct FrameHooks {
    /// Guards the images the front end paints. Held around every stretch and, for the last level drawn, until
    /// the frame is closed. Without one the renderer takes none.
    std::recursive_mutex* frameLock = nullptr;
    /// The image to paint from now on (the 3D image with 3D on, else the 2D frame); called at each set-up.
    std::function<void(const Raster& image)> publishImage;
    /// The driver's first-frame output set-up (counters, first writer, codec choice); a failure stops the run.
    std::function<Status()> setUpOutput;
    /// Asks the front end to repaint, once the frame is complete and the lock released.
    std::function<void()> requestRepaint;
};

/// Per-frame inputs the movie driver sets before each frame: the light and the 3D evolution factors, which
/// scale the 3D settings' height scale, height cap and lift.
struct FrameInputs {
    double frameLightAngle = 0.0;  ///< degrees, the relief light azimuth
    double zScaleFactor = 1.0;
    double maxIterFactor = 1.0;
    double vertShiftFactor = 1.0;
};

/// The phase clock of one frame, in milliseconds of a steady clock: T0 once the cache is up to date, T1 after the
/// last 2D level, and with 3D on T2 after the height field, T3 after its smoothing, T4 after the shadows and T5
/// after the projection.
struct PhaseClock {
    std::array<double, 6> t{};

    static double now() {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
};

/// The largest frame side the renderer makes: beyond every video format in use, and far from overflowing any size
/// computed from it.
inline constexpr int kMaxFrameSide = 16384;

/// What a movie frame hands on to the frames after it: the running minima and the rows of the 3D frame that showed
/// (the next frame's minimum search covers them). Everything else of a frame is made afresh from its position.
struct CarriedFrameState {
    double runningMinimum2D = 0.0;
    double runningMinimum3D = 0.0;
    std::int32_t visibleRowFirst = 0;
    std::int32_t visibleRowLast = 0;
};

/// The renderer and everything it keeps between frames. One instance per renderer thread.
struct FrameRenderer {
    explicit FrameRenderer(int workers = 0) : workerCount(workers) {}

    KeyframeCache cache;
    Raster levelImage;
    double levelScale = 1.0;
    double runningMinimum2D = 0.0;  ///< the movie driver resets it at the start of each movie
    double runningMinimum3D = 0.0;
    std::int32_t visibleRowFirst = 0;
    std::int32_t visibleRowLast = 0;
    /// For a movie that goes on from the middle: the next set-up takes all four instead of its resets (no 3D
    /// minimum, every row visible) and the driver's (no 2D minimum), so that its first frame is the one the
    /// uninterrupted movie made there. Used once.
    std::optional<CarriedFrameState> setUpFrom;
    FrameInputs inputs;
    LevelFrameAngles angles;
    PhaseClock clock;
    ProjectionState projection;
    int workerCount = 0;  ///< render workers; 0: one per processor
    /// Read the keyframe of the next keyframe step while the frames before it are rendered: the movie's frames
    /// then never wait for a file. It costs the memory of one more map.
    bool readAhead = false;
    int readAheadLast = std::numeric_limits<int>::max();  ///< the last keyframe the run can need
    std::unique_ptr<WorkerPool> pool;
};

/// The renderer's running minima and visible rows as they stand after its last frame.
CarriedFrameState carriedState(const FrameRenderer& renderer);

/// Level 0's visible rectangle at a keyframe position's fraction, in stored rows (y from the bottom).
struct FrameGeometry {
    float fraction = 0.0f;
    double t = 1.0;  ///< 2^-fraction
    int srcX = 0;
    int srcY = 0;
    int srcW = 0;
    int srcH = 0;
};
FrameGeometry frameGeometry(float h, int width, int height);

/// Where deeper level L (1 to 3) goes: its rectangle of the level image onto a rectangle of the frame, both in
/// stored rows.
struct LevelPlacement {
    PixelRect source;
    PixelRect destination;
};
LevelPlacement levelPlacement(int level, double t, int frameWidth, int frameHeight, int width, int height);

/// Smallest non-zero value of the map over the rectangle (stored rows), minus 0.5; 1e100 - 0.5 when there is
/// none. The rectangle is clipped to the map.
double minimumInRect(const std::vector<double>& map, int width, int height, int x, int y, int w, int h);
/// The same over the rectangle's four edges only.
double minimumOnBorder(const std::vector<double>& map, int width, int height, int x, int y, int w, int h);

/// Renders the frame at keyframe position h into `context` (the 2D frame; the 3D stage fills `frame3D`). The first
/// call of a run sets the renderer up (images, published image, output set-up, four maps); later calls read one
/// new keyframe per keyframe step. A keyframe that cannot be read stops the run: the message names the file.
Status RenderMovieFrame(FrameRenderer& renderer, const RenderSettings& settings, const FrameHooks& hooks, float h,
                        float colourDivisor, float colourOffset, MovieFrameContext& context);

/// The 3D stage of a frame: projects `context.frame` onto `context.frame3D` as a landscape over the levels of
/// the cache at t = 2^-fraction, and keeps the rows it showed for the next frame's minimum search. The caller
/// holds the frame lock: the 3D image is what the front end paints.
void ProjectFrame(FrameRenderer& renderer, const RenderSettings& settings, MovieFrameContext& context, double t);

/// The end of a run: waits for a read under way, frees the cached maps and the 3D buffers so that the next run
/// sets up again. The level image and the smoothing kernel stay.
void freeRenderBuffers(FrameRenderer& renderer);

}  // namespace zoomreel
