#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <sstream>
#include <tuple>

#include <QImage>

#include "keyframes/sample_zoom.h"
#include "output/movie_driver.h"
#include "output/movie_probe.h"
#include "process.h"
#include "test_util.h"

namespace zoomreel {
namespace {

using test::TempDir;

using Outcome = test::ChildResult;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

/// zoomreel-cli run in a scratch folder that holds "maps": five sample maps of 64 x 36, converted.
struct Cli : ::testing::Test {
    TempDir scratch;

    void SetUp() override {
        ASSERT_EQ(run("sample maps --maps 5 --size 64x36 --max-iter 300").status, 0);
        ASSERT_EQ(run("convert maps --preview-block 4").status, 0);
    }
    /// `args` are words separated by spaces.
    Outcome run(const std::string& args) const {
        std::istringstream in(args);
        const std::vector<std::string> words{std::istream_iterator<std::string>(in), {}};
        return test::runCli(words, scratch.path(), scratch.path());
    }
};

// Bad input of every command: its exit status (2 for a usage error) and a message that names the problem, in one
// line unless it is a usage error; what cannot be used in a movie is told before any frame is made, and no file.
TEST_F(Cli, RefusalsNameTheProblemWithTheirExitStatus) {
    std::filesystem::create_directory(scratch / "empty");
    const std::string empty = (scratch / "empty").string();
    test::writeWav(scratch / "tone.wav", 44100, 2, test::toneSamples(44100, 2, 2.0));
    test::writeWav(scratch / "silence.wav", 44100, 1, std::vector<std::int16_t>(44100 * 5));
    ASSERT_EQ(run("preview maps --from 1 --to 3 --out silent.avi").status, 0);
    const std::string movie = "render maps --from 0 --to 2 --width 64 --height3d 32 ";
    const struct {
        std::string args;
        int status;
        const char* says;
    } cases[] = {
        {"convert " + empty, 1, "This folder do not contain any QVB files!"},
        {"info " + empty, 1, "This folder do not contain any QVY files!"},
        {"info " + empty + "/missing", 1, "does not exist"},
        {"convert " + empty + " --preview-block x4", 1, "preview block"},
        {"convert " + empty + " --preview-block 41", 1, "between 2 and 40"},
        {"convert " + empty + " --bogus 1", 2, "Unknown option"},
        {"convert " + empty + " --preview-block", 2, "needs a value"},
        {"convert", 2, "exactly one folder"},
        {"check " + empty, 1, "This folder do not contain any QVY files!"},
        {"check " + empty + "/missing", 1, "does not exist"},
        {"check", 2, "exactly one folder"},
        {"dance", 2, "Unknown command"},
        {"render maps --from 3 --to 1", 1, "must start before"},
        {"render maps --from 0 --to 9", 1, "outside the keyframes 0 to 4"},
        {"render maps --from 0 --to x", 1, "Cannot read"},
        {"render maps --from 0 --to 2 --codec XYZW", 1, "Unknown codec"},
        {"render maps --from 0 --to 2 --quality 101", 1, "between 0 and 100"},
        {"render maps --from 0", 2, "needs --from S and --to E"},
        {"frame maps --from 1 --to 3 --at 3.5 --out x.png", 1, "Frame must be in selection!"},
        {"frame maps --from 1 --to 4 --at 4 --out x.png", 1, "No frame of the movie lies above 4"},
        {"frame maps --from 1 --to 3", 2, "needs --at X and --out FILE.png"},
        {"preview-frame maps --from 1 --to 3 --at 3.5 --out x.png", 1, "Frame must be in selection!"},
        {"preview maps --from 1 --to 3 --play --out x.avi", 1, "You must define a Video Browser"},
        {"preview maps --from 1 --to 3 --player /no/such/player --out x.avi", 1, "Unable to start"},
        {"preview maps --from 1 --to 3 --codec XYZW", 1, "Unknown codec"},
        {"preview-frame maps --from 1 --to 3", 2, "needs --at X and --out FILE.png"},
        {movie + "--audio missing.wav", 1, "Cannot open the soundtrack \"missing.wav\""},
        {movie + "--audio silent.avi", 1, "The file \"silent.avi\" holds no sound to use as a soundtrack."},
        {movie + "--audio tone.wav --audio-start 2", 1, "The soundtrack start of 2.000 s lies past the end of \"tone.wav\""},
        {movie + "--audio tone.wav --audio-start -1", 1, "must be 0 seconds or more"},
        {movie + "--audio tone.wav --audio-start inf", 1, "Cannot read the soundtrack's start from \"inf\"."},
        {movie + "--container mov", 1, "Unknown container \"mov\": choose avi, mp4 or mkv."},
        {movie + "--container mp4 --codec MSVC", 1, "The codec MSVC cannot go in an MP4 file; it goes in avi and mkv."},
        {movie + "--codec H264 --width 63", 1, "takes only frames of even width and height, not 63 x 32"},
        {"beats silence.wav", 1, "No beat"},
        {"suggest maps --from 1 --to 4 --audio silence.wav --colour-pulse 1", 1, "No beat"},
    };
    for (const auto& c : cases) {
        const Outcome o = run(c.args);
        EXPECT_EQ(o.status, c.status) << c.args << "\n" << o.err;
        EXPECT_NE(o.err.find(c.says), std::string::npos) << c.args << "\n" << o.err;
        EXPECT_TRUE(c.status == 2 || lines(o.err).size() == 1) << c.args << "\n" << o.err;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch / "x.png"));
    for (const auto& entry : std::filesystem::directory_iterator(scratch / "maps")) {
        EXPECT_EQ(entry.path().filename().string().rfind("film(", 0), std::string::npos) << entry.path();
    }
}

// info: index, name, minimum, average, maximum, zoom ("%6.3f" "e" "%03d", one number to strtod), divisor, each map
// twice as wide as the one before; check: the pairs of keyframes that disagree, and where.
TEST_F(Cli, InfoAndCheckTellTheKeyframes) {
    Outcome o = run("info maps");
    ASSERT_EQ(o.status, 0) << o.err;
    auto rows = lines(o.out);
    ASSERT_EQ(rows.size(), 5u) << o.out;
    char name[16];
    char zooms[5][32];
    double minimum, average, maximum;
    for (int k = 0; k < 5; ++k) {
        ASSERT_EQ(std::sscanf(rows[k].c_str(), "%*d %15s %lf %lf %lf %31s %*d", name, &minimum, &average, &maximum,
                              zooms[k]), 5) << rows[k];
        EXPECT_TRUE(minimum <= average && average <= maximum) << rows[k];
    }
    EXPECT_STREQ(name, "00004.qvy");
    const double widest = std::strtod(zooms[0], nullptr);
    EXPECT_NEAR(std::strtod(zooms[4], nullptr), 16.0 * widest, 16e-3 * widest);

    const test::SampleZoom zoom(scratch / "zoom", {8, 128, 72, 500});
    ASSERT_TRUE(zoom.written && zoom.edit(4, test::glitchDisc(60, 30, 8, 40)));
    // The conversion succeeds and tells what the check found.
    o = run("convert " + zoom.folder.string());
    ASSERT_EQ(o.status, 0) << o.err;
    rows = lines(o.out);
    ASSERT_EQ(rows.size(), 4u) << o.out;
    EXPECT_EQ(rows[3], "Checked 8 keyframes: 2 of the 7 pairs disagree.");

    o = run("check " + zoom.folder.string());
    EXPECT_EQ(o.status, 1) << o.err;
    rows = lines(o.out);
    ASSERT_EQ(rows.size(), 3u) << o.out;
    // Within the disc around (60, 30) of keyframe 4 (where its 40 differs from what keyframe 3 shows), then the
    // same disc in keyframe 5 at twice the size.
    int left, right, top, bottom;
    ASSERT_EQ(std::sscanf(rows[0].c_str(), "Keyframes 3 and 4: %*[0-9.]%% of the shared area disagrees, in a region at "
                                           "x %d to %d, y %d to %d of keyframe 4: a glitch.",
                          &left, &right, &top, &bottom), 4) << rows[0];
    EXPECT_TRUE(left >= 51 && right <= 69 && top >= 21 && bottom <= 39 && left < right && top < bottom) << rows[0];
    EXPECT_EQ(rows[1].rfind("Keyframes 4 and 5: ", 0), 0u) << rows[1];
    EXPECT_EQ(rows[2], "Checked 8 keyframes: 2 of the 7 pairs disagree.");

    o = run("check maps");
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Checked 5 keyframes: all 4 pairs agree.\n");

    const auto keyframe = scratch / "maps" / "00001.qvy";
    std::filesystem::resize_file(keyframe, std::filesystem::file_size(keyframe) - 8);
    o = run("check maps");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("00001.qvy"), std::string::npos) << o.err;
}

