#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "keyframes/keyframe_list.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::TempDir;

void writeTinyKeyframe(const std::filesystem::path& path, int index, int width = 2) {
    KeyframeData d;
    d.layout = {width, 2, 0, 0, 1};
    d.minimum = index;
    d.thumbnail.assign(kThumbnailBytes, static_cast<std::uint8_t>(index));
    d.colors = {1, 2, 3};
    d.fullMap.assign(static_cast<std::size_t>(width) * 2, 1.0);
    ASSERT_TRUE(writeKeyframe(path, d).ok);
}

std::string keyframeName(int k) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d.qvy", k);
    return name;
}

TEST(KeyframeList, AscendingNameOrderWhateverTheListingAndCloseForgetsAll) {
    TempDir dir;
    std::vector<int> order{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (int k : order) writeTinyKeyframe(dir / keyframeName(k), k);
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
        EXPECT_EQ(list.summaries[k].thumbnail.data()[0], k);
    }
    EXPECT_EQ(std::make_pair(list.width, list.height), std::make_pair(2, 2));
    scanMaps(list);
    EXPECT_EQ(list.qvbNames, std::vector<std::string>{"00001_1e2.qvb"});

    list.selectionStart = 2;
    list.selectionEnd = 4;
    closeFolder(list);
    EXPECT_EQ(list.keyframeCount(), 0);
    EXPECT_FALSE(list.loaded);
    EXPECT_EQ(std::make_pair(list.selectionStart, list.selectionEnd), std::make_pair(-1, -1));
    EXPECT_EQ(std::make_pair(list.width, list.height), std::make_pair(0, 0));
    EXPECT_EQ(list.folder, dir.path());

    // With nothing open, closing changes nothing, not even the selection.
    list.selectionStart = 1;
    closeFolder(list);
    EXPECT_EQ(list.selectionStart, 1);
}

TEST(KeyframeList, ABadKeyframeIsNamedAndNothingIsLoaded) {
    TempDir dir;
    writeTinyKeyframe(dir / "00000.qvy", 0);
    writeTinyKeyframe(dir / "00001.qvy", 1, 4);  // another size than keyframe 0
    KeyframeList list;
    list.folder = dir.path();
    Status status = scanKeyframes(list);
    EXPECT_NE(status.message.find("00001.qvy"), std::string::npos) << status.message;
    EXPECT_EQ(list.keyframeCount(), 0);
    EXPECT_FALSE(list.loaded);

    test::writeBytes(dir / "00001.qvy", {1, 2, 3});
    status = scanKeyframes(list);
    EXPECT_NE(status.message.find("too short"), std::string::npos) << status.message;
}

}  // namespace
}  // namespace zoomreel
