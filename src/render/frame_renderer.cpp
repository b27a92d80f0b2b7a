#include "render/frame_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "platform/atomic_file.h"
#include "platform/resampler.h"

namespace zoomreel {
namespace {

constexpr double kNoMinimum = 1e100 - 0.5;

/// The frame lock when the front end has one: a no-op otherwise. Unlocks on destruction if still held.
class FrameLockHolder {
public:
    explicit FrameLockHolder(std::recursive_mutex* lock) : lock_(lock) {}
    ~FrameLockHolder() {
        if (held_) unlock();
    }
    FrameLockHolder(const FrameLockHolder&) = delete;
    FrameLockHolder& operator=(const FrameLockHolder&) = delete;
    void lock() {
        if (lock_ != nullptr) lock_->lock();
        held_ = true;
    }
    void unlock() {
        if (lock_ != nullptr) lock_->unlock();
        held_ = false;
    }

private:
    std::recursive_mutex* lock_;
    bool held_ = false;
};

/// Picture coordinates (y from the top) of a rectangle given in stored rows (y from the bottom).
PixelRect fromStoredRows(const PixelRect& r, int height) { return {r.x, height - (r.y + r.height), r.width, r.height}; }

/// One area-averaging stretch, its destination rows shared out in bands over the pool. Destination pixels inside
/// `hidden` (picture coordinates; width 0: none) are skipped: a deeper level covers them next.
void stretchOnPool(WorkerPool& pool, const Raster& src, const PixelRect& srcRect, Raster& dst, const PixelRect& dstRect,
                   const PixelRect& hidden) {
    const int top = std::max(0, dstRect.y);
    const int bottom = std::min(dst.height(), dstRect.y + dstRect.height);
    if (bottom <= top) return;
    pool.run([&](int worker, int workerCount) {
        const int rows = bottom - top;
        const int first = top + static_cast<int>(static_cast<std::int64_t>(rows) * worker / workerCount);
        const int end = top + static_cast<int>(static_cast<std::int64_t>(rows) * (worker + 1) / workerCount);
        auto band = [&](int y0, int y1, int x0, int x1) {
            if (y1 > y0 && x1 > x0) stretchAreaAverage(src, srcRect, dst, dstRect, PixelRect{x0, y0, x1 - x0, y1 - y0});
        };
        const int left = dstRect.x;
        const int right = dstRect.x + dstRect.width;
        if (hidden.width <= 0 || hidden.height <= 0) {
            band(first, end, left, right);
            return;
        }
        const int holeTop = std::clamp(hidden.y, first, end);
        const int holeBottom = std::clamp(hidden.y + hidden.height, holeTop, end);
        band(first, holeTop, left, right);
        band(holeTop, holeBottom, left, hidden.x);
        band(holeTop, holeBottom, hidden.x + hidden.width, right);
        band(holeBottom, end, left, right);
    });
}

/// The source pixels of a stretch (from `source` onto `destination`) that only destination pixels inside `hidden`
/// read, one pixel in from each edge for safety; all in stored rows. Width 0 when there are none.
PixelRect sourceHole(const PixelRect& source, const PixelRect& destination, const PixelRect& hidden) {
    if (hidden.width <= 0 || hidden.height <= 0 || destination.width <= 0 || destination.height <= 0) return {};
    auto inner = [](int origin, int length, int outLength, int from, int to, int& begin, int& end) {
        // Destination pixel i reads source [i * length / outLength, (i + 1) * length / outLength).
        const std::int64_t a = std::int64_t{from} * length;
        const std::int64_t b = std::int64_t{to} * length;
        begin = origin + static_cast<int>((a + outLength - 1) / outLength) + 1;
        end = origin + static_cast<int>(b / outLength) - 1;
    };
    PixelRect hole;
    int x0, x1, y0, y1;
    inner(source.x, source.width, destination.width, hidden.x - destination.x, hidden.x + hidden.width - destination.x,
          x0, x1);
    inner(source.y, source.height, destination.height, hidden.y - destination.y,
          hidden.y + hidden.height - destination.y, y0, y1);
    if (x1 <= x0 || y1 <= y0) return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

void flipMap(std::vector<double>& map, int width, int height, bool horizontal, bool vertical) {
    if (horizontal) {
        for (int r = 0; r < height; ++r) {
            double* row = map.data() + static_cast<std::size_t>(r) * width;
            std::reverse(row, row + width);
        }
    }
    if (vertical) {
        for (int r = 0; r < height / 2; ++r) {
            std::swap_ranges(map.begin() + static_cast<std::ptrdiff_t>(r) * width,
                             map.begin() + static_cast<std::ptrdiff_t>(r + 1) * width,
                             map.begin() + static_cast<std::ptrdiff_t>(height - 1 - r) * width);
        }
    }
}

/// Past the end of the folder: level L is the centre of level L - 1 magnified twice, nearest neighbour.
void synthesizeLevel(KeyframeCache& cache, int level) {
    const int width = cache.layout.width;
    const int height = cache.layout.height;
    const std::vector<double>& from = cache.levels[level - 1];
    std::vector<double>& to = cache.levels[level];
    for (int r = 0; r < height; ++r) {
        const double* in = from.data() + static_cast<std::size_t>(height / 4 + r / 2) * width + width / 4;
        double* out = to.data() + static_cast<std::size_t>(r) * width;
        for (int c = 0; c < width; ++c) out[c] = in[c / 2];
    }
}

/// Keyframe k's full map, flipped as the settings ask.
Status readLevel(const std::filesystem::path& path, const KeyframeLayout& layout, bool flipHorizontal,
                 bool flipVertical, std::vector<double>& map) {
    if (Status s = readFullMap(path, layout, map); !s) return s;
    flipMap(map, layout.width, layout.height, flipHorizontal, flipVertical);
    return {};
}

/// Fills levels `fromLevel` to 3 with keyframes base + level, reading those the folder has and magnifying the
/// rest. Nothing is kept from a file that fails.
Status fillLevels(KeyframeCache& cache, const RenderSettings& settings, int base, int fromLevel) {
    const KeyframeList& list = *settings.keyframes;
    for (int level = fromLevel; level < 4; ++level) {
        const int k = base + level;
        if (k >= list.keyframeCount()) {
            synthesizeLevel(cache, level);
            continue;
        }
        if (Status s = readLevel(keyframeFilePath(list, k), cache.layout, settings.flipHorizontal,
                                 settings.flipVertical, cache.levels[level]);
            !s) {
            cache.loadedKeyframe = -1;
            return s;
        }
        ++cache.mapsRead;
    }
    return {};
}

/// Waits for a read-ahead under way and forgets it.
void dropReadAhead(KeyframeCache& cache) {
    if (cache.readAhead.done.valid()) cache.readAhead.done.wait();
    cache.readAhead.done = {};
    cache.readAhead.keyframe = -1;
}

/// Starts reading keyframe k, which the step to keyframe k - 3 needs, when the folder has it and the run will
/// get there. Without a thread to read it, the step reads it itself.
void startReadAhead(FrameRenderer& renderer, const RenderSettings& settings, int k) {
    KeyframeCache& cache = renderer.cache;
    dropReadAhead(cache);
    const KeyframeList& list = *settings.keyframes;
    if (!renderer.readAhead || k >= list.keyframeCount() || k > renderer.readAheadLast) return;
    KeyframeCache::ReadAhead& next = cache.readAhead;
    try {
        next.done = std::async(std::launch::async, [path = keyframeFilePath(list, k), layout = cache.layout,
                                                    horizontal = settings.flipHorizontal,
                                                    vertical = settings.flipVertical, &map = next.map]() -> Status {
            lowerThreadPriority();
            try {
                return readLevel(path, layout, horizontal, vertical, map);
            } catch (const std::exception&) {
                return Status::failure("There is not enough memory to read " + quotedPath(path) + ".");
            }
        });
        next.keyframe = k;
    } catch (const std::exception&) {
        next.keyframe = -1;
    }
}

/// Level 3 of a keyframe step to k: the map read ahead when it is keyframe k + 3, else read now.
Status fillDeepestLevel(FrameRenderer& renderer, const RenderSettings& settings, int k) {
    KeyframeCache& cache = renderer.cache;
    if (cache.readAhead.keyframe == k + 3 && cache.readAhead.done.valid()) {
        Status s = cache.readAhead.done.get();
        cache.readAhead.keyframe = -1;
        if (!s) {
            cache.loadedKeyframe = -1;
            return s;
        }
        cache.levels[3].swap(cache.readAhead.map);
        ++cache.mapsRead;
        return {};
    }
    return fillLevels(cache, settings, k, 3);
}

/// The layout and colour table of keyframe k, and room for the four levels.
Status prepareCache(KeyframeCache& cache, const KeyframeList& list, int k) {
    const std::filesystem::path path = keyframeFilePath(list, k);
    KeyframeLayout layout;
    if (Status s = readKeyframeLayout(path, layout); !s) return s;
    std::vector<std::uint8_t> colors;
    if (Status s = readKeyframePalette(path, layout, colors); !s) return s;
    cache.layout = layout;
    cache.palette = std::move(colors);
    cache.colorCount = layout.colorCount;
    const std::size_t cells = static_cast<std::size_t>(layout.width) * layout.height;
    for (auto& level : cache.levels) level.assign(cells, 0.0);
    return {};
}

/// The running average of a frame's minimum. A search that found nothing keeps the previous minimum, so that the
/// colour shift stays finite.
double averageMinimum(double found, double& running, int averageFrames) {
    if (found >= kNoMinimum) return running;
    const int n = std::max(averageFrames, 1);
    double m = found;
    if (running != 0) m = ((n - 1) * running + m) / n;
    running = m;
    return m;
}

/// Smallest non-zero value over columns [x, x + w) of rows y + first, y + first + step, ... below y + h, clipped to
/// the map; kNoMinimum + 0.5 when there is none. Only a strictly smaller value replaces the best, so NaN never wins.
/// The smallest of a set does not depend on the order it is read in, so each lane keeps its own and they meet
/// at the end; zeros of either sign never count, and NaN never wins in a lane or between them.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
double smallestNonZero(const std::vector<double>& map, int width, int height, int x, int y, int w, int h, int first,
                       int step) {
    using Lanes = double __attribute__((vector_size(32)));
    constexpr int kLanes = sizeof(Lanes) / sizeof(double);
    Lanes lanes = Lanes{} + (kNoMinimum + 0.5);
    double m = kNoMinimum + 0.5;
    const int x0 = std::max(x, 0);
    const int x1 = std::min(x + w, width);
    for (int r = std::max(y, 0) + first; r < std::min(y + h, height); r += step) {
        const double* row = map.data() + static_cast<std::size_t>(r) * width;
        int c = x0;
        for (; c + kLanes <= x1; c += kLanes) {
            Lanes v;
            std::memcpy(&v, row + c, sizeof v);
            lanes = ((v != 0) & (v < lanes)) ? v : lanes;
        }
        for (; c < x1; ++c) {
            if (row[c] != 0 && row[c] < m) m = row[c];
        }
    }
    for (int g = 0; g < kLanes; ++g) m = lanes[g] < m ? lanes[g] : m;
    return m;
}

/// minimumInRect with the rows interleaved over the pool.
double minimumInRectOnPool(WorkerPool& pool, const std::vector<double>& map, int width, int height, int x, int y,
                           int w, int h) {
    std::vector<double> best(static_cast<std::size_t>(pool.workerCount()), kNoMinimum + 0.5);
    pool.run([&](int worker, int workerCount) {
        best[worker] = smallestNonZero(map, width, height, x, y, w, h, worker, workerCount);
    });
    double m = kNoMinimum + 0.5;
    for (double b : best) m = b < m ? b : m;
    return m - 0.5;
}

/// Brings the cache to keyframe k: the set-up of a run (frame images, the image to show, the driver's output
/// set-up, four maps), one keyframe step, or a reload after a jump.
Status updateCache(FrameRenderer& renderer, const RenderSettings& settings, const FrameHooks& hooks,
                   FrameLockHolder& frameLock, int k, MovieFrameContext& context) {
    KeyframeCache& cache = renderer.cache;
    if (k == cache.loadedKeyframe) return {};
    if (cache.loadedKeyframe != -1) {
        if (k == cache.loadedKeyframe + 1) {
            std::rotate(cache.levels.begin(), cache.levels.begin() + 1, cache.levels.end());
            if (Status s = fillDeepestLevel(renderer, settings, k); !s) return s;
        } else {
            dropReadAhead(cache);
            if (Status s = fillLevels(cache, settings, k, 0); !s) return s;  // a jump, or a step back: read afresh
        }
        cache.loadedKeyframe = k;
        startReadAhead(renderer, settings, k + 4);
        return {};
    }

    const int frameWidth = settings.finalWidth;
    const int frameHeight = settings.finalHeight;
    const bool projection = settings.projection.active != 0;
    if (renderer.setUpFrom) {
        renderer.runningMinimum2D = renderer.setUpFrom->runningMinimum2D;
        renderer.runningMinimum3D = renderer.setUpFrom->runningMinimum3D;
        renderer.visibleRowFirst = renderer.setUpFrom->visibleRowFirst;
        renderer.visibleRowLast = renderer.setUpFrom->visibleRowLast;
        renderer.setUpFrom.reset();
    } else {
        renderer.runningMinimum3D = 0;
        renderer.visibleRowLast = frameHeight;
        renderer.visibleRowFirst = 0;
    }
    dropReadAhead(cache);
    if (Status s = prepareCache(cache, *settings.keyframes, k); !s) return s;
    if (Status s = fillLevels(cache, settings, k - 1, 1); !s) return s;
    if (context.frame.width() != frameWidth || context.frame.height() != frameHeight) {
        context.frame = Raster(frameWidth, frameHeight);
    }
    if (!projection) {
        context.frame3D = Raster();
    } else if (context.frame3D.width() != frameWidth || context.frame3D.height() != settings.height3D) {
        context.frame3D = Raster(frameWidth, settings.height3D);
    }
    Raster& levelImage = renderer.levelImage;
    if (levelImage.width() != cache.layout.width || levelImage.height() != cache.layout.height) {
        levelImage = Raster(cache.layout.width, cache.layout.height);
    }
    if (hooks.publishImage) {
        frameLock.lock();
        hooks.publishImage(projection ? context.frame3D : context.frame);
        frameLock.unlock();
    }
    if (hooks.setUpOutput) {
        if (Status s = hooks.setUpOutput(); !s) return s;
    }
    // As for any keyframe step: the levels move down one and the deepest one is read.
    std::rotate(cache.levels.begin(), cache.levels.begin() + 1, cache.levels.end());
    if (Status s = fillLevels(cache, settings, k, 3); !s) return s;
    cache.loadedKeyframe = k;
    startReadAhead(renderer, settings, k + 4);
    return {};
}

}  // namespace

CarriedFrameState carriedState(const FrameRenderer& renderer) {
    return {renderer.runningMinimum2D, renderer.runningMinimum3D, renderer.visibleRowFirst, renderer.visibleRowLast};
}

FrameGeometry frameGeometry(float h, int width, int height) {
    FrameGeometry g;
    const float k = std::trunc(h);
    g.fraction = h - k;
    g.t = std::exp(-g.fraction * 0.693147180559);
    g.srcX = static_cast<int>((1 - g.t) * width * 0.5);
    g.srcY = static_cast<int>((1 - g.t) * height * 0.5);
    // At least one pixel, so that a map one pixel wide or high still covers the frame.
    g.srcW = std::max(1, static_cast<int>(g.t * width));
    g.srcH = std::max(1, static_cast<int>(g.t * height));
    return g;
}

LevelPlacement levelPlacement(int level, double t, int frameWidth, int frameHeight, int width, int height) {
    const double q = std::pow(0.5, level);
    const double ratio = 1 - q / t;
    const int hx = frameWidth / 2;
    const int hy = frameHeight / 2;
    LevelPlacement p;
    const int xd = static_cast<int>(std::ceil(hx * ratio));
    const int yd = static_cast<int>(std::ceil(hy * ratio));
    const int dw = frameWidth - 2 * xd;
    const int dh = frameHeight - 2 * yd;
    if (dw <= 0 || dh <= 0) return p;  // a frame of a pixel or two: nothing of this level shows
    const int xs = static_cast<int>((xd - hx * ratio) * width / dw);
    const int ys = static_cast<int>((yd - hy * ratio) * height / dh);
    if (width - 2 * xs <= 0 || height - 2 * ys <= 0) return p;
    p.destination = {xd, yd, dw, dh};
    p.source = {xs, ys, width - 2 * xs, height - 2 * ys};
    return p;
}

double minimumInRect(const std::vector<double>& map, int width, int height, int x, int y, int w, int h) {
    return smallestNonZero(map, width, height, x, y, w, h, 0, 1) - 0.5;
}

double minimumOnBorder(const std::vector<double>& map, int width, int height, int x, int y, int w, int h) {
    const int x0 = std::max(x, 0);
    const int x1 = std::min(x + w, width);
    const int y0 = std::max(y, 0);
    const int y1 = std::min(y + h, height);
    if (x0 >= x1 || y0 >= y1) return kNoMinimum;
    // Only edges the rectangle really has inside the map are scanned.
    double m = kNoMinimum + 0.5;
    auto take = [&](int r, int c) {
        const double v = map[static_cast<std::size_t>(r) * width + c];
        if (v != 0 && v < m) m = v;
    };
    for (int c = x0; c < x1; ++c) {
        if (y == y0) take(y0, c);
        if (y + h == y1) take(y1 - 1, c);
    }
    for (int r = y0; r < y1; ++r) {
        if (x == x0) take(r, x0);
        if (x + w == x1) take(r, x1 - 1);
    }
    return m - 0.5;
}

Status RenderMovieFrame(FrameRenderer& renderer, const RenderSettings& settings, const FrameHooks& hooks, float h,
                        float colourDivisor, float colourOffset, MovieFrameContext& context) {
    const KeyframeList* list = settings.keyframes;
    if (list == nullptr || list->keyframeCount() == 0) return Status::failure("No keyframes are loaded.");
    const int frameWidth = settings.finalWidth;
    const int frameHeight = settings.finalHeight;
    const bool projection = settings.projection.active != 0;
    const auto badSide = [](int side) { return side <= 0 || side > kMaxFrameSide; };
    if (badSide(frameWidth) || badSide(frameHeight) || (projection && badSide(settings.height3D))) {
        return Status::failure("The frame size " + std::to_string(frameWidth) + " x " +
                               std::to_string(projection ? settings.height3D : frameHeight) + " is not valid.");
    }
    if (!(h >= 0 && h < static_cast<float>(list->keyframeCount()))) {
        return Status::failure("The frame position " + std::to_string(h) + " lies outside the keyframes.");
    }
    const int k = static_cast<int>(h);
    KeyframeCache& cache = renderer.cache;
    if (!renderer.pool) renderer.pool = std::make_unique<WorkerPool>(renderer.workerCount);
    WorkerPool& pool = *renderer.pool;
    FrameLockHolder frameLock(hooks.frameLock);

    // Set-up, or the keyframe step. Maps and frames are large: running out of memory stops the run with a message.
    try {
        if (Status s = updateCache(renderer, settings, hooks, frameLock, k, context); !s) return s;
    } catch (const std::bad_alloc&) {
        cache.loadedKeyframe = -1;
        return Status::failure("There is not enough memory for keyframes of " + std::to_string(cache.layout.width) +
                               " x " + std::to_string(cache.layout.height) + " and frames of " +
                               std::to_string(frameWidth) + " x " + std::to_string(frameHeight) + ".");
    }

    renderer.clock.t.fill(0);
    renderer.clock.t[0] = PhaseClock::now();
    const int width = cache.layout.width;
    const int height = cache.layout.height;
    const FrameGeometry geometry = frameGeometry(h, width, height);
    const double t = geometry.t;

    const ColorScale scale = colorScaleFor(settings.usePalette, cache.colorCount, colourDivisor, colourOffset);
    const int u = scale.paletteLength;
    const double v = scale.colorStep;
    double w = scale.colorShift;

    const int averageFrames = settings.subtractMinimum.averageFrames;
    const bool subtract = settings.subtractMinimum.subtract != 0;
    const std::vector<double>& level0 = cache.levels[0];
    if (projection) {
        // The part of level 0 that the previous 3D frame showed.
        const auto rows = static_cast<double>(std::int64_t{height} * renderer.visibleRowFirst);
        const auto span = static_cast<double>(
            std::int64_t{renderer.visibleRowLast - renderer.visibleRowFirst} * height);
        const int r0 = static_cast<int>(rows * t / frameHeight + geometry.srcY);
        const int rc = static_cast<int>(span * t / frameHeight);
        const double found = minimumInRectOnPool(pool, level0, width, height, geometry.srcX, r0, geometry.srcW, rc);
        const double m = averageMinimum(found, renderer.runningMinimum3D, averageFrames);
        if (subtract) w = w - m / v;
    } else if (subtract) {
        const double found =
            minimumOnBorder(level0, width, height, geometry.srcX, geometry.srcY, geometry.srcW, geometry.srcH);
        const double m = averageMinimum(found, renderer.runningMinimum2D, averageFrames);
        w = w - m / v;
    }
    w = wrapColorShift(w, u);

    deriveLevelFrameAngles(renderer.inputs.frameLightAngle, settings.relief, settings.projection, renderer.angles);
    RenderJob job;
    job.destination = &renderer.levelImage;
    job.width = width;
    job.height = height;
    job.colorStep = v;
    job.colorShift = w;
    job.paletteLength = u;
    UserPaletteBytes userPalette{};
    if (settings.usePalette && settings.colorTable != nullptr) userPaletteBytes(*settings.colorTable, userPalette);
    job.palette = settings.usePalette ? userPalette.data() : cache.palette.data();
    job.relief = &settings.relief;
    job.invertRelief = projection && settings.projection.zScale < 0;
    job.angles = renderer.angles;

    Raster& frame = context.frame;
    const int levels = settings.keyframeByKeyframe ? 1 : 4;
    auto placementOf = [&](int level) {
        if (level == 0) {
            return LevelPlacement{{geometry.srcX, geometry.srcY, geometry.srcW, geometry.srcH},
                                  {0, 0, frameWidth, frameHeight}};
        }
        return levelPlacement(level, t, frameWidth, frameHeight, width, height);
    };
    LevelPlacement placement = placementOf(0);
    for (int level = 0; level < levels; ++level) {
        renderer.levelScale = level == 0 ? t : renderer.levelScale * 2;
        // The next level covers the middle of this one: neither coloured nor stretched here.
        const LevelPlacement next = level + 1 < levels ? placementOf(level + 1) : LevelPlacement{};
        const PixelRect& source = placement.source;
        job.rows = cache.levels[level].data();
        job.levelScale = renderer.levelScale;
        job.firstRow = source.y;
        job.endRow = source.y + source.height;
        job.firstColumn = source.x;
        job.endColumn = source.x + source.width;
        job.hole = sourceHole(source, placement.destination, next.destination);
        RenderLevel(pool, job);
        frameLock.lock();
        stretchOnPool(pool, renderer.levelImage, fromStoredRows(source, height), frame,
                      fromStoredRows(placement.destination, frameHeight),
                      fromStoredRows(next.destination, frameHeight));
        if (level + 1 < levels) frameLock.unlock();
        placement = next;
    }
    renderer.clock.t[1] = PhaseClock::now();

    // The 3D stage and the caption close the frame, still under the lock taken for the last level, so that the
    // front end never paints a frame without them.
    if (projection) {
        try {
            ProjectFrame(renderer, settings, context, t);
        } catch (const std::bad_alloc&) {
            return Status::failure("There is not enough memory for the 3D projection of frames of " +
                                   std::to_string(frameWidth) + " x " + std::to_string(frameHeight) + ".");
        }
    }
    if (settings.showZoomText) {
        const bool known = k < static_cast<int>(list->summaries.size());
        const float mantissa = known ? list->summaries[k].zoomMantissa : 1.0f;
        const std::int32_t exponent = known ? list->summaries[k].zoomExponent : 0;
        if (Status s = DrawZoomText(projection ? context.frame3D : context.frame, FormatZoomText(h, mantissa, exponent),
                                    settings.caption);
            !s) {
            return s;
        }
    }
    frameLock.unlock();
    if (hooks.requestRepaint) hooks.requestRepaint();
    return {};
}

void freeRenderBuffers(FrameRenderer& renderer) {
    dropReadAhead(renderer.cache);
    std::vector<double>().swap(renderer.cache.readAhead.map);
    for (auto& level : renderer.cache.levels) std::vector<double>().swap(level);
    renderer.projection.freeRunBuffers();
    renderer.cache.loadedKeyframe = -1;
}

}  // namespace zoomreel
