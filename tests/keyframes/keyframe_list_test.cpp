#include <gtest/gtest.h>

#include "keyframes/keyframe_list.h"
#include "render/test_keyframes.h"
#include "status_check.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::TempDir;

TEST(KeyframeList, AscendingNameOrderAndCloseForgetsAll) {
    TempDir dir;
    ASSERT_TRUE(test::writeTestKeyframes(dir.path(), 10, 2, 2));
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
        char name[16];
        std::snprintf(name, sizeof name, "%05d.qvy", k);
        EXPECT_EQ(list.names[k], name);
        EXPECT_EQ(list.summaries[k].thumbnail.data()[0], static_cast<std::uint8_t>(40 * k));  // written for k
    }
    EXPECT_EQ(std::make_pair(list.width, list.height), std::make_pair(2, 2));
    scanMaps(list);
    EXPECT_EQ(list.qvbNames, std::vector<std::string>{"00001_1e2.qvb"});

    list.selectionStart = 2;
    list.selectionEnd = 4;
    closeFolder(list);
    EXPECT_EQ(std::make_tuple(list.keyframeCount(), list.loaded, list.width, list.height, list.folder),
              std::make_tuple(0, false, 0, 0, dir.path()));
    EXPECT_EQ(std::make_pair(list.selectionStart, list.selectionEnd), std::make_pair(-1, -1));
    list.selectionStart = 1;
    closeFolder(list);  // with nothing open, closing changes nothing, not even the selection
    EXPECT_EQ(list.selectionStart, 1);
}

TEST(KeyframeList, ABadKeyframeIsNamedAndNothingIsLoaded) {
    TempDir dir;
    ASSERT_TRUE(test::writeTestKeyframes(dir.path(), 2) && test::writeTestKeyframes(dir / "other", 2, 4, 4));
    std::filesystem::copy_file(dir / "other/00001.qvy", dir / "00001.qvy",
                               std::filesystem::copy_options::overwrite_existing);  // another size than keyframe 0
    KeyframeList list;
    list.folder = dir.path();
    EXPECT_TRUE(test::failsSaying(scanKeyframes(list), "00001.qvy"));
    EXPECT_EQ(std::make_pair(list.keyframeCount(), list.loaded), std::make_pair(0, false));
    test::writeBytes(dir / "00001.qvy", {1, 2, 3});
    EXPECT_TRUE(test::failsSaying(scanKeyframes(list), "too short"));
}

}  // namespace
}  // namespace zoomreel
