// The folder's settings through their TOML text: zoomreel-cli show, set and import.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>
#include <random>

#include "process.h"
#include "settings/settings_file.h"
#include "settings/settings_toml.h"
#include "test_util.h"

namespace zoomreel {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

void handMade(FolderSettings& s) {
    s.curves.speedCurve.points = {{0.0f, 25.0f}, {9.5f, 6.0f}, {10.5f, 6.0f}, {12.0f, 40.0f}};
    s.curves.colorDivisorCurve.points = {{0.0f, 12.3f}, {7.1f, 0.3f}};
    s.curves.colorAddCurve.points = {{-1.5f, -0.2f}, {3.0f, 0.7f}};
    s.palette = {1, 1, 0.65, {{0, 10, 20, 30, 0}, {130, 255, 128, 0, 0}, {511, 1, 2, 3, 0}}};
    s.relief = {.active = 1, .lightDirection = 123.456, .phong2 = 0};
    s.projection = {.sqrtIter = 1, .zScale = -42.25, .vertShift = -300};
    s.projection.setProjectionAngle(0.5);
    s.subtraction = {1, 7};
}

void extremes(FolderSettings& s) {
    using F = std::numeric_limits<float>;
    using D = std::numeric_limits<double>;
    s.curves.colorRotateCurve.points = {{-F::max(), -0.0f}, {-F::denorm_min(), F::max()}, {0.0f, 0.1f},
                                        {F::denorm_min(), 16777216.0f}, {1e-30f, -F::min()}, {F::max(), 3e38f}};
    s.curves.maxIterEvolution.points = {{0.0f, F::denorm_min()}, {1.0f, F::max()}};
    s.palette = {0, 0, D::denorm_min(), {{0, 0, 0, 0, 0}, {511, 255, 255, 255, 0}}};
    // The light's elevation is shortest written as an integer, which TOML could not hold.
    s.relief = {.power = D::max(), .ratio = -D::max(), .lightDirection = -0.0, .phongSize = D::min(),
                .phongRatio = 0.1 + 0.2, .lightElevation = 123456789012345680000.0};
    s.projection = {.maxIter = 1e22, .vertShift = std::numeric_limits<std::int32_t>::min()};
    s.projection.setProjectionAngle(-1e-310);
    s.subtraction.averageFrames = std::numeric_limits<std::int32_t>::max();
}

/// Every settings file of `folder` for the settings `setup` makes, written by the savers the desktop program uses.
FolderSettings writeSettingsFiles(const fs::path& folder, void (*setup)(FolderSettings&)) {
    FolderSettings s;
    setup(s);
    fs::create_directories(folder);
    for (int k = 0; k < kCurveKindCount; ++k) {
        const auto kind = static_cast<CurveKind>(k);
        EXPECT_TRUE(saveCurve(folder / describeCurve(kind).fileName, s.curves[kind]));
    }
    EXPECT_TRUE(savePalette(folder / kPaletteFileName, s.palette) && saveRelief(folder / kReliefFileName, s.relief) &&
                save3D(folder / k3DFileName, s.projection) &&
                saveSubtractMinimum(folder / kSubtractMinimumFileName, s.subtraction));
    return s;
}

TEST(SettingsToml, ShowThenImportWritesTheSameBytes) {
    using Setup = std::pair<const char*, void (*)(FolderSettings&)>;
    for (const auto& [name, edit] : {Setup{"hand-made", handMade}, {"extremes", extremes}}) {
        SCOPED_TRACE(name);
        TempDir scratch;
        writeSettingsFiles(scratch / "a", edit);
        const test::ChildResult shown = test::runCli({"show", "a"}, scratch.path(), scratch.path());
        ASSERT_EQ(shown.status, 0) << shown.err;
        test::writeBytes(scratch / "setup.toml", {shown.out.begin(), shown.out.end()});
        fs::create_directory(scratch / "b");
        const test::ChildResult imported = test::runCli({"import", "b", "setup.toml"}, scratch.path(), scratch.path());
        ASSERT_EQ(imported.status, 0) << imported.err;
        EXPECT_EQ(test::folderBytes(scratch / "b"), test::folderBytes(scratch / "a")) << shown.out;
    }
}

// The same through the engine on random bit patterns: every float and double, and angles that no double
// number of degrees gives back.
TEST(SettingsToml, RandomValuesReadBackBitForBit) {
    std::mt19937_64 random(19);
    auto anyDouble = [&] {
        double v;
        do v = std::bit_cast<double>(random()); while (!std::isfinite(v));
        return v;
    };
    auto anyFloat = [&] {
        float v;
        do v = std::bit_cast<float>(static_cast<std::uint32_t>(random())); while (!std::isfinite(v));
        return v;
    };
    std::uniform_real_distribution<double> turn(-2 * std::numbers::pi, 2 * std::numbers::pi);
    std::uniform_real_distribution<double> mantissa(0.5, 1.0);
    std::uniform_int_distribution<int> exponent(-1074, 985);  // up to the largest angle kept, 1e299 degrees
    for (int round = 0; round < 3000; ++round) {
        FolderSettings s;
        std::vector<float> xs = {anyFloat(), anyFloat(), anyFloat(), anyFloat()};
        std::sort(xs.begin(), xs.end());
        xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
        for (const float x : xs) s.curves.colorAddCurve.points.push_back({x, anyFloat()});
        s.relief.power = anyDouble();
        s.palette.colorSensitivity = anyDouble();
        s.projection.zScale = anyDouble();
        const double angle = round % 2 == 0 ? turn(random) : std::ldexp(mantissa(random), exponent(random));
        s.projection.setProjectionAngle(round % 4 == 1 ? -angle : angle);
        const std::string text = settingsToToml(s);
        FolderSettings back;
        SettingsFileSet changed{};
        ASSERT_TRUE(applySettingsToml(text, "shown", back, changed)) << text;
        ASSERT_EQ(settingsToToml(back), text);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back.projection.projectionAngle),
                  std::bit_cast<std::uint64_t>(s.projection.projectionAngle))
            << text;
    }
}

