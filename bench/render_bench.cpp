// Movie frames of the standard workload (8 keyframes of 1920 x 1080 from the sample generator, converted, frames at
// positions spread over [1, 5), final width 1280) against the memory floor: reading the four cached levels once
// with a plain summing loop. Goals: the 2D frame without relief within 4x the floor on 2 workers; relief at most
// 2.5x the frame without it; near-linear scaling from 1 to 2 workers. The 3D frame at the default 3D settings
// (filter 8, shadows 0.8 at 45 degrees, light from the default relief direction) at most 2x the 2D frame without
// relief, with each phase's share of its time; the same without shadows; the smoothing alone at two widths.
//
// The workload is made in a child process, so that this process's peak resident size counts rendering only:
// "held_MiB" is what a run must hold (the four levels, the level image, the frame), "peak_MiB" the peak resident
// growth during the run, "extra_MiB" the difference (goal: at most 32).
#include <benchmark/benchmark.h>


#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <numeric>

#include "keyframes/keyframe_list.h"
#include "platform/worker_pool.h"
#include "render/frame_renderer.h"
#include "render/projection.h"
#include "standard_workload.h"

namespace zoomreel {
namespace {

using bench::kFinalWidth;
using bench::kFramesPerKeyframe;
using bench::kHeight;
using bench::kWidth;
using bench::workload;
using bench::Workload;

/// A field of /proc/self/status ("VmRSS", "VmHWM") in MiB.
double statusMiB(const char* field) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return 0;
    char line[256];
    double kib = 0;
    const std::size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') kib = std::atof(line + n + 1);
    }
    std::fclose(f);
    return kib / 1024.0;
}

/// Starts a new peak: the kernel resets the high-water mark to the present resident size.
void resetPeakResident() {
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
}

void BM_MemoryFloor(benchmark::State& state) {
    std::vector<std::vector<double>> levels(4, std::vector<double>(static_cast<std::size_t>(kWidth) * kHeight));
    for (auto& level : levels) std::iota(level.begin(), level.end(), 1.0);
    for (auto _ : state) {
        double sum = 0;
        for (const auto& level : levels) {
            for (double v : level) sum += v;
        }
        benchmark::DoNotOptimize(sum);
    }
}
// The machine is shared: every figure is the median of a few repetitions.
BENCHMARK(BM_MemoryFloor)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

enum class Mode { Flat, Relief, Projection, ProjectionUnshadowed };

void renderFrames(benchmark::State& state, Mode mode) {
    Workload& w = workload();
    resetPeakResident();
    const double residentBefore = statusMiB("VmRSS");
    FrameRenderer renderer(static_cast<int>(state.range(0)));
    RenderSettings settings;
    settings.keyframes = &w.list;
    const bool projection = mode == Mode::Projection || mode == Mode::ProjectionUnshadowed;
    settings.projection.active = projection ? 1 : 0;  // default 3D settings otherwise
    if (mode == Mode::ProjectionUnshadowed) settings.projection.shadowCoef = 1;
    settings.relief.active = mode == Mode::Relief ? 1 : 0;
    settings.finalWidth = kFinalWidth;
    settings.finalHeight = kHeight * kFinalWidth / kWidth;
    settings.height3D = 720;
    const FrameHooks hooks;
    MovieFrameContext context;
    renderer.inputs.frameLightAngle = settings.relief.lightDirection;
    const float divisor = static_cast<float>(w.list.summaries[0].colorDivisor);

    int step = 0;
    std::array<double, 5> phases{};  // 2D frame, height field, filter, shadows, projection
    for (auto _ : state) {
        const float h = 1.0f + static_cast<float>(step) / kFramesPerKeyframe;
        if (step == 0) {
            // Back to the start: a fresh set-up of four maps, which a movie pays once.
            state.PauseTiming();
            freeRenderBuffers(renderer);
            if (!RenderMovieFrame(renderer, settings, hooks, h, divisor, 0.0f, context).ok) {
                state.SkipWithError("frame");
            }
            state.ResumeTiming();
        } else if (!RenderMovieFrame(renderer, settings, hooks, h, divisor, 0.0f, context).ok) {
            state.SkipWithError("frame");
        }
        step = (step + 1) % (4 * kFramesPerKeyframe);
        const auto& t = renderer.clock.t;
        if (projection) {
            for (int i = 0; i < 5; ++i) phases[i] += t[i + 1] - t[i];
        }
    }
    const double held = (4.0 * kWidth * kHeight * 8 + static_cast<double>(renderer.levelImage.sizeBytes()) +
                         static_cast<double>(context.frame.sizeBytes())) / (1024.0 * 1024.0);
    const double peak = statusMiB("VmHWM") - residentBefore;
    state.counters["held_MiB"] = held;
    state.counters["peak_MiB"] = peak;
    state.counters["extra_MiB"] = peak - held;
    if (projection) {
        // Each phase's share of the frame (the 3D buffers are not counted in held_MiB).
        const double total = phases[0] + phases[1] + phases[2] + phases[3] + phases[4];
        const char* names[] = {"share_2D", "share_height", "share_filter", "share_shadows", "share_project"};
        for (int i = 0; i < 5; ++i) state.counters[names[i]] = total > 0 ? phases[i] / total : 0;
    }
}

