#pragma once

#include <filesystem>
#include <functional>

#include "platform/status.h"

namespace zoomreel {

class WorkerPool;

struct SampleOptions {
    int mapCount = 16;
    int width = 640;
    int height = 360;
    int maxIterations = 2000;
    /// The point every view is centred on: by default one in the seahorse valley, between the main cardioid and
    /// the period-2 bulb, where spirals and filaments fill every level down to a view 2^-18 as wide.
    double centreReal = -0.743643887037151;
    double centreImag = 0.131825904205330;
};

/// Writes `options.mapCount` QVB maps of a Mandelbrot-set deep zoom into `folder` (created when missing).
/// Map 00001 is the deepest view; map i + 1 shows the same centre twice as wide. Each name carries that map's
/// zoom, "%05d_<mantissa>e<exponent>.qvb". `progress`, when set, is called after each map with (done, total).
Status writeSampleMaps(const std::filesystem::path& folder, const SampleOptions& options, WorkerPool& pool,
                       const std::function<void(int done, int total)>& progress = {});

}  // namespace zoomreel
