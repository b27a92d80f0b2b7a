#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zoomreel {

/// A 24-bit image as the whole program builds them: bytes blue, green, red; every row padded to a multiple of
/// 4 bytes; rows stored bottom-up, so stored row 0 is the bottom row of the picture.
class Raster {
public:
    Raster() = default;
    /// A black image. Width and height below 0 are taken as 0.
    Raster(int width, int height);

    static int strideFor(int width) { return ((width * 24 + 31) / 32) * 4; }

    int width() const { return width_; }
    int height() const { return height_; }
    int strideBytes() const { return stride_; }
    bool empty() const { return width_ == 0 || height_ == 0; }

    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t sizeBytes() const { return bytes_.size(); }

    /// Stored row r, 0 being the bottom row of the picture.
    std::uint8_t* storedRow(int r) { return bytes_.data() + static_cast<std::size_t>(r) * stride_; }
    const std::uint8_t* storedRow(int r) const { return bytes_.data() + static_cast<std::size_t>(r) * stride_; }

    /// Row y counted from the top of the picture.
    std::uint8_t* rowFromTop(int y) { return storedRow(height_ - 1 - y); }
    const std::uint8_t* rowFromTop(int y) const { return storedRow(height_ - 1 - y); }

    void fill(std::uint8_t blue, std::uint8_t green, std::uint8_t red);

private:
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    std::vector<std::uint8_t> bytes_;
};

/// A rectangle of whole pixels, x from the left edge and y from the top edge of the picture.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

}  // namespace zoomreel