// Each check refuses with one line that names the key, exit status 1, and leaves every file as it was, also
// the files of the pairs before the wrong one.
TEST(SettingsToml, WrongValuesChangeNoFile) {
    struct Case {
        std::vector<std::string> args;  ///< after the folder; for import, the TOML text
        const char* message;
    };
    const Case cases[] = {
        {{"3d.zscale=90"}, "Unknown key \"3d.zscale\"; the nearest known key is \"3d.zScale\"."},
        {{"relief.active=1"}, "relief.active must be true or false, not an integer."},
        {{"3d.vertShift=10.5"}, "3d.vertShift must be an integer, not a floating-point number."},
        {{"3d.vertShift=2147483648"}, "3d.vertShift must be an integer from -2147483648 to 2147483647"},
        {{"curves.speed=[[0, 25], [10, 0]]"}, "curves.speed: key point 2 [10.0, 0.0] is at 0 or below"},
        {{"curves.vertshift=[[0, -1]]"}, "curves.vertshift: key point 1 [0.0, -1.0] is at 0 or below"},
        {{"curves.coloradd=[[0, 1], [0, 2]]"}, "curves.coloradd: key point 2 [0.0, 2.0] does not lie right of"},
        {{"curves.colorrot=[[0, 1], 3]"}, "curves.colorrot: key point 2 must be [x, y], two numbers."},
        {{"curves.colorrot=[[0, inf]]"}, "curves.colorrot: key point 1 [0.0, inf] must be finite."},
        {{"curves.coloradd=[[0, 1e39]]"}, "beyond the single precision"},
        {{"palette.points=[[0, \"#000000\"], [512, \"#ffffff\"]]"}, "palette.points: point 2 is at 512, outside"},
        {{"palette.points=[[10, \"#000000\"], [5, \"#ffffff\"]]"}, "palette.points: point 2 at 5 does not lie"},
        {{"palette.points=[[0, \"#00000g\"]]"}, "palette.points: point 1 has the colour \"#00000g\""},
        {{"subtractMinimum.averageFrames=0"}, "subtractMinimum.averageFrames must be at least 1, not 0."},
        {{"relief.power=nan"}, "relief.power must be a finite number, not nan."},
        {{"3d.projectionAngle=1e300"}, "3d.projectionAngle must lie between"},
        {{"relief.active=true", "curves.speed=[[0, 30]]", "relief.power="}, "The value of relief.power is not TOML"},
        {{"import", "[relief]\nactive = true\n[3d]\nzScale = \"high\"\n"},
         "setup.toml:4: 3d.zScale must be a number, not a string."},
        {{"import", "[curves]\nspeed = [[0, 30]]\n[palettes]\nusePalette = true\n"},
         "setup.toml:3: Unknown key \"palettes\"; the nearest known key is \"palette\"."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        TempDir scratch;
        writeSettingsFiles(scratch / "dir", handMade);
        const auto before = test::folderBytes(scratch / "dir");
        std::vector<std::string> args = {"set", "dir"};
        if (c.args[0] == "import") {
            test::writeBytes(scratch / "setup.toml", {c.args[1].begin(), c.args[1].end()});
            args = {"import", "dir", "setup.toml"};
        } else {
            args.insert(args.end(), c.args.begin(), c.args.end());
        }
        const test::ChildResult result = test::runCli(args, scratch.path(), scratch.path());
        EXPECT_TRUE(result.status == 1 && result.err.find(c.message) != std::string::npos &&
                    std::count(result.err.begin(), result.err.end(), '\n') == 1) << result.err;
        EXPECT_EQ(test::folderBytes(scratch / "dir"), before);
    }
}

// The angle is typed in degrees and kept in radians as the 3D dialog keeps it; the rest of "3D.qvs" stays.
TEST(SettingsToml, AngleInDegreesIsStoredInRadians) {
    TempDir scratch;
    FolderSettings settings = writeSettingsFiles(scratch / "dir", handMade);
    const test::ChildResult set =
        test::runCli({"set", "dir", "3d.projectionAngle = 90"}, scratch.path(), scratch.path());
    ASSERT_EQ(set.status, 0) << set.err;
    settings.projection.setProjectionAngle(std::numbers::pi / 2);
    ASSERT_TRUE(save3D(scratch / "expected.qvs", settings.projection));
    EXPECT_EQ(test::readBytes(scratch / "dir" / k3DFileName), test::readBytes(scratch / "expected.qvs"));
    EXPECT_NE(test::runCli({"show", "dir"}, scratch.path(), scratch.path()).out.find("\nprojectionAngle = 90.0\n"),
              std::string::npos);
}

}  // namespace
}  // namespace zoomreel
