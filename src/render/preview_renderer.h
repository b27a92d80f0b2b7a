#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "keyframes/keyframe_file.h"
#include "keyframes/keyframe_list.h"
#include "platform/raster.h"
#include "platform/status.h"
#include "platform/worker_pool.h"
#include "settings/palette.h"

namespace zoomreel {

/// The quick frames of the editors' preview window and of the preview video: the keyframes' preview maps instead
/// of their full maps, two levels, nearest-neighbour sampling, the movie's colour rule without relief, 3D, caption
/// or flips. A frame is the size of the preview map (pw x ph), so that it is ready while the mouse moves.
struct PreviewRenderer {
    /// The keyframe the two levels were set up for (as the advance clamps it: K - 2 at the last keyframe); -1:
    /// nothing loaded, the next frame sets up again.
    std::int32_t loadedKeyframe = -1;
    KeyframeLayout layout;               ///< of the keyframe the set-up read; every keyframe must share it
    std::vector<std::uint8_t> palette;   ///< the keyframes' colour table
    std::array<std::vector<double>, 2> levels;       ///< preview maps, ph rows of pw values, stored row 0 first
    std::array<std::int32_t, 2> levelKeyframes{-1, -1};  ///< which keyframe each level holds
    std::vector<double> frameMap;        ///< the sampled values of the frame, ph rows of pw
    std::vector<int> columns;            ///< the level-0 column each frame column samples
    Raster frame;                        ///< the coloured frame, pw x ph
    std::uint64_t mapsRead = 0;          ///< preview maps read from files
    std::unique_ptr<WorkerPool> pool;    ///< rows shared out over the processors; made with the first frame
};

/// What a preview frame reads besides its position and colours. The list and the table are borrowed.
struct PreviewSettings {
    const KeyframeList* keyframes = nullptr;
    const ColorTable* colorTable = nullptr;  ///< the expanded user palette, used when `usePalette` is on
    bool usePalette = false;
    bool subtractMinimum = false;  ///< take off the frame's own smallest level-0 value
};

/// Renders the preview frame at keyframe position h into `renderer.frame`. `colourDivisor` is already multiplied
/// and `colourOffset` divided by the colour sensitivity, as for a movie frame. The first call after a release
/// reads the layout and colour table; a keyframe step reads one preview map, a jump the two it needs. A keyframe
/// that cannot be read leaves the renderer released and names the file.
Status RenderPreviewFrame(PreviewRenderer& renderer, const PreviewSettings& settings, float h, float colourDivisor,
                          float colourOffset);

/// Frees the maps and the frame: the next frame sets up again, as when the previewed keyframe changes.
void releasePreviewRenderer(PreviewRenderer& renderer);

}  // namespace zoomreel
