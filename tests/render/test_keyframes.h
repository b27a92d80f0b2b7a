#pragma once

// Small keyframes with known maps, written to a folder, for the tests of the renderer, the movie driver and the
// desktop program.

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "keyframes/keyframe_file.h"

namespace zoomreel::test {

inline constexpr int kKeyframeWidth = 48;
inline constexpr int kKeyframeHeight = 28;
inline constexpr int kKeyframeColors = 16;

/// Map value of keyframe k at row r, column c: smooth, different per keyframe, with scattered zeros.
inline double keyframeCell(int k, int r, int c) {
    if ((r * 13 + c * 7 + k) % 23 == 0) return 0.0;
    return 30 + 10 * k + 4 * std::sin(0.3 * c + k) * std::cos(0.25 * r) + 0.01 * r * c;
}

inline std::vector<std::uint8_t> keyframeColors() {
    std::vector<std::uint8_t> colors(3 * kKeyframeColors);
    for (int i = 0; i < 3 * kKeyframeColors; ++i) colors[i] = static_cast<std::uint8_t>(i * 37 % 251);
    return colors;
}

/// Writes keyframes 00000.qvy to `count` - 1 into `folder`, made when missing; false when one could not be written.
inline bool writeTestKeyframes(const std::filesystem::path& folder, int count, int width = kKeyframeWidth,
                               int height = kKeyframeHeight) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    for (int k = 0; k < count; ++k) {
        KeyframeData data;
        data.layout = {width, height, 1, 1, kKeyframeColors};
        data.thumbnail.assign(kThumbnailBytes, static_cast<std::uint8_t>(40 * k));
        data.colors = keyframeColors();
        data.previewMap.assign(1, 1.0);
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c) data.fullMap.push_back(keyframeCell(k, r, c));
        char name[16];
        std::snprintf(name, sizeof name, "%05d.qvy", k);
        if (!writeKeyframe(folder / name, data).ok) return false;
    }
    return true;
}

}  // namespace zoomreel::test
