#pragma once

// A folder of small keyframes with known maps, for the tests of the renderer and the movie driver.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "keyframes/keyframe_file.h"
#include "keyframes/keyframe_list.h"
#include "test_util.h"

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

/// A folder of `count` keyframes and its keyframe list, loaded.
struct KeyframeFolder {
    TempDir dir;
    KeyframeList list;

    explicit KeyframeFolder(int count, int width = kKeyframeWidth, int height = kKeyframeHeight) {
        for (int k = 0; k < count; ++k) {
            KeyframeData data;
            data.layout = {width, height, 1, 1, kKeyframeColors};
            data.thumbnail.assign(kThumbnailBytes, 0);
            data.colors = keyframeColors();
            data.previewMap.assign(1, 1.0);
            for (int r = 0; r < height; ++r)
                for (int c = 0; c < width; ++c) data.fullMap.push_back(keyframeCell(k, r, c));
            char name[16];
            std::snprintf(name, sizeof name, "%05d.qvy", k);
            EXPECT_TRUE(writeKeyframe(dir / name, data).ok);
        }
        list.folder = dir.path();
        EXPECT_TRUE(scanKeyframes(list).ok);
    }
};

}  // namespace zoomreel::test
