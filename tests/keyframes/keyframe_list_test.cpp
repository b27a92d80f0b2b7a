#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "keyframes/keyframe_list.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::TempDir;

KeyframeData tinyKeyframe(int index) {
    KeyframeData d;
    d.layout = {2, 2, 0, 0, 1};
    d.minimum = index;
    d.thumbnail.assign(kThumbnailBytes, static_cast<std::uint8_t>(index));
    d.colors = {1, 2, 3};
    d.fullMap = {1, 2, 3, 4};
    d.colorDivisor = 10 + index;
    return d;
}

std::string keyframeName(int k) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d.qvy", k);
    return name;
}

TEST(KeyframeList, KeyframesAreInAscendingNameOrderWhateverTheListing) {
    TempDir dir;
    std::vector<int> order(10);
    for (int i = 0; i < 10; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (int k : order) ASSERT_TRUE(writeKeyframe(dir / keyframeName(k), tinyKeyframe(k)).ok);
    // Neither maps, folders, nor a writer's leftover temporary file are keyframes.
    test::writeBytes(dir / "00001_1e2.qvb", {1});
    std::filesystem::create_directory(dir / "99999.qvy");
    test::writeBytes(dir / ".00003.qvy.tmp-abc123", {1});

    KeyframeList list;
    list.folder = dir.path();
    ASSERT_TRUE(scanKeyframes(list).ok);
    ASSERT_EQ(list.keyframeCount(), 10);
    ASSERT_TRUE(list.loaded);
    for (int k = 0; k < 10; ++k) {
        EXPECT_EQ(list.names[k], keyframeName(k));
        EXPECT_EQ(list.summaries[k].minimum, k);
        EXPECT_EQ(list.summaries[k].colorDivisor, 10 + k);
        EXPECT_EQ(list.summaries[k].thumbnail.data()[0], k);
    }
    EXPECT_EQ(list.width, 2);
    EXPECT_EQ(list.height, 2);
    EXPECT_EQ(keyframeFilePath(list, 3), dir.path() / "00003.qvy");

    scanMaps(list);
    EXPECT_EQ(list.qvbNames, std::vector<std::string>{"00001_1e2.qvb"});
}

TEST(KeyframeList, CloseForgetsKeyframesAndSelectionButKeepsTheFolder) {
    TempDir dir;
    KeyframeList list;
    list.folder = dir.path();
    list.selectionStart = 2;
    list.selectionEnd = 4;
    closeFolder(list);  // nothing open: nothing changes
    EXPECT_EQ(list.selectionStart, 2);
    EXPECT_EQ(list.selectionEnd, 4);

    ASSERT_TRUE(writeKeyframe(dir / "00000.qvy", tinyKeyframe(0)).ok);
    ASSERT_TRUE(scanKeyframes(list).ok);
    closeFolder(list);
    EXPECT_EQ(list.keyframeCount(), 0);
    EXPECT_FALSE(list.loaded);
    EXPECT_TRUE(list.summaries.empty());
    EXPECT_EQ(list.selectionStart, -1);
    EXPECT_EQ(list.selectionEnd, -1);
    EXPECT_EQ(list.width, 0);
    EXPECT_EQ(list.height, 0);
    EXPECT_EQ(list.folder, dir.path());
}

TEST(KeyframeList, ABadKeyframeIsNamedAndNothingIsLoaded) {
    TempDir dir;
    ASSERT_TRUE(writeKeyframe(dir / "00000.qvy", tinyKeyframe(0)).ok);
    KeyframeData wider = tinyKeyframe(1);
    wider.layout.width = 4;
    wider.fullMap.resize(8);
    ASSERT_TRUE(writeKeyframe(dir / "00001.qvy", wider).ok);

    KeyframeList list;
    list.folder = dir.path();
    Status status = scanKeyframes(list);
    EXPECT_FALSE(status.ok);
    EXPECT_NE(status.message.find("00001.qvy"), std::string::npos) << status.message;
    EXPECT_EQ(list.keyframeCount(), 0);
    EXPECT_FALSE(list.loaded);

    test::writeBytes(dir / "00001.qvy", {1, 2, 3});
    status = scanKeyframes(list);
    EXPECT_NE(status.message.find("too short"), std::string::npos) << status.message;
}

TEST(KeyframeList, MissingFolderHasNoKeyframes) {
    KeyframeList list;
    list.folder = "/nonexistent/zoomreel";
    EXPECT_TRUE(scanKeyframes(list).ok);
    EXPECT_EQ(list.keyframeCount(), 0);
    scanMaps(list);
    EXPECT_EQ(list.qvbCount(), 0);
}

}  // namespace
}  // namespace zoomreel
