#pragma once

#include "platform/raster.h"

namespace zoomreel {

/// Area-averaging stretch: maps `srcRect` of `src` onto `dstRect` of `dst`. Every destination pixel becomes the
/// coverage-weighted mean of the source pixels its footprint covers, horizontally and vertically, whether the
/// stretch shrinks or enlarges. Rectangles are in picture coordinates (y from the top).
///
/// Destination pixels outside `dst` are skipped (the mapping is that of the whole `dstRect`); source reads are
/// clamped to `src`, so no rectangle can make it read or write outside the rasters. Empty rectangles do nothing.
/// Thread-safe for distinct destinations; allocates only scratch that it keeps per thread.
void stretchAreaAverage(const Raster& src, const PixelRect& srcRect, Raster& dst, const PixelRect& dstRect);

/// The same mapping, computing only the destination pixels inside `clip` as well. Stretching a rectangle in
/// pieces (bands on several threads, for instance) gives exactly the pixels of one whole stretch.
void stretchAreaAverage(const Raster& src, const PixelRect& srcRect, Raster& dst, const PixelRect& dstRect,
                        const PixelRect& clip);

/// Convenience: the whole of `src` onto the whole of `dst`.
void stretchAreaAverage(const Raster& src, Raster& dst);

}  // namespace zoomreel
