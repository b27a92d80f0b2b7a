#pragma once

// A sample zoom written as QVB maps, damaged on purpose where a test says so, then converted into keyframes: the
// folders the keyframe check is tested on, from the engine, the command line and the desktop program. Every step
// says whether it worked, for GoogleTest and Qt Test alike.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>

#include "keyframes/conversion.h"
#include "keyframes/iteration_map.h"
#include "keyframes/keyframe_list.h"
#include "keyframes/sample_maps.h"
#include "platform/worker_pool.h"
#include "test_util.h"

namespace zoomreel::test {

/// The zoom's maps, made in `folder`; keyframe k is made from map number count - k (map 1 is the deepest).
struct SampleZoom {
    std::filesystem::path folder;
    SampleOptions options;
    bool written = false;

    SampleZoom(std::filesystem::path where, const SampleOptions& with) : folder(std::move(where)), options(with) {
        WorkerPool pool(2);
        written = writeSampleMaps(folder, options, pool).ok;
    }

    /// The QVB map that becomes keyframe k; empty when there is none.
    std::filesystem::path mapOf(int k) const {
        char prefix[8];
        std::snprintf(prefix, sizeof prefix, "%05d", options.mapCount - k);
        for (const std::string& name : listFilesWithExtension(folder, ".qvb")) {
            if (name.rfind(prefix, 0) == 0) return folder / name;
        }
        return {};
    }

    /// Rewrites the map of keyframe k after `change`.
    bool edit(int k, const std::function<void(IterationMap&)>& change) const {
        IterationMap map;
        if (!readIterationMap(mapOf(k), true, map).ok()) return false;
        change(map);
        return writeIterationMap(mapOf(k), map).ok;
    }

    /// Puts the map of keyframe k of another zoom (same count and size, other centre or limit) in its place.
    bool replace(int k, const SampleOptions& other, const std::filesystem::path& scratch) const {
        const SampleZoom source(scratch, other);
        std::error_code error;
        return source.written && std::filesystem::copy_file(source.mapOf(k), mapOf(k),
                                                            std::filesystem::copy_options::overwrite_existing, error);
    }

    bool swap(int a, int b) const {
        const auto first = mapOf(a), second = mapOf(b), aside = folder / "aside.tmp";
        std::error_code error;
        std::filesystem::rename(first, aside, error);
        if (!error) std::filesystem::rename(second, first, error);
        if (!error) std::filesystem::rename(aside, second, error);
        return !error;
    }

    /// Converts the maps into keyframes (preview block 4) into `list`, loaded.
    bool convert(KeyframeList& list) const {
        list = {};
        list.folder = folder;
        scanMaps(list);
        if (!planConversion(list).ok) return false;
        ConversionCallbacks callbacks;
        callbacks.choosePreviewBlock = [](int, int) { return 4; };
        WorkerPool pool(2);
        std::recursive_mutex lock;
        return runConversion(list, callbacks, pool, lock).status.ok;
    }
};

/// Mirrors a map left to right.
inline void mirrorLeftRight(IterationMap& map) {
    for (int x = 0; x < map.width / 2; ++x) {
        const auto a = static_cast<std::ptrdiff_t>(x) * map.height;
        const auto b = static_cast<std::ptrdiff_t>(map.width - 1 - x) * map.height;
        std::swap_ranges(map.counts.begin() + a, map.counts.begin() + a + map.height, map.counts.begin() + b);
        std::swap_ranges(map.fractions.begin() + a, map.fractions.begin() + a + map.height, map.fractions.begin() + b);
    }
}

/// A glitch: a disc of radius `radius` pixels around (cx, cy) (y from the top) holding one count.
inline std::function<void(IterationMap&)> glitchDisc(int cx, int cy, int radius, int count) {
    return [=](IterationMap& map) {
        for (int x = 0; x < map.width; ++x) {
            for (int y = 0; y < map.height; ++y) {
                if (std::hypot(x - cx, y - cy) > radius) continue;
                map.counts[static_cast<std::size_t>(x) * map.height + y] = count;
                map.fractions[static_cast<std::size_t>(x) * map.height + y] = 0.5f;
            }
        }
    };
}

}  // namespace zoomreel::test
