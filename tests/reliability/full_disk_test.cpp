// A full disk and a read-only folder, on a small file system mounted for the test (root only; skipped otherwise):
// every failure names the file and the system's reason, and what was written before it stays whole.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "output/movie_probe.h"
#include "process.h"
#include "reliability/settings_versions.h"
#include "test_util.h"
#include "status_check.h"

namespace zoomreel {
namespace {

namespace fs = std::filesystem;

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
        mountPoint_ = scratch_ / "disk";
        fs::create_directories(mountPoint_);
        if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, "size=3m") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        }
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) ::umount2(mountPoint_.c_str(), MNT_DETACH);
    }

    /// Takes all the free space but `leave` bytes with a file of its own.
    void fillLeaving(std::uintmax_t leave) {
        struct statvfs info {};
        ASSERT_EQ(::statvfs(mountPoint_.c_str(), &info), 0);
        const std::uintmax_t free = static_cast<std::uintmax_t>(info.f_bavail) * info.f_frsize;
        ASSERT_GT(free, leave);
        const int fd = ::open((mountPoint_ / "filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(::posix_fallocate(fd, 0, static_cast<off_t>(free - leave)), 0);
        ::close(fd);
    }

    test::ChildResult cli(const std::vector<std::string>& args) {
        return test::runCli(args, mountPoint_, scratch_.path());
    }
    /// A run that is to fail with exit status 1, as a status whose message is its error output.
    Status failing(const std::vector<std::string>& args) {
        const test::ChildResult run = cli(args);
        return {run.status != 1, run.err};
    }
    bool sampleAndConvert() { return test::sampleAndConvert("maps", mountPoint_, scratch_.path()); }

    test::TempDir scratch_;
    fs::path mountPoint_;
    bool mounted_ = false;
};

TEST_F(FullDisk, AConversionOutOfSpaceNamesTheKeyframeAndKeepsTheOnesWritten) {
    ASSERT_EQ(cli({"sample", "maps", "--maps", "6", "--size", "96x54", "--max-iter", "300"}).status, 0);
    constexpr std::uintmax_t kKeyframeBytes = 72440;  // 96 x 54 maps with a 24 x 13 preview
    fillLeaving(kKeyframeBytes * 5 / 2);
    EXPECT_TRUE(test::failsSaying(failing({"convert", "maps"}), std::strerror(ENOSPC), ".qvy"));
    const auto written = test::filesWithExtension(mountPoint_ / "maps", ".qvy");
    EXPECT_EQ(written.size(), 2u);
    for (const fs::path& file : written) EXPECT_TRUE(test::keyframeWhole(file)) << file;
    EXPECT_EQ(test::unfinishedFiles(mountPoint_ / "maps"), 0);
}

TEST_F(FullDisk, ASettingsSaveOutOfSpaceFailsAndKeepsTheOldFile) {
    const fs::path reference = scratch_ / "reference";
    fs::create_directories(reference);
    ASSERT_TRUE(test::saveAllSettings(reference, 0).ok);
    ASSERT_TRUE(test::saveAllSettings(mountPoint_, 0).ok);
    fillLeaving(0);
    EXPECT_TRUE(test::failsSaying(test::saveAllSettings(mountPoint_, 1), std::strerror(ENOSPC), mountPoint_.string()));
    for (const char* name : test::kAllSettingsFiles) {
        EXPECT_EQ(test::readBytes(mountPoint_ / name), test::readBytes(reference / name)) << name;
    }
    EXPECT_EQ(test::unfinishedFiles(mountPoint_), 0);
}

TEST_F(FullDisk, AMovieOutOfSpaceStopsNamingTheFileAndKeepsTheFinishedOnes) {
    ASSERT_TRUE(sampleAndConvert());
    constexpr std::size_t kPerFile = 4;
    fillLeaving(4 * kPerFile * 96 * 48 * 3 / 2 * 3 / 2);  // about one and a half files of full frames
    EXPECT_TRUE(test::failsSaying(failing({"render", "maps", "--from", "1", "--to", "4", "--width", "96", "--height3d",
                                           "48", "--codec", "raw", "--frames-per-movie", std::to_string(kPerFile)}),
                                  std::strerror(ENOSPC), "film(1-4)"));
    const auto finished = test::filesWithExtension(mountPoint_ / "maps", ".avi");
    EXPECT_FALSE(finished.empty());
    for (const fs::path& file : finished) EXPECT_EQ(test::decodeMovie(file).frames.size(), kPerFile) << file;
    EXPECT_EQ(test::unfinishedFiles(mountPoint_ / "maps"), 0);
}

TEST_F(FullDisk, AReadOnlyFolderRefusesEveryWriteWithItsReason) {
    ASSERT_TRUE(sampleAndConvert());
    ASSERT_TRUE(test::saveAllSettings(mountPoint_, 0).ok);
    const auto before = test::readBytes(mountPoint_ / kPaletteFileName);
    ASSERT_EQ(::mount(nullptr, mountPoint_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << std::strerror(errno);
    const std::string reason = std::strerror(EROFS);

    EXPECT_TRUE(test::failsSaying(test::saveAllSettings(mountPoint_, 1), reason));
    EXPECT_EQ(test::readBytes(mountPoint_ / kPaletteFileName), before);

    EXPECT_TRUE(test::failsSaying(failing({"convert", "maps"}), reason, ".qvy"));
    for (const fs::path& file : test::filesWithExtension(mountPoint_ / "maps", ".qvy")) EXPECT_TRUE(test::keyframeWhole(file));
    EXPECT_TRUE(test::failsSaying(
        failing({"render", "maps", "--from", "1", "--to", "2", "--width", "96", "--frames-per-movie", "4"}), reason,
        "film(1-2)001.avi"));
}

}  // namespace
}  // namespace zoomreel
