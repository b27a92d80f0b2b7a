#pragma once

// A folder of small keyframes with known maps, loaded, for the tests of the renderer and the movie driver.

#include <gtest/gtest.h>

#include "keyframes/keyframe_list.h"
#include "render/test_keyframes.h"
#include "test_util.h"

namespace zoomreel::test {

/// A folder of `count` keyframes and its keyframe list, loaded.
struct KeyframeFolder {
    TempDir dir;
    KeyframeList list;

    explicit KeyframeFolder(int count, int width = kKeyframeWidth, int height = kKeyframeHeight, int previewWidth = 1,
                            int previewHeight = 1) {
        EXPECT_TRUE(writeTestKeyframes(dir.path(), count, width, height, previewWidth, previewHeight));
        list.folder = dir.path();
        EXPECT_TRUE(scanKeyframes(list).ok);
    }
};

}  // namespace zoomreel::test
