#include "platform/raster.h"

#include <algorithm>

namespace zoomreel {

Raster::Raster(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), stride_(strideFor(std::max(width, 0))),
      bytes_(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_), 0) {}

void Raster::fill(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    for (int r = 0; r < height_; ++r) {
        std::uint8_t* row = storedRow(r);
        for (int x = 0; x < width_; ++x) {
            row[3 * x] = blue;
            row[3 * x + 1] = green;
            row[3 * x + 2] = red;
        }
    }
}

}  // namespace zoomreel
