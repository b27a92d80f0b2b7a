// Whole movies of the standard workload (keyframes 1 to 3 at the default 20 images per keyframe: 39 frames of
// 1280 x 720), with 3D off and on, written with Microsoft Video 1 and as full frames. For each: the movie's frames
// per second, the renderer's alone on the same positions (file reads included), their ratio (goal: at most 1.15,
// the encoder and the keyframe reads never stalling the renderer), and the share of the movie's time that the
// renderer, the encoder (the same frames written alone) and the keyframe reads (the same maps read alone) would
// take by themselves. Shares above 1 together mean the parts overlap. Each iteration times every part once, in
// turn; the figures come from the fastest time of each part, which a shared machine's bursts of other work
// disturb least.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "keyframes/keyframe_file.h"
#include "output/avi_writer.h"
#include "output/movie_driver.h"
#include "render/frame_renderer.h"
#include "standard_workload.h"

namespace zoomreel {
namespace {

using bench::kFinalWidth;
using bench::workload;

constexpr int kStart = 1;
constexpr int kEnd = 3;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

MovieRequest movieRequest(bool projection) {
    bench::Workload& w = workload();
    w.list.selectionStart = kStart;
    w.list.selectionEnd = kEnd;
    MovieRequest request;
    request.keyframes = &w.list;
    request.video.finalWidth = kFinalWidth;
    request.video.height3D = 720;
    request.video.fps = 30;
    request.projection.active = projection ? 1 : 0;
    return request;
}

void movie(benchmark::State& state, bool projection, FourCC codec) {
    bench::Workload& w = workload();
    const MovieRequest request = movieRequest(projection);
    const KeyPointCurve speed = movieSpeedCurve(w.list, false);
    const WalkLimits limits{kStart, kEnd, w.list.keyframeCount(), false};
    std::vector<float> positions;
    walkMovie(speed, limits, nullptr, [&](float h, float) {
        positions.push_back(h);
        return true;
    });

    constexpr double kNone = 1e300;
    double movieSeconds = kNone, rendererSeconds = kNone, encoderSeconds = kNone, readSeconds = kNone;
    auto keepFastest = [](double& fastest, double seconds) { fastest = std::min(fastest, seconds); };
    int frames = 0;
    for (auto _ : state) {
        // The movie, end to end.
        MovieDriver driver;
        MovieCallbacks callbacks;
        callbacks.chooseCompressor = [codec](const CompressorRequest&) {
            return std::optional<CompressorChoice>(CompressorChoice{codec, 1, 10000});
        };
        Raster lastFrame;
        callbacks.frameDone = [&](const MovieProgress& progress, const Raster& shown) {
            if (progress.framesComputed == 1) lastFrame = shown;
        };
        auto start = std::chrono::steady_clock::now();
        const MovieOutcome outcome = MovieThread(driver, request, callbacks);
        keepFastest(movieSeconds, secondsSince(start));
        frames = outcome.framesWritten;
        if (!outcome.status.ok || frames != static_cast<int>(positions.size())) {
            state.SkipWithError(outcome.status.message.c_str());
            return;
        }

        // The renderer alone on the same positions.
        FrameRenderer renderer;
        RenderSettings settings;
        settings.keyframes = &w.list;
        settings.projection.active = request.projection.active;
        settings.finalWidth = kFinalWidth;
        settings.finalHeight = w.list.height * kFinalWidth / w.list.width;
        settings.height3D = 720;
        renderer.inputs.frameLightAngle = settings.relief.lightDirection;  // as the movie sets it
        MovieFrameContext context;
        const auto divisor = static_cast<float>(w.list.summaries[0].colorDivisor);
        start = std::chrono::steady_clock::now();
        for (float h : positions) {
            if (!RenderMovieFrame(renderer, settings, FrameHooks{}, h, divisor, 0.0f, context).ok) std::abort();
        }
        keepFastest(rendererSeconds, secondsSince(start));

        // The encoder alone on as many frames.
        const std::filesystem::path file = w.folder / "encoder-alone.avi";
        start = std::chrono::steady_clock::now();
        {
            AviWriter writer(file, codec, 30);
            for (int i = 0; i < frames; ++i) writer.AppendFrame(lastFrame);
            writer.Release();
        }
        keepFastest(encoderSeconds, secondsSince(start));
        std::filesystem::remove(file);

        // The keyframe reads alone: the four maps of the first frame and one per keyframe step after it.
        start = std::chrono::steady_clock::now();
        std::vector<double> map;
        for (int k = kStart - 1; k <= kEnd + 2 && k < w.list.keyframeCount(); ++k) {
            if (!readFullMap(keyframeFilePath(w.list, k), w.list.layout, map).ok) std::abort();
        }
        keepFastest(readSeconds, secondsSince(start));
    }
    state.counters["frames"] = frames;
    state.counters["movie_fps"] = frames / movieSeconds;
    state.counters["renderer_fps"] = frames / rendererSeconds;
    state.counters["movie_vs_renderer"] = movieSeconds / rendererSeconds;
    state.counters["share_render"] = rendererSeconds / movieSeconds;
    state.counters["share_encode"] = encoderSeconds / movieSeconds;
    state.counters["share_read"] = readSeconds / movieSeconds;
}

void BM_Movie2D_MSVC(benchmark::State& state) { movie(state, false, kDefaultCompressor); }
void BM_Movie2D_Uncompressed(benchmark::State& state) { movie(state, false, kUncompressed); }
void BM_Movie3D_MSVC(benchmark::State& state) { movie(state, true, kDefaultCompressor); }
void BM_Movie3D_Uncompressed(benchmark::State& state) { movie(state, true, kUncompressed); }

BENCHMARK(BM_Movie2D_MSVC)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(6);
BENCHMARK(BM_Movie2D_Uncompressed)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(6);
BENCHMARK(BM_Movie3D_MSVC)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Movie3D_Uncompressed)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace zoomreel

BENCHMARK_MAIN();
