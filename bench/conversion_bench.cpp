// The conversion of one 1920 x 1080 map against the file work it cannot avoid: reading the map and writing the
// keyframe. The goal is a conversion within twice that floor.
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

/// A folder holding one realistic map (smooth bands with interior holes), made once per run.
struct Workload {
    std::filesystem::path folder;
    std::filesystem::path map;

    Workload() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zoomreel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        folder = pattern;
        map = folder / "00001_1.5e3.qvb";
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
        if (!writeIterationMap(map, m).ok) std::abort();
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
    KeyframeData keyframe;
    const PreviewSize preview = previewSizeFor(kWidth, kHeight, kPreviewBlock);
    keyframe.layout = {kWidth, kHeight, preview.width, preview.height, 256};
    keyframe.thumbnail.assign(kThumbnailBytes, 0);
    keyframe.colors.assign(3 * 256, 0);
    keyframe.previewMap.assign(static_cast<std::size_t>(preview.width) * preview.height, 1.0);
    keyframe.fullMap.assign(static_cast<std::size_t>(kWidth) * kHeight, 1.0);
    for (auto _ : state) {
        if (!readIterationMap(w.map, true, map).ok()) state.SkipWithError("read failed");
        if (!writeKeyframe(w.folder / "00000.qvy", keyframe).ok) state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_ReadMapAndWriteKeyframe)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ConvertOneMap(benchmark::State& state) {
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
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_ConvertOneMap)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The per-map computation alone, without any file access.
void BM_BuildKeyframe(benchmark::State& state) {
    Workload& w = workload();
    WorkerPool pool(static_cast<int>(state.range(0)));
    IterationMap map;
    if (!readIterationMap(w.map, true, map).ok()) std::abort();
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
