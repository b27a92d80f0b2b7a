// The conversion of 1920 x 1080 maps against the file work it cannot avoid: reading each map and writing each
// keyframe. The goal is a conversion within twice that floor. A folder of several maps is converted, as in use,
// so that the one-time set-up of the first map is spread over the others as it is in a real folder.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "keyframes/conversion.h"
#include "keyframes/iteration_map.h"
#include "keyframes/keyframe_file.h"
#include "platform/worker_pool.h"

namespace zoomreel {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kPreviewBlock = 4;
constexpr int kMaps = 8;  // the standard workload of the later benchmarks: 8 maps of 1920 x 1080

/// A folder holding kMaps realistic maps (smooth bands with interior holes), made once per run.
struct Workload {
    std::filesystem::path folder;
    std::vector<std::filesystem::path> maps;

    Workload() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zoomreel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        folder = pattern;
        IterationMap m;
        m.width = kWidth;
        m.height = kHeight;
        m.counts.resize(static_cast<std::size_t>(kWidth) * kHeight);
        m.fractions.resize(m.counts.size());
        m.iterationLimit = 5000;
        for (int x = 0; x < kWidth; ++x) {
            for (int y = 0; y < kHeight; ++y) {
                const double r = std::hypot(x - 960.0, y - 540.0);
                const std::size_t i = static_cast<std::size_t>(x) * kHeight + y;
                m.counts[i] = r < 60 ? m.iterationLimit : 100 + static_cast<int>(4000.0 / (1.0 + r / 40.0));
                m.fractions[i] = static_cast<float>(std::fmod(r * 0.37, 1.0));
            }
        }
        m.divisor = 1;
        m.colorCount = 256;
        m.colors.resize(3 * 256);
        for (int j = 0; j < 3 * 256; ++j) m.colors[j] = static_cast<std::uint8_t>(j * 7);
        for (int i = 1; i <= kMaps; ++i) {
            maps.push_back(folder / ("0000" + std::to_string(i) + "_1.5e3.qvb"));
            if (!writeIterationMap(maps.back(), m).ok) std::abort();
        }
    }
    ~Workload() { std::filesystem::remove_all(folder); }
};

Workload& workload() {
    static Workload w;
    return w;
}

void BM_ReadMapAndWriteKeyframe(benchmark::State& state) {
    Workload& w = workload();
    IterationMap map;
    if (!readIterationMap(w.maps[0], true, map).ok()) std::abort();
    // The keyframe written is the real one of this map, so that the disk sees the same data as in a conversion.
    KeyframeData keyframe;
    const PreviewSize preview = previewSizeFor(kWidth, kHeight, kPreviewBlock);
    keyframe.layout = {kWidth, kHeight, preview.width, preview.height, map.colorCount};
    keyframe.thumbnail.assign(kThumbnailBytes, 0);
    Raster pixels(kWidth, kHeight);
    WorkerPool pool(1);
    buildKeyframe(map, 1024LL * map.divisor / map.colorCount, kPreviewBlock, pool, keyframe, pixels);
    for (auto _ : state) {
        for (int i = 0; i < kMaps; ++i) {
            if (!readIterationMap(w.maps[i], i == 0, map).ok()) state.SkipWithError("read failed");
            if (!writeKeyframe(w.folder / ("0000" + std::to_string(i) + ".qvy"), keyframe).ok)
                state.SkipWithError("write failed");
        }
    }
    state.SetItemsProcessed(state.iterations() * kMaps * kWidth * kHeight);
}
BENCHMARK(BM_ReadMapAndWriteKeyframe)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvertMaps(benchmark::State& state) {
    Workload& w = workload();
    WorkerPool pool(static_cast<int>(state.range(0)));
    std::recursive_mutex frameLock;
    ConversionCallbacks callbacks;
    callbacks.choosePreviewBlock = [](int, int) { return kPreviewBlock; };
    for (auto _ : state) {
        KeyframeList list;
        list.folder = w.folder;
        scanMaps(list);
        if (!planConversion(list).ok) state.SkipWithError("plan failed");
        const ConversionResult r = runConversion(list, callbacks, pool, frameLock);
        if (!r.status.ok) state.SkipWithError(r.status.message.c_str());
    }
    state.SetItemsProcessed(state.iterations() * kMaps * kWidth * kHeight);
}
BENCHMARK(BM_ConvertMaps)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The per-map computation alone, without any file access.
void BM_BuildKeyframe(benchmark::State& state) {
    Workload& w = workload();
    WorkerPool pool(static_cast<int>(state.range(0)));
    IterationMap map;
    if (!readIterationMap(w.maps[0], true, map).ok()) std::abort();
    KeyframeData keyframe;
    const PreviewSize preview = previewSizeFor(kWidth, kHeight, kPreviewBlock);
    keyframe.layout = {kWidth, kHeight, preview.width, preview.height, map.colorCount};
    Raster pixels(kWidth, kHeight);
    for (auto _ : state) {
        buildKeyframe(map, 1024LL * map.divisor / map.colorCount, kPreviewBlock, pool, keyframe, pixels);
        benchmark::DoNotOptimize(keyframe.average);
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_BuildKeyframe)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace zoomreel

BENCHMARK_MAIN();