void BM_Frame2D(benchmark::State& state) { renderFrames(state, Mode::Flat); }
void BM_Frame2DRelief(benchmark::State& state) { renderFrames(state, Mode::Relief); }
void BM_Frame3D(benchmark::State& state) { renderFrames(state, Mode::Projection); }
void BM_Frame3DUnshadowed(benchmark::State& state) { renderFrames(state, Mode::ProjectionUnshadowed); }

// The smoothing alone on a frame-sized field with holes, at filter settings 8 and 32 (radius 5 and 21 at width
// 1280): a cost that grows with the width, not with its square, rises about 3.7x between the two, not 14x.
void BM_Smoothing(benchmark::State& state) {
    constexpr int kFrameHeight = kHeight * kFinalWidth / kWidth;
    std::vector<double> original(static_cast<std::size_t>(kFinalWidth) * kFrameHeight);
    for (std::size_t i = 0; i < original.size(); ++i) {
        original[i] = i % 97 == 0 ? kNoData : std::sin(0.001 * static_cast<double>(i)) * 50;
    }
    WorkerPool pool(static_cast<int>(state.range(1)));
    GaussianKernel kernel;
    SmoothingBuffers buffers;
    std::vector<double> field;
    const double width = filterWidthFor(static_cast<double>(state.range(0)), kFinalWidth);
    for (auto _ : state) {
        state.PauseTiming();
        field = original;
        state.ResumeTiming();
        smoothHeightField(pool, field, kFinalWidth, kFrameHeight, width, kernel, buffers, 100.0);
    }
    state.counters["radius"] = filterRadius(width);
}
// 3D frames as wide as their keyframes (two of width x width * 9 / 16 from the sample generator, the 3D image as
// high as the frame), at the default 3D settings on 2 workers: the time per frame, how it grows per doubling of
// the width, and the working memory beyond the four levels, the level image, the frame and the 3D image, in bytes
// per frame pixel.
void BM_Frame3DLarge(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = width * 9 / 16;
    static std::map<int, std::unique_ptr<Workload>> workloads;
    auto& made = workloads[width];
    if (!made) made = std::make_unique<Workload>(width, height, 2, 500);
    Workload& w = *made;
    resetPeakResident();
    const double residentBefore = statusMiB("VmRSS");
    FrameRenderer renderer(2);
    RenderSettings settings;
    settings.keyframes = &w.list;
    settings.finalWidth = width;
    settings.finalHeight = height;
    settings.height3D = height;
    MovieFrameContext context;
    renderer.inputs.frameLightAngle = settings.relief.lightDirection;
    const float divisor = static_cast<float>(w.list.summaries[0].colorDivisor);
    // The set-up frame, before the timing starts.
    if (!RenderMovieFrame(renderer, settings, {}, 0.0f, divisor, 0.0f, context).ok) state.SkipWithError("frame");
    int step = 1;
    double shadows = 0;
    double flat = 0;
    for (auto _ : state) {
        const float h = static_cast<float>(step % kFramesPerKeyframe) / kFramesPerKeyframe;
        if (!RenderMovieFrame(renderer, settings, {}, h, divisor, 0.0f, context).ok) state.SkipWithError("frame");
        ++step;
        const auto& t = renderer.clock.t;
        shadows += t[4] - t[3];
        flat += t[1] - t[0];
    }
    state.counters["shadows_per_2D"] = flat > 0 ? shadows / flat : 0;
    // Rays counted per pixel, and those that land on a cell already darkened all the way: the walk counts each.
    double hits = 0;
    double beyond = 0;
    for (const std::int32_t c : renderer.projection.shadowCounts) {
        hits += c;
        beyond += std::max(0, c - kShadowSaturation);
    }
    state.counters["hits_per_px"] = hits / (static_cast<double>(width) * height);
    state.counters["saturated_hits_per_px"] = beyond / (static_cast<double>(width) * height);
    const double pixels = static_cast<double>(width) * height;
    const double held = 4.0 * pixels * 8 + static_cast<double>(renderer.levelImage.sizeBytes()) +
                        static_cast<double>(context.frame.sizeBytes()) + static_cast<double>(context.frame3D.sizeBytes());
    const double peak = (statusMiB("VmHWM") - residentBefore) * 1024 * 1024;
    state.counters["peak_MiB"] = peak / (1024 * 1024);
    state.counters["extra_B_per_px"] = (peak - held) / pixels;
}
BENCHMARK(BM_Frame3DLarge)->Arg(1920)->Arg(3840)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Frame3DLarge)->Arg(7680)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

BENCHMARK(BM_Frame2D)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Frame2DRelief)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Frame3D)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Frame3DUnshadowed)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Smoothing)->Args({8, 2})->Args({32, 2})->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace zoomreel

BENCHMARK_MAIN();
