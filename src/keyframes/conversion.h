#pragma once

#include <filesystem>
#include <functional>
#include <mutex>

#include "keyframes/iteration_map.h"
#include "keyframes/keyframe_file.h"
#include "keyframes/keyframe_list.h"
#include "platform/raster.h"
#include "platform/status.h"

namespace zoomreel {

class WorkerPool;

inline constexpr int kMinPreviewBlock = 2;
inline constexpr int kMaxPreviewBlock = 40;

/// The preview map's size for a preview block n: SW is W / n rounded down to a multiple of 4, SH = H * SW / W.
struct PreviewSize {
    int block = 0;
    int width = 0;
    int height = 0;
};
PreviewSize previewSizeFor(int mapWidth, int mapHeight, int block);

/// How a conversion speaks to its front end. Every callback runs on the conversion's thread.
struct ConversionCallbacks {
    /// Before map `mapIndex` (from 0) of `mapCount` is read.
    std::function<void(int mapIndex, int mapCount)> progress;
    /// Once, after the first map is read: the preview block n (2 to 40) for maps of that size. Required.
    std::function<int(int mapWidth, int mapHeight)> choosePreviewBlock;
    /// The colour image of the map being converted and its 128 x 72 thumbnail, to be painted; nullptrs when the
    /// conversion ends. Called with the frame lock held; the images are only written while that lock is held.
    std::function<void(const Raster* image, const Raster* thumbnail)> publishImage;
    /// After each map's image has been drawn, to ask for a repaint.
    std::function<void()> imageChanged;
    /// Asked before each map: true ends the conversion there (the program is closing). The keyframes written
    /// so far stay whole.
    std::function<bool()> stopRequested;
};

struct ConversionResult {
    Status status;
    std::filesystem::path failedFile;  ///< the map or keyframe file the failure is about, when there is one
    int keyframesWritten = 0;
};

/// Names the keyframe file of every map in `list.qvbNames`: M - map number printed with "%05u", then ".qvy", so
/// that the deepest map (number 1) becomes the last keyframe. A map whose number gives no such name, or two maps
/// that would share one, are refused and no name is set.
Status planConversion(KeyframeList& list);

/// Converts every map of `list.qvbNames` into the keyframe file named by `planConversion`, one after another,
/// each written whole before the next map is read, then loads the new keyframes. Stops at the first failure;
/// keyframe files written before it stay. `frameLock` guards the published image.
ConversionResult runConversion(KeyframeList& list, const ConversionCallbacks& callbacks, WorkerPool& pool,
                               std::recursive_mutex& frameLock);

/// The per-map work, without file access: full map, statistics, colour image, preview map. `out.layout` must
/// hold the map's size, colour count and preview size; `pixels` must be W x H. `colorStep` is
/// (1024 * divisor) / N, at least 1.
void buildKeyframe(const IterationMap& map, long long colorStep, int previewBlock, WorkerPool& pool,
                   KeyframeData& out, Raster& pixels);

}  // namespace zoomreel
