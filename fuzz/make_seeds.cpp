// Writes a seed corpus per fuzz target, made by the program's own writers, so that the fuzzer starts from files
// the readers accept and mutates from there. Usage: fuzz_make_seeds <output folder>; the seeds of target T go
// to <output folder>/T/.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_targets.h"
#include "keyframes/keyframe_file.h"
#include "keyframes/sample_maps.h"
#include "output/beat_cache.h"
#include "output/movie_resume.h"
#include "platform/worker_pool.h"
#include "settings/key_point_curve.h"
#include "settings/palette.h"
#include "settings/recent_folders.h"
#include "settings/render_settings.h"
#include "settings/settings_toml.h"
#include "settings/video_parameters.h"

namespace fs = std::filesystem;
using namespace zoomreel;

namespace {

bool gFailed = false;

void check(const Status& status) {
    if (!status) {
        std::fprintf(stderr, "fuzz_make_seeds: %s\n", status.message.c_str());
        gFailed = true;
    }
}

std::vector<char> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "fuzz_make_seeds: cannot write %s\n", path.c_str());
        gFailed = true;
    }
}

/// Moves the file a writer made into the target's corpus under the seed's name.
void keep(const fs::path& made, const fs::path& corpus, const std::string& seedName) {
    fs::create_directories(corpus);
    writeAll(corpus / seedName, readAll(made));
    fs::remove(made);
}

