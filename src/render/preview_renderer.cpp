#include "render/preview_renderer.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <utility>

#include "platform/atomic_file.h"
#include "render/frame_renderer.h"
#include "render/level_coloring.h"

namespace zoomreel {
namespace {

constexpr double kNoSample = 1e100;

/// The keyframes the two levels must hold for a frame in keyframe k: k and k + 1, or the last keyframe twice
/// when k is the last (the advance clamps to K - 2 and then reads keyframe K - 1 into both levels).
std::array<std::int32_t, 2> levelKeyframesFor(int k, int keyframeCount) {
    if (k + 1 < keyframeCount) return {k, k + 1};
    return {keyframeCount - 1, keyframeCount - 1};
}

/// The layout and colour table from keyframe e, the first the frame shows.
Status setUp(PreviewRenderer& renderer, const KeyframeList& list, int e) {
    const std::filesystem::path path = keyframeFilePath(list, e);
    KeyframeLayout layout;
    if (Status s = readKeyframeLayout(path, layout); !s) return s;
    if (layout.previewWidth <= 0 || layout.previewHeight <= 0) {
        return Status::failure("The keyframe " + quotedPath(path) + " holds no preview map.");
    }
    std::vector<std::uint8_t> colors;
    if (Status s = readKeyframePalette(path, layout, colors); !s) return s;
    renderer.layout = layout;
    renderer.palette = std::move(colors);
    renderer.levelKeyframes = {-1, -1};
    const std::size_t cells = static_cast<std::size_t>(layout.previewWidth) * layout.previewHeight;
    renderer.frameMap.assign(cells, 0.0);
    if (renderer.frame.width() != layout.previewWidth || renderer.frame.height() != layout.previewHeight) {
        renderer.frame = Raster(layout.previewWidth, layout.previewHeight);
    }
    return {};
}

/// Brings the levels to the keyframes `wanted`, reading only the preview maps that no level holds yet: a keyframe
/// step moves level 1 down and reads one map, a jump reads both, the last keyframe is read once for both levels.
Status advance(PreviewRenderer& renderer, const KeyframeList& list, const std::array<std::int32_t, 2>& wanted) {
    auto& held = renderer.levelKeyframes;
    if (held[0] != wanted[0] && held[1] == wanted[0]) {
        std::swap(renderer.levels[0], renderer.levels[1]);
        std::swap(held[0], held[1]);
    }
    for (int level = 0; level < 2; ++level) {
        if (held[level] == wanted[level]) continue;
        const int other = 1 - level;
        if (held[other] == wanted[level]) {
            renderer.levels[level] = renderer.levels[other];
        } else {
            held[level] = -1;
            if (Status s = readPreviewMap(keyframeFilePath(list, wanted[level]), renderer.layout, renderer.levels[level]);
                !s) {
                return s;
            }
            ++renderer.mapsRead;
        }
        held[level] = wanted[level];
    }
    return {};
}

}  // namespace

Status RenderPreviewFrame(PreviewRenderer& renderer, const PreviewSettings& settings, float h, float colourDivisor,
                          float colourOffset) {
    const KeyframeList* list = settings.keyframes;
    if (list == nullptr || list->keyframeCount() == 0) return Status::failure("No keyframes are loaded.");
    const int count = list->keyframeCount();
    if (!(h >= 0 && std::isfinite(h))) {
        return Status::failure("The frame position " + std::to_string(h) + " lies outside the keyframes.");
    }
    // A position past the last keyframe shows the last keyframe, as the advance's clamp does.
    const int k = h < static_cast<float>(count) ? static_cast<int>(h) : count - 1;
    try {
        if (renderer.loadedKeyframe == -1) {
            if (Status s = setUp(renderer, *list, std::min(k, count - 1)); !s) return s;
        }
        if (Status s = advance(renderer, *list, levelKeyframesFor(k, count)); !s) {
            releasePreviewRenderer(renderer);
            return s;
        }
    } catch (const std::bad_alloc&) {
        releasePreviewRenderer(renderer);
        return Status::failure("There is not enough memory for preview maps of " +
                               std::to_string(renderer.layout.previewWidth) + " x " +
                               std::to_string(renderer.layout.previewHeight) + ".");
    }
    renderer.loadedKeyframe = std::max(0, std::min(k, count - 2));

    // Nearest neighbour, with the integer halves of the frame: level 1 where the frame's centre shows the next
    // keyframe, level 0 elsewhere. The smallest non-zero level-0 sample of this frame is what subtraction takes.
    const int pw = renderer.layout.previewWidth;
    const int ph = renderer.layout.previewHeight;
    const int halfW = pw / 2;
    const int halfH = ph / 2;
    const int quarterW = halfW / 2;
    const int quarterH = halfH / 2;
    const double t = frameGeometry(h, pw, ph).t;
    const std::vector<double>& level0 = renderer.levels[0];
    const std::vector<double>& level1 = renderer.levels[1];
    std::vector<int>& columns = renderer.columns;
    columns.resize(static_cast<std::size_t>(pw));
    for (int j = 0; j < pw; ++j) columns[j] = static_cast<int>((j - halfW) * t + halfW);
    if (!renderer.pool) renderer.pool = std::make_unique<WorkerPool>();
    WorkerPool& pool = *renderer.pool;
    std::vector<double> minima(static_cast<std::size_t>(pool.workerCount()), kNoSample);
    pool.run([&](int worker, int workerCount) {
        double minimum = kNoSample;
        for (int i = worker; i < ph; i += workerCount) {
            const int r = static_cast<int>((i - halfH) * t + halfH);
            const bool innerRow = quarterH < r && r < halfH + quarterH;
            const bool rowInside = r >= 0 && r < ph;
            double* out = renderer.frameMap.data() + static_cast<std::size_t>(i) * pw;
            // Level 1 row 2r - ph/2, read at column 2c - pw/2.
            const double* inner = innerRow ? level1.data() + static_cast<std::size_t>(2 * r - halfH) * pw : nullptr;
            const double* outer = rowInside ? level0.data() + static_cast<std::size_t>(r) * pw : nullptr;
            for (int j = 0; j < pw; ++j) {
                const int c = columns[j];
                if (innerRow && quarterW < c && c < halfW + quarterW) {
                    out[j] = inner[2 * c - halfW];
                } else if (rowInside && c >= 0 && c < pw) {
                    const double value = outer[c];
                    out[j] = value;
                    if (value != 0 && value < minimum) minimum = value;
                } else {
                    out[j] = 0;
                }
            }
        }
        minima[worker] = minimum;
    });
    double minimum = kNoSample;
    for (double m : minima) minimum = m < minimum ? m : minimum;

    // The movie's colour rule; the subtracted minimum is this frame's own, without smoothing over frames. A frame
    // whose level-0 samples are all 0 has no minimum to take off.
    const ColorScale scale = colorScaleFor(settings.usePalette, renderer.layout.colorCount, colourDivisor, colourOffset);
    double w = scale.colorShift;
    if (settings.subtractMinimum && minimum < kNoSample) w = w - minimum / scale.colorStep;
    UserPaletteBytes userPalette{};
    if (settings.usePalette && settings.colorTable != nullptr) userPaletteBytes(*settings.colorTable, userPalette);
    RenderJob job;
    job.destination = &renderer.frame;
    job.rows = renderer.frameMap.data();
    job.width = pw;
    job.height = ph;
    job.colorStep = scale.colorStep;
    job.colorShift = wrapColorShift(w, scale.paletteLength);
    job.paletteLength = scale.paletteLength;
    job.palette = settings.usePalette ? userPalette.data() : renderer.palette.data();
    RenderLevel(pool, job);
    return {};
}

void releasePreviewRenderer(PreviewRenderer& renderer) {
    renderer.loadedKeyframe = -1;
    renderer.levelKeyframes = {-1, -1};
    for (auto& level : renderer.levels) std::vector<double>().swap(level);
    std::vector<double>().swap(renderer.frameMap);
    renderer.frame = Raster();
}

}  // namespace zoomreel
