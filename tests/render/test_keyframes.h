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

/// Preview map value of keyframe k at row r, column c: its own pattern, so that a level read from the wrong place
/// or the wrong keyframe shows.
inline double previewCell(int k, int r, int c) {
    if ((r * 5 + c * 3 + k) % 17 == 0) return 0.0;
    return 100 * (k + 1) + r + 0.01 * c;
}

/// Writes keyframes 00000.qvy to `count` - 1 into `folder`, made when missing; false when one could not be written.
/// Their preview maps are previewWidth x previewHeight of `previewCell` (a single 1.0 by default).
inline bool writeTestKeyframes(const std::filesystem::path& folder, int count, int width = kKeyframeWidth,
                               int height = kKeyframeHeight, int previewWidth = 1, int previewHeight = 1) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    for (int k = 0; k < count; ++k) {
        KeyframeData data;
        data.layout = {width, height, previewWidth, previewHeight, kKeyframeColors};
        data.thumbnail.assign(kThumbnailBytes, static_cast<std::uint8_t>(40 * k));
        data.colors = keyframeColors();
        if (previewWidth * previewHeight == 1) data.previewMap.assign(1, 1.0);
        for (int r = 0; r < previewHeight && previewWidth * previewHeight > 1; ++r)
            for (int c = 0; c < previewWidth; ++c) data.previewMap.push_back(previewCell(k, r, c));
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c) data.fullMap.push_back(keyframeCell(k, r, c));
        char name[16];
        std::snprintf(name, sizeof name, "%05d.qvy", k);
        if (!writeKeyframe(folder / name, data).ok) return false;
    }
    return true;
}

}  // namespace zoomreel::test