// render, frame, preview and preview-frame at the sizes asked for; the preview's frames at the preview size (16 x 9
// maps, coded on 16 x 12 by the default codec).
TEST_F(Cli, MoviesAndFramesAtTheSizesAskedFor) {
    // 20 images per keyframe (no "speed.qvs") over 1..3, with 3D on (no "3D.qvs"): 25 frames to a file.
    Outcome o = run("render maps --from 1 --to 3 --width 64 --height3d 32 --codec raw --fps 10 --frames-per-movie 25 "
                    "--zoom-text");
    ASSERT_EQ(o.status, 0) << o.err;
    const auto files = lines(o.out);
    ASSERT_EQ(files.size(), 2u) << o.out;
    EXPECT_NE(files[0].find("film(1-3)001.avi"), std::string::npos);
    const auto first = test::decodeMovie(scratch / files[0]);
    // h = 1.0000001 ... 2.9999998: single-precision steps of 0.05 land just above S and just below E.
    EXPECT_EQ(first.frames.size() + test::decodeMovie(scratch / files[1]).frames.size(), 41u);
    EXPECT_EQ(std::tuple(first.frames.size(), first.width, first.height, first.rateNumerator), std::tuple(25u, 64, 32, 10));
    EXPECT_NE(o.err.find("Movie is done!"), std::string::npos);

    o = run("frame maps --from 1 --to 3 --at 2 --out frame.png --width 64 --height3d 32");
    ASSERT_EQ(o.status, 0) << o.err;
    const double position = std::strtod(o.out.c_str(), nullptr);
    EXPECT_TRUE(position > 2.0 && position < 2.06) << o.out;
    EXPECT_EQ(QImage((scratch / "frame.png").string().c_str()).size(), QSize(64, 32));

    o = run("preview maps --from 1 --to 3");
    ASSERT_EQ(o.status, 0) << o.err;
    const auto preview = test::decodeMovie(scratch / "preview.avi");
    EXPECT_EQ(static_cast<int>(preview.frames.size()), std::atoi(o.out.c_str()));
    // 25 images per keyframe: steps of 0.04f land just above 1 and on 3.
    EXPECT_EQ(std::tuple(preview.fourCC, preview.frames.size(), preview.width, preview.height),
              std::tuple(std::string("MSVC"), 51u, 16, 12));
    ASSERT_EQ(run("preview-frame maps --from 1 --to 3 --at 2.5 --out frame.png").status, 0);
    EXPECT_EQ(QImage((scratch / "frame.png").string().c_str()).size(), QSize(16, 9));

    o = run("codecs");
    EXPECT_EQ(o.out.rfind("MSVC  Microsoft Video 1                   avi mkv\nraw ", 0), 0u) << o.out;
    EXPECT_NE(o.out.find("\nH264  H.264                               avi mp4 mkv\n"), std::string::npos) << o.out;
}

