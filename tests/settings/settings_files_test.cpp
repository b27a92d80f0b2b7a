#include <gtest/gtest.h>

#include <cmath>
#include <sys/stat.h>

#include "settings/key_point_curve.h"
#include "settings/recent_folders.h"
#include "settings/render_settings.h"
#include "settings/settings_file.h"
#include "settings/video_parameters.h"
#include "test_util.h"
#include "status_check.h"

namespace zoomreel {
namespace {

using test::ByteWriter;
using test::TempDir;

std::string readText(const std::filesystem::path& path) {
    const auto bytes = test::readBytes(path);
    return {bytes.begin(), bytes.end()};
}

void writeText(const std::filesystem::path& path, const std::string& text) {
    test::writeBytes(path, {text.begin(), text.end()});
}

TEST(RenderSettings, ExactLayoutsAndRoundTrips) {
    TempDir dir;
    ReliefSettings relief;
    relief.active = 1;
    relief.lightDirection = 12.5;
    relief.deSqrtSqrt = 1;
    relief.light2Elevation = -3.25;
    ASSERT_TRUE(saveRelief(dir / kReliefFileName, relief).ok);
    EXPECT_EQ(test::readBytes(dir / kReliefFileName), ByteWriter()
                                                          .i32(1).f64(100.0).f64(0.35).f64(12.5).i32(0).i32(0).i32(0)
                                                          .i32(1).i32(1).f64(8.0).f64(0.1).f64(50.0).i32(1).f64(4.0)
                                                          .f64(0.15).f64(-3.25)
                                                          .bytes());

    Projection3DSettings projection;
    projection.setProjectionAngle(0.123456789012345);
    projection.vertShift = -4;
    projection.zScale = -70.0;
    ASSERT_TRUE(save3D(dir / k3DFileName, projection).ok);
    EXPECT_EQ(test::readBytes(dir / k3DFileName), ByteWriter()
                                                      .i32(1).i32(0).i32(0).f64(0.123456789012345).f64(-70.0)
                                                      .f64(700.0).i32(-4).f64(8.0).i32(1).f64(0.8).f64(45.0)
                                                      .bytes());
    Projection3DSettings back;
    ASSERT_TRUE(load3D(dir / k3DFileName, back));
    EXPECT_EQ(back.projectionAngle, 0.123456789012345);
    EXPECT_EQ(back.sinAngle, std::sin(0.123456789012345));
    EXPECT_EQ(back.cosAngle, std::cos(0.123456789012345));
    EXPECT_EQ(back.vertShift, -4);

    ASSERT_TRUE(saveSubtractMinimum(dir / kSubtractMinimumFileName, SubtractMinimumSettings{1, 12}).ok);
    EXPECT_EQ(test::readBytes(dir / kSubtractMinimumFileName), ByteWriter().i32(1).i32(12).bytes());
}

TEST(RenderSettings, MissingAndShortFilesKeepWhatTheyCannotGive) {
    TempDir dir;
    // A folder without the files keeps the values in force, sine and cosine included.
    Projection3DSettings projection;
    projection.setProjectionAngle(1.0);
    projection.maxIter = 5.0;
    EXPECT_FALSE(load3D(dir / k3DFileName, projection));
    EXPECT_EQ(projection.sinAngle, std::sin(1.0));
    EXPECT_EQ(projection.maxIter, 5.0);

    // Three flags and half of the angle: the flags are read, the angle is not filled from half a field.
    test::writeBytes(dir / k3DFileName, ByteWriter().i32(0).i32(1).i32(1).i32(0x7FF00000).bytes());
    EXPECT_TRUE(load3D(dir / k3DFileName, projection));
    EXPECT_EQ(projection.active, 0);
    EXPECT_EQ(projection.logIter, 1);
    EXPECT_EQ(projection.projectionAngle, 1.0);
    EXPECT_EQ(projection.maxIter, 5.0);

    SubtractMinimumSettings subtraction{1, 7};
    test::writeBytes(dir / kSubtractMinimumFileName, ByteWriter().i32(0).u8(9).bytes());
    EXPECT_TRUE(loadSubtractMinimum(dir / kSubtractMinimumFileName, subtraction));
    EXPECT_EQ(subtraction.subtract, 0);
    EXPECT_EQ(subtraction.averageFrames, 7);
}

TEST(SettingsFiles, AFolderPipeOrDeviceIsNoFile) {
    TempDir dir;
    // A pipe would block a plain open until a writer comes; a device would feed endless bytes.
    ASSERT_EQ(::mkfifo((dir / "speed.qvs").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / k3DFileName);
    std::filesystem::create_symlink("/dev/zero", dir / kRecentFoldersFileName);
    KeyPointCurve speed{{{0, 3}}};
    EXPECT_FALSE(loadCurve(dir / "speed.qvs", speed));
    EXPECT_EQ(speed.count(), 1);
    Projection3DSettings projection;
    projection.maxIter = 5;
    EXPECT_FALSE(load3D(dir / k3DFileName, projection));
    EXPECT_EQ(projection.maxIter, 5);
    EXPECT_TRUE(loadRecentFolders(dir.path()).entries.empty());
}

TEST(VideoParameters, SavedDefaultsAndTheirExactText) {
    TempDir dir;
    VideoParameters video;
    video.fontName = "Arial";
    ASSERT_TRUE(SaveVideoParameters(dir.path(), video).ok);
    EXPECT_EQ(readText(dir / kVideoFormatFileName), "1280\n720\n30\n1000\n0\n8\n0\n255\n255\nArial\n");
    EXPECT_EQ(readText(dir / kVideoBrowserFileName), "");

    video.videoBrowser = "/opt/my player/play";
    video.textColor = {1, 2, 3};
    ASSERT_TRUE(SaveVideoParameters(dir.path(), video).ok);
    VideoParameters back;
    LoadVideoParameters(dir.path(), back);
    EXPECT_EQ(back.videoBrowser, "/opt/my player/play");
    EXPECT_EQ(back.textColor.blue, 3);
    EXPECT_EQ(back.fontName, "Arial");

    const Status failed = SaveVideoParameters(dir / "no-such-folder", video);
    EXPECT_TRUE(test::failsSaying(failed, kVideoBrowserFileName));
}

TEST(VideoParameters, ReadingAcceptsBothLineEndsAndKeepsWhatDoesNotParse) {
    TempDir dir;
    struct Case {
        std::string text;
        int framesPerMovie;
        int red;
        std::string fontName;
    };
    const std::vector<Case> cases = {
        {"640\n360\n25\n500\n1\n14\n10\n20\n30\nDejaVu Sans\n", 500, 10, "DejaVu Sans"},
        {"640\r\n360\r\n25\r\n500\r\n1\r\n14\r\n10\r\n20\r\n30\r\nDejaVu Sans\r\n", 500, 10, "DejaVu Sans"},
        {"640\n360\n25\nabc\n1\n14\n300\n20\n30\nDejaVu Sans", 1000, 44, "DejaVu Sans"},
        {"640\n360\n25\n  +77xyz\n", 77, 0, ""},
        {"640\n360\n25\n99999999999\n1\n14\n-1\n20\n30\n" + std::string(40, 'F') + "\n", 1000, 255,
         std::string(31, 'F')},
    };
    for (const Case& c : cases) {
        writeText(dir / kVideoFormatFileName, c.text);
        VideoParameters video;
        LoadVideoParameters(dir.path(), video);
        EXPECT_EQ(video.finalWidth, 640);
        EXPECT_EQ(video.framesPerMovie, c.framesPerMovie);
        EXPECT_EQ(video.textColor.red, c.red);
        EXPECT_EQ(video.fontName, c.fontName);
    }
    writeText(dir / kVideoBrowserFileName, "/usr/bin/player\r\n");
    VideoParameters video;
    LoadVideoParameters(dir.path(), video);
    EXPECT_EQ(video.videoBrowser, "/usr/bin/player");
    writeText(dir / kVideoBrowserFileName, "");  // reading a line from an empty file gives nothing to take
    LoadVideoParameters(dir.path(), video);
    EXPECT_EQ(video.videoBrowser, "/usr/bin/player");
    // A face name is cut to 31 bytes without breaking a character in two.
    writeText(dir / kVideoFormatFileName, "1\n1\n1\n1\n1\n1\n1\n1\n1\n" + std::string(30, 'a') + "\xC3\xA9\n");
    LoadVideoParameters(dir.path(), video);
    EXPECT_EQ(video.fontName, std::string(30, 'a'));
}

TEST(RecentFolders, DuplicatesRollOffAndTheFileAsWritten) {
    TempDir dir;
    RecentFolders recent;
    ASSERT_TRUE(addRecentFolder(recent, "/maps/one", dir.path()).ok);
    ASSERT_TRUE(addRecentFolder(recent, "/maps/one", dir.path()).ok);
    EXPECT_EQ(readText(dir / kRecentFoldersFileName), "/maps/one\n");
    EXPECT_TRUE(addRecentFolder(recent, "/maps/One", dir.path()).ok);  // byte for byte, so case counts
    for (int i = 2; i <= 9; ++i) ASSERT_TRUE(addRecentFolder(recent, "/maps/" + std::to_string(i), dir.path()).ok);
    ASSERT_EQ(recent.entries.size(), 10u);
    ASSERT_TRUE(addRecentFolder(recent, "/maps/eleventh", dir.path()).ok);
    EXPECT_EQ(recent.entries.front(), "/maps/One");
    const RecentFolders back = loadRecentFolders(dir.path());
    EXPECT_EQ(back.entries, recent.entries);
    EXPECT_EQ(back.entries.back(), "/maps/eleventh");

    // A list that cannot be written keeps the new entry in memory and says why.
    RecentFolders elsewhere;
    const Status failed = addRecentFolder(elsewhere, "/maps/x", dir / "no-such-folder");
    EXPECT_TRUE(test::failsSaying(failed, kRecentFoldersFileName));
    EXPECT_EQ(elsewhere.entries, std::vector<std::string>{"/maps/x"});
}

TEST(RecentFolders, ReadingLineEndsBlankLinesAndTheLimit) {
    TempDir dir;
    EXPECT_TRUE(loadRecentFolders(dir.path()).entries.empty());
    // The last line keeps its last character even without a line end.
    writeText(dir / kRecentFoldersFileName, "/a\r\n\n/b\n/c");
    EXPECT_EQ(loadRecentFolders(dir.path()).entries, (std::vector<std::string>{"/a", "/b", "/c"}));
    std::string many;
    for (int i = 0; i < 14; ++i) many += "/f" + std::to_string(i) + "\n";
    writeText(dir / kRecentFoldersFileName, many);
    const RecentFolders ten = loadRecentFolders(dir.path());
    ASSERT_EQ(ten.entries.size(), 10u);
    EXPECT_EQ(ten.entries.back(), "/f9");
}

}  // namespace
}  // namespace zoomreel