KeyframeData keyframe(int width, int height, int previewWidth, int previewHeight, int colorCount) {
    KeyframeData data;
    data.layout = {width, height, previewWidth, previewHeight, colorCount};
    data.minimum = 1.5;
    data.maximum = 2.0 + width * height;
    data.average = 7.25;
    data.zoomMantissa = 1.25f;
    data.zoomExponent = 27;
    data.thumbnail.assign(kThumbnailBytes, 0x40);
    data.colorDivisor = 3;
    for (int i = 0; i < colorCount; ++i) data.colors.insert(data.colors.end(), {std::uint8_t(i), 0x80, 0xff});
    for (int i = 0; i < previewWidth * previewHeight; ++i) data.previewMap.push_back(1.0 + i * 0.5);
    for (int i = 0; i < width * height; ++i) data.fullMap.push_back(std::sqrt(1.0 + i));
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <output folder>\n");
        return 2;
    }
    const fs::path out = argv[1];
    const fs::path work = out / "work";
    std::error_code error;
    fs::remove_all(work, error);
    fs::create_directories(work);

    // QVB maps: small samples of the zoom, the deepest and a wider one of each size.
    {
        WorkerPool pool(1);
        int variant = 0;
        for (const auto& [width, height] : {std::pair{8, 6}, std::pair{5, 3}}) {
            const fs::path maps = work / "maps";
            fs::remove_all(maps, error);
            check(writeSampleMaps(maps, {2, width, height, 60}, pool));
            for (const auto& entry : fs::directory_iterator(maps)) {
                keep(entry.path(), out / "qvb_map", "sample" + std::to_string(variant++) + ".qvb");
            }
        }
    }

    // Keyframes of a few sizes, with and without a preview.
    {
        const fs::path made = work / "00001.qvy";
        check(writeKeyframe(made, keyframe(4, 3, 2, 1, 2)));
        keep(made, out / "qvy", "small.qvy");
        check(writeKeyframe(made, keyframe(16, 9, 8, 4, 5)));
        keep(made, out / "qvy", "medium.qvy");
        check(writeKeyframe(made, keyframe(1, 1, 0, 0, 1)));
        keep(made, out / "qvy", "single.qvy");
    }

    {
        const fs::path made = work / "speed.qvs";
        check(saveCurve(made, KeyPointCurve{{{0.0f, 25.0f}}}));
        keep(made, out / "curve", "default.qvs");
        check(saveCurve(made, KeyPointCurve{{{0.0f, 20.0f}, {2.5f, 0.5f}, {6.0f, 80.0f}, {9.0f, 3.0f}}}));
        keep(made, out / "curve", "edited.qvs");
    }

    {
        const fs::path made = work / kPaletteFileName;
        Palette palette;
        palette.points = defaultPalettePoints();
        check(savePalette(made, palette));
        keep(made, out / "palette", "default.qvs");
        palette.usePalette = 1;
        palette.roundedInterpolation = 1;
        palette.colorSensitivity = 2.5;
        palette.points.insert(palette.points.begin() + 1, ColorPoint{100, 10, 200, 30, 0});
        palette.points.push_back(ColorPoint{511, 255, 255, 255, 7});
        check(savePalette(made, palette));
        keep(made, out / "palette", "edited.qvs");
    }

    {
        const fs::path made = work / kReliefFileName;
        ReliefSettings relief;
        check(saveRelief(made, relief));
        keep(made, out / "relief", "default.qvs");
        relief.active = 1;
        relief.distanceEstimator = 1;
        relief.deSqrt = 1;
        relief.lightDirection = 30.0;
        check(saveRelief(made, relief));
        keep(made, out / "relief", "edited.qvs");
    }

    {
        const fs::path made = work / k3DFileName;
        Projection3DSettings projection;
        check(save3D(made, projection));
        keep(made, out / "projection_3d", "default.qvs");
        projection.sqrtIter = 1;
        projection.zScale = -40.0;
        projection.setProjectionAngle(0.5);
        check(save3D(made, projection));
        keep(made, out / "projection_3d", "edited.qvs");
    }

    {
        const fs::path made = work / kSubtractMinimumFileName;
        check(saveSubtractMinimum(made, {}));
        keep(made, out / "subtract_minimum", "default.qvs");
        check(saveSubtractMinimum(made, {1, 5}));
        keep(made, out / "subtract_minimum", "edited.qvs");
    }

    // The video-parameters target takes both files in one input, joined by the separator its harness splits at.
    {
        const fs::path corpus = out / "video_parameters";
        fs::create_directories(corpus);
        VideoParameters video;
        int variant = 0;
        for (int edit = 0; edit < 2; ++edit) {
            if (edit == 1) {
                video.finalWidth = 1920;
                video.fps = 25;
                video.showZoomText = 1;
                video.fontName = "Liberation Sans";
                video.textColor = {200, 10, 30};
                video.videoBrowser = "/usr/bin/ffplay";
            }
            check(SaveVideoParameters(work, video));
            std::vector<char> joined = readAll(work / kVideoFormatFileName);
            joined.push_back(static_cast<char>(fuzz::kVideoFileSeparator));
            const std::vector<char> browser = readAll(work / kVideoBrowserFileName);
            joined.insert(joined.end(), browser.begin(), browser.end());
            writeAll(corpus / ("seed" + std::to_string(variant++) + ".txt"), joined);
        }
    }

    {
        RecentFolders recent;
        check(addRecentFolder(recent, "/home/user/zooms/deep one", work));
        keep(work / kRecentFoldersFileName, out / "recent_folders", "one.fld");
        for (int i = 0; i < 12; ++i) check(addRecentFolder(recent, "/data/zoom " + std::to_string(i), work));
        keep(work / kRecentFoldersFileName, out / "recent_folders", "full.fld");
    }

    {
        // A record as a 3D movie with rotation leaves it, its fingerprint that of the program's defaults.
        MovieResume record{1, 4, 3, 8, 1, 2.1f, -7.3f, {0.0, 11.25, 3, 47}, kUncompressed};
        record.fingerprint = movieFingerprint(CurveSet(), Palette(), ColorTable(), RenderSettings(), VideoParameters());
        const fs::path made = work / "film(1-4).resume";
        check(writeMovieResume(made, record));
        keep(made, out / "movie_resume", "stopped.resume");
    }

    {
        // Two soundtracks' analyses, as the program keeps them.
        BeatAnalysis analysis{120.0, {0.0, 0.5, 1.0, 1.5}, 256.0 / 44100, {0.0f, 12.5f, 3.0f}};
        const fs::path made = work / "zoomreel-beats.cache";
        check(writeBeatCache(made, {{"/music/click.wav", 1764078, 1700000000, analysis},
                                    {"/music/other.flac", 99, -5, BeatAnalysis{}}}));
        keep(made, out / "beat_cache", "two.cache");
    }

    // The text "zoomreel-cli show" prints: a folder without settings files, and one with every file edited.
    {
        const fs::path corpus = out / "settings_toml";
        fs::create_directories(corpus);
        auto writeText = [&](const std::string& name, const std::string& text) {
            writeAll(corpus / name, std::vector<char>(text.begin(), text.end()));
        };
        FolderSettings settings;
        writeText("defaults.toml", settingsToToml(settings));
        settings.present.fill(true);
        settings.curves.speedCurve.points = {{0.0f, 25.0f}, {10.0f, 8.0f}, {12.0f, 30.0f}};
        settings.curves.colorAddCurve.points = {{0.0f, 0.0f}, {5.5f, 0.1f}};
        settings.curves.zScaleEvolution.points = {{2.0f, 1.0f}, {14.0f, 3.0e-7f}};
        settings.palette.usePalette = 1;
        settings.palette.roundedInterpolation = 1;
        settings.palette.colorSensitivity = 0.7;
        settings.palette.points = {{0, 20, 0, 0, 0}, {200, 40, 160, 250, 0}, {511, 255, 255, 255, 0}};
        settings.relief.active = 1;
        settings.relief.lightDirection = 30.5;
        settings.projection.sqrtIter = 1;
        settings.projection.vertShift = -120;
        settings.projection.setProjectionAngle(0.6);
        settings.subtraction = {1, 5};
        writeText("edited.toml", settingsToToml(settings));
    }

    fs::remove_all(work, error);
    return gFailed ? 1 : 0;
}