// Movies with a soundtrack from the command line: MP4 with H.264 by default there, a preview in Matroska; a
// soundtrack that fails to decode part way stops the movie, and the files finished before stay playable.
TEST_F(Cli, MoviesWithASoundtrackAndOneThatFailsPartWay) {
    test::writeWav(scratch / "tone.wav", 44100, 2, test::toneSamples(44100, 2, 2.0));
    const std::string movie = "render maps --from 1 --to 3 --width 64 --height3d 32 --fps 30 ";
    Outcome o = run(movie + "--container mp4 --audio tone.wav");
    ASSERT_EQ(o.status, 0) << o.err;
    auto mp4 = test::decodeMovie(scratch / "maps" / "film(1-3)001.mp4");
    EXPECT_EQ(mp4.codec + " " + mp4.soundCodec, "h264 aac");
    EXPECT_NEAR(static_cast<double>(mp4.samples.size() / 2), 41.0 * 44100 / 30, 1024);

    ASSERT_EQ(run("preview maps --from 1 --to 3 --container mkv --audio tone.wav").status, 0);
    const auto preview = test::decodeMovie(scratch / "preview.mkv");
    EXPECT_EQ(preview.soundCodec, "flac");
    EXPECT_EQ(preview.samples.size() / 2, preview.frames.size() * 44100 / 30);

    // A soundtrack (the preview's) whose twelfth FLAC frame (1.15 s to 1.25 s in) lost its sync code: the files of
    // the frames up to 1 s are finished and play; the movie stops in the next one with the reason.
    std::vector<std::uint8_t> bytes = test::readBytes(scratch / "preview.mkv");
    // Fixed blocks of 4608 samples at 44.1 kHz: 0xFFF8, then block size code 5 and rate code 9.
    const std::uint8_t sync[] = {0xFF, 0xF8, 0x59};
    auto at = bytes.begin() - 1;
    for (int n = 0; n < 12 && at != bytes.end(); ++n) at = std::search(at + 1, bytes.end(), sync, sync + 3);
    ASSERT_NE(at, bytes.end());
    at[0] = at[1] = 0;
    test::writeBytes(scratch / "broken.mkv", bytes);
    o = run(movie + "--container mkv --codec FFV1 --frames-per-movie 10 --audio broken.mkv");
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("The soundtrack \"broken.mkv\" cannot be decoded at 1.1"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("Movie is done!"), std::string::npos) << o.err;
    EXPECT_FALSE(std::filesystem::exists(scratch / "maps" / "film(1-3)004.mkv"));
    EXPECT_FALSE(std::filesystem::exists(scratch / "maps" / "film(1-3)004.mkv.part"));
    for (int file = 1; file <= 3; ++file) {
        const auto finished = test::decodeMovie(scratch / "maps" / movieFileName(1, 3, file, MovieContainer::Matroska));
        EXPECT_EQ(finished.frames.size(), 10u) << file;
        EXPECT_EQ(finished.samples.size(), 2u * 14700) << file;
    }
}

