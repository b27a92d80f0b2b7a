// The folder's binary settings files and the program's own text files, as they are written and read.
#include <gtest/gtest.h>

#include <cmath>
#include <sys/stat.h>

#include "settings/key_point_curve.h"
#include "settings/palette.h"
#include "settings/recent_folders.h"
#include "settings/render_settings.h"
#include "settings/video_parameters.h"
#include "status_check.h"
#include "test_util.h"

namespace zoomreel {
namespace {

namespace fs = std::filesystem;
using test::ByteWriter;
using test::TempDir;

std::string readText(const fs::path& path) {
    const auto bytes = test::readBytes(path);
    return {bytes.begin(), bytes.end()};
}

void writeText(const fs::path& path, const std::string& text) { test::writeBytes(path, {text.begin(), text.end()}); }

// Each record written byte for byte; read back and written again it gives the same bytes (the palette's reserved
// bytes included); saved into a folder that is not there it fails naming its file.
TEST(SettingsFiles, ExactLayoutsReadBackWhole) {
    TempDir dir;
    auto check = [&]<typename T>(const char* name, const T& record, bool (*load)(const fs::path&, T&),
                                 Status (*save)(const fs::path&, const T&), const ByteWriter& bytes) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(save(dir / name, record).ok);
        EXPECT_EQ(test::readBytes(dir / name), bytes.bytes());
        T back{};
        ASSERT_TRUE(load(dir / name, back) && save(dir / "again.qvs", back).ok);
        EXPECT_EQ(test::readBytes(dir / "again.qvs"), bytes.bytes());
        EXPECT_TRUE(test::failsSaying(save(dir / "no-such-folder" / name, record), name));
    };
    check("speed.qvs", KeyPointCurve{{{0, 25}, {1.3f, 0.1f}, {7.75f, 3e-7f}}}, loadCurve, saveCurve,
          ByteWriter().i32(3).f32(0).f32(25).f32(1.3f).f32(0.1f).f32(7.75f).f32(3e-7f));
    check(kPaletteFileName, Palette{1, 1, 1.7, {{0, 1, 2, 3, 0xAB}, {300, 4, 5, 6, 0}, {511, 7, 8, 9, 0xCD}}},
          loadPalette, savePalette,
          ByteWriter().i32(1).i32(1).f64(1.7).i32(3).i32(0).u8(1).u8(2).u8(3).u8(0xAB).i32(300).u8(4).u8(5).u8(6)
              .u8(0).i32(511).u8(7).u8(8).u8(9).u8(0xCD));
    const ReliefSettings relief{.active = 1, .lightDirection = 12.5, .deSqrtSqrt = 1, .light2Elevation = -3.25};
    check(kReliefFileName, relief, loadRelief, saveRelief,
          ByteWriter().i32(1).f64(100.0).f64(0.35).f64(12.5).i32(0).i32(0).i32(0).i32(1).i32(1).f64(8.0).f64(0.1)
              .f64(50.0).i32(1).f64(4.0).f64(0.15).f64(-3.25));
    Projection3DSettings projection{.zScale = -70.0, .vertShift = -4};
    projection.setProjectionAngle(0.123456789012345);
    check(k3DFileName, projection, load3D, save3D,
          ByteWriter().i32(1).i32(0).i32(0).f64(0.123456789012345).f64(-70.0).f64(700.0).i32(-4).f64(8.0).i32(1)
              .f64(0.8).f64(45.0));
    check(kSubtractMinimumFileName, SubtractMinimumSettings{1, 12}, loadSubtractMinimum, saveSubtractMinimum,
          ByteWriter().i32(1).i32(12));
    Projection3DSettings back;
    ASSERT_TRUE(load3D(dir / k3DFileName, back));
    EXPECT_EQ(std::make_pair(back.sinAngle, back.cosAngle),
              std::make_pair(std::sin(0.123456789012345), std::cos(0.123456789012345)));
}

// A damaged or short file gives what it holds whole and keeps the rest; a missing one changes nothing.
TEST(SettingsFiles, MissingShortAndDamagedFilesKeepWhatTheyCannotGive) {
    TempDir dir;
    const fs::path file = dir / "file.qvs";
    auto curvePoints = [&](const ByteWriter& bytes) {
        test::writeBytes(file, bytes.bytes());
        KeyPointCurve read{{{5, 5}}};
        EXPECT_TRUE(loadCurve(file, read));
        return read.count();
    };
    EXPECT_EQ(curvePoints(ByteWriter().i32(-4).f32(1).f32(2)), 0);
    EXPECT_EQ(curvePoints(ByteWriter().i32(1 << 30).f32(1).f32(2).f32(3).f32(4)), 2);
    EXPECT_EQ(curvePoints(ByteWriter().i32(2).f32(1).f32(2).f32(3)), 1);
    EXPECT_EQ(curvePoints(ByteWriter().u8(1).u8(0)), 0);

    auto palettePoints = [&](const ByteWriter& bytes) {
        test::writeBytes(file, bytes.bytes());
        Palette read{0, 0, 1.7, {{0, 1, 1, 1, 0}}};
        EXPECT_TRUE(loadPalette(file, read));
        EXPECT_EQ(read.usePalette, 1);
        return std::make_pair(read.count(), read.colorSensitivity);
    };
    EXPECT_EQ(palettePoints(ByteWriter().i32(1).i32(0).f64(2.5).i32(-1).i32(0).i32(0)), std::make_pair(0, 2.5));
    EXPECT_EQ(palettePoints(ByteWriter().i32(1).i32(0).f64(2.5).i32(1 << 29).i32(0).i32(0).i32(5)),
              std::make_pair(1, 2.5));
    EXPECT_EQ(palettePoints(ByteWriter().i32(1).i32(0).u8(0).u8(0)), std::make_pair(0, 1.7));

    // No file, nor a folder, a pipe (which would block a plain open until a writer comes) or a device (which
    // would feed endless bytes): the values in force stay, the 3D angle's sine included; the user palette goes off.
    ASSERT_EQ(::mkfifo((dir / "speed.qvs").c_str(), 0600), 0);
    fs::create_directory(dir / k3DFileName);
    fs::create_symlink("/dev/zero", dir / kRecentFoldersFileName);
    KeyPointCurve speed{{{0, 3}}};
    EXPECT_FALSE(loadCurve(dir / "speed.qvs", speed));
    EXPECT_EQ(speed.count(), 1);
    Projection3DSettings projection;
    projection.setProjectionAngle(1.0);
    projection.maxIter = 5.0;
    EXPECT_FALSE(load3D(dir / k3DFileName, projection));
    EXPECT_EQ(std::make_pair(projection.sinAngle, projection.maxIter), std::make_pair(std::sin(1.0), 5.0));
    EXPECT_TRUE(loadRecentFolders(dir.path()).entries.empty());
    Palette palette{1, 1, 1.7, {{0, 1, 1, 1, 0}}};
    EXPECT_FALSE(loadPalette(dir / "none.qvs", palette));
    EXPECT_EQ(std::make_tuple(palette.usePalette, palette.roundedInterpolation, palette.count(),
                              palette.colorSensitivity), std::make_tuple(0, 0, 0, 1.7));

    // Three flags and half of the angle: the flags are read, the angle is not filled from half a field.
    test::writeBytes(file, ByteWriter().i32(0).i32(1).i32(1).i32(0x7FF00000).bytes());
    EXPECT_TRUE(load3D(file, projection));
    EXPECT_EQ(std::make_tuple(projection.active, projection.logIter, projection.projectionAngle, projection.maxIter),
              std::make_tuple(0, 1, 1.0, 5.0));
    SubtractMinimumSettings subtraction{1, 7};
    test::writeBytes(file, ByteWriter().i32(0).u8(9).bytes());
    EXPECT_TRUE(loadSubtractMinimum(file, subtraction));
    EXPECT_EQ(std::make_pair(subtraction.subtract, subtraction.averageFrames), std::make_pair(0, 7));
}

TEST(VideoParameters, SavedText) {
    TempDir dir;
    VideoParameters video;
    video.fontName = "Arial";
    ASSERT_TRUE(SaveVideoParameters(dir.path(), video).ok);
    EXPECT_EQ(readText(dir / kVideoFormatFileName), "1280\n720\n30\n1000\n0\n8\n0\n255\n255\nArial\n");
    EXPECT_EQ(readText(dir / kVideoBrowserFileName), "");

    EXPECT_TRUE(test::failsSaying(SaveVideoParameters(dir / "no-such-folder", video), kVideoBrowserFileName));
}

TEST(VideoParameters, ReadingAcceptsBothLineEndsAndKeepsWhatDoesNotParse) {
    TempDir dir;
    // The text of the format file; frames per movie, the caption's red and the face name read from it.
    const std::tuple<std::string, int, int, std::string> cases[] = {
        {"640\n360\n25\n500\n1\n14\n10\n20\n30\nDejaVu Sans\n", 500, 10, "DejaVu Sans"},
        {"640\r\n360\r\n25\r\n500\r\n1\r\n14\r\n10\r\n20\r\n30\r\nDejaVu Sans\r\n", 500, 10, "DejaVu Sans"},
        {"640\n360\n25\nabc\n1\n14\n300\n20\n30\nDejaVu Sans", 1000, 44, "DejaVu Sans"},
        {"640\n360\n25\n  +77xyz\n", 77, 0, ""},
        {"640\n360\n25\n99999999999\n1\n14\n-1\n20\n30\n" + std::string(40, 'F') + "\n", 1000, 255,
         std::string(31, 'F')},
        // A face name is cut to 31 bytes without breaking a character in two.
        {"640\n360\n25\n500\n1\n14\n10\n20\n30\n" + std::string(30, 'a') + "\xC3\xA9\n", 500, 10, std::string(30, 'a')},
    };
    for (const auto& [text, framesPerMovie, red, fontName] : cases) {
        writeText(dir / kVideoFormatFileName, text);
        VideoParameters video;
        LoadVideoParameters(dir.path(), video);
        EXPECT_EQ(std::make_tuple(video.finalWidth, video.framesPerMovie, int{video.textColor.red}, video.fontName),
                  std::make_tuple(640, framesPerMovie, red, fontName));
    }
    writeText(dir / kVideoBrowserFileName, "/usr/bin/player\r\n");
    VideoParameters video;
    LoadVideoParameters(dir.path(), video);
    EXPECT_EQ(video.videoBrowser, "/usr/bin/player");
    writeText(dir / kVideoBrowserFileName, "");  // reading a line from an empty file gives nothing to take
    LoadVideoParameters(dir.path(), video);
    EXPECT_EQ(video.videoBrowser, "/usr/bin/player");
}

TEST(RecentFolders, DuplicatesRollOffAndTheFileAsWrittenAndRead) {
    TempDir dir;
    RecentFolders recent;
    ASSERT_TRUE(addRecentFolder(recent, "/maps/one", dir.path()).ok);
    ASSERT_TRUE(addRecentFolder(recent, "/maps/one", dir.path()).ok);
    EXPECT_EQ(readText(dir / kRecentFoldersFileName), "/maps/one\n");
    EXPECT_TRUE(addRecentFolder(recent, "/maps/One", dir.path()).ok);  // byte for byte, so case counts
    for (int i = 2; i <= 9; ++i) ASSERT_TRUE(addRecentFolder(recent, "/maps/" + std::to_string(i), dir.path()).ok);
    ASSERT_TRUE(addRecentFolder(recent, "/maps/eleventh", dir.path()).ok);  // the oldest rolls off
    EXPECT_EQ(std::make_tuple(recent.entries.size(), recent.entries.front(), recent.entries.back()),
              std::make_tuple(10u, "/maps/One", "/maps/eleventh"));
    EXPECT_EQ(loadRecentFolders(dir.path()).entries, recent.entries);

    // A list that cannot be written keeps the new entry in memory and says why.
    RecentFolders elsewhere;
    EXPECT_TRUE(
        test::failsSaying(addRecentFolder(elsewhere, "/maps/x", dir / "no-such-folder"), kRecentFoldersFileName));
    EXPECT_EQ(elsewhere.entries, std::vector<std::string>{"/maps/x"});

    // The last line keeps its last character even without a line end; beyond ten lines nothing is read.
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
