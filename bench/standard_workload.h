#pragma once

// The standard workload of the benchmarks: 8 keyframes of 1920 x 1080 from the sample generator, converted,
// rendered at a final width of 1280. It is made in a child process, so that the benchmark's own peak resident
// size counts what the benchmark itself holds.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "keyframes/conversion.h"
#include "keyframes/keyframe_list.h"
#include "keyframes/sample_maps.h"
#include "platform/worker_pool.h"

namespace zoomreel::bench {

inline constexpr int kWidth = 1920;
inline constexpr int kHeight = 1080;
inline constexpr int kKeyframes = 8;
inline constexpr int kFinalWidth = 1280;
inline constexpr int kFramesPerKeyframe = 20;  // the default speed

struct Workload {
    std::filesystem::path folder;
    KeyframeList list;

    /// `count` keyframes of width x height from the sample generator, converted.
    explicit Workload(int width = kWidth, int height = kHeight, int count = kKeyframes, int maxIterations = 2000) {
        std::string pattern = (std::filesystem::temp_directory_path() / "zoomreel-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        folder = pattern;
        const pid_t child = ::fork();
        if (child == 0) {
            WorkerPool pool;
            SampleOptions options;
            options.mapCount = count;
            options.width = width;
            options.height = height;
            options.maxIterations = maxIterations;
            if (!writeSampleMaps(folder, options, pool).ok) std::_Exit(1);
            KeyframeList maps;
            maps.folder = folder;
            scanMaps(maps);
            if (!planConversion(maps).ok) std::_Exit(1);
            ConversionCallbacks callbacks;
            callbacks.choosePreviewBlock = [](int, int) { return 4; };
            std::recursive_mutex lock;
            std::_Exit(runConversion(maps, callbacks, pool, lock).status.ok ? 0 : 1);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "could not make the workload\n");
            std::abort();
        }
        list.folder = folder;
        if (!scanKeyframes(list).ok || list.keyframeCount() != count) std::abort();
    }
    ~Workload() { std::filesystem::remove_all(folder); }
};

inline Workload& workload() {
    static Workload w;
    return w;
}

/// Drops the keyframe files from the file cache (they are written out first), so that the next reading comes
/// from the disk.
inline void dropFromCache(const KeyframeList& list) {
    for (int k = 0; k < list.keyframeCount(); ++k) {
        const int fd = ::open(keyframeFilePath(list, k).c_str(), O_RDONLY);
        if (fd < 0) continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

/// Before each repetition of a benchmark whose argument 0 says "from the disk": the keyframes dropped from the
/// file cache, outside the timing.
template <typename State>
void prepare(State& state, const KeyframeList& list) {
    if (state.range(0) == 0) return;
    state.PauseTiming();
    dropFromCache(list);
    state.ResumeTiming();
}

}  // namespace zoomreel::bench