// "beats" on a click track with a lead-in, from a start inside it; "suggest --audio" fitting keyframes 1 to 4 to
// every third beat, applied and rendered.
TEST_F(Cli, BeatsAndSpeedFittedToThem) {
    std::vector<double> beats;
    test::writeWav(scratch / "click.wav", 44100, 1, test::toPcm(test::beatTrack(44100, 128, 20, 0.6, false, &beats)));
    Outcome o = run("beats click.wav --audio-start 0.5");
    ASSERT_EQ(o.status, 0) << o.err;
    const auto printed = lines(o.out);
    ASSERT_GE(printed.size(), 40u);
    EXPECT_EQ(printed[0], "128.0");
    EXPECT_NEAR(std::stod(printed[1]), 0.1, 0.015);
    EXPECT_NEAR(std::stod(printed[11]), beats[10] - 0.5, 0.015);
    EXPECT_TRUE(std::filesystem::exists(scratch / "zoomreel-beats.cache"));

    o = run("suggest maps --from 1 --to 4 --audio click.wav --beats-per-keyframe 3 --apply");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.rfind("# Fitted to 128.0 beats per minute for keyframes 1 to 4: ", 0), 0u) << o.out;
    // Beat 9 (keyframe 4) at 0.6 + 9 * 60 / 128 s, 30 frames per second.
    ASSERT_EQ(run("render maps --from 1 --to 4 --width 32 --codec raw").status, 0);
    EXPECT_NEAR(static_cast<double>(test::decodeMovie(scratch / "maps" / "film(1-4)001.avi").frames.size()),
                (0.6 + 9 * 60.0 / 128) * 30, 1.0);
}

}  // namespace
}  // namespace zoomreel
