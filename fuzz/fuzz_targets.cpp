#include "fuzz_targets.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "keyframes/iteration_map.h"
#include "keyframes/keyframe_file.h"
#include "output/beat_cache.h"
#include "output/movie_resume.h"
#include "settings/key_point_curve.h"
#include "settings/palette.h"
#include "settings/recent_folders.h"
#include "settings/render_settings.h"
#include "settings/settings_toml.h"
#include "settings/video_parameters.h"

namespace zoomreel::fuzz {
namespace {

namespace fs = std::filesystem;

// One folder per process, in memory when the system has /dev/shm: the fuzzer writes a file per input, hundreds
// of thousands of them a minute, and a disk-backed folder would make that the bottleneck.
class ScratchFolder {
public:
    ScratchFolder() {
        std::error_code error;
        const fs::path base = fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
        path_ = base / ("zoomreel-fuzz-" + std::to_string(::getpid()));
        fs::create_directories(path_, error);
    }
    ~ScratchFolder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

const fs::path& scratch() {
    static ScratchFolder folder;
    return folder.path();
}

fs::path writeInput(const char* name, const std::uint8_t* data, std::size_t size) {
    const fs::path path = scratch() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        // A harness that silently reads a stale file would test nothing.
        std::fprintf(stderr, "fuzz: cannot write %s\n", path.c_str());
        std::abort();
    }
    return path;
}

// Keeps results observable so that the optimiser cannot drop the reads that produce them.
volatile double gSink = 0.0;

}  // namespace

int fuzzQvbMap(const std::uint8_t* data, std::size_t size) {
    const fs::path path = writeInput("00001_1.25e27.qvb", data, size);
    IterationMap map;
    if (!readIterationMap(path, true, map).ok()) return 0;
    // The conversion looks at every cell and colours it through the colour table.
    double sum = 0.0;
    for (int x = 0; x < map.width; ++x) {
        for (int y = 0; y < map.height; ++y) {
            const std::int32_t count = map.count(x, y);
            const int index = map.colorCount > 0 ? static_cast<int>(static_cast<std::uint32_t>(count) %
                                                                    static_cast<std::uint32_t>(map.colorCount))
                                                 : 0;
            sum += map.fraction(x, y) + map.colors[static_cast<std::size_t>(index) * 3];
        }
    }
    gSink = sum + static_cast<double>(map.divisor) + map.iterationLimit;
    // Every later map of a folder is read into the tables the first one sized.
    const MapReadResult again = readIterationMap(path, false, map);
    gSink = gSink + static_cast<double>(again.outcome);
    return 0;
}

int fuzzQvy(const std::uint8_t* data, std::size_t size) {
    const fs::path path = writeInput("00001.qvy", data, size);
    KeyframeSummary summary;
    KeyframeLayout summaryLayout;
    if (readKeyframeSummary(path, summary, summaryLayout)) {
        gSink = summary.minimum + summary.maximum + summary.average + summary.zoomMantissa +
                static_cast<double>(summary.zoomExponent) + summary.colorDivisor + static_cast<double>(summary.thumbnail.sizeBytes());
    }
    KeyframeLayout layout;
    if (!readKeyframeLayout(path, layout)) return 0;
    std::vector<std::uint8_t> colors;
    if (readKeyframePalette(path, layout, colors)) gSink = gSink + static_cast<double>(colors.size());
    std::vector<double> preview;
    if (readPreviewMap(path, layout, preview)) gSink = gSink + static_cast<double>(preview.size());
    std::vector<double> full;
    if (readFullMap(path, layout, full)) gSink = gSink + static_cast<double>(full.size());
    // A layout the file does not have must be refused, not read past.
    KeyframeLayout other = layout;
    other.colorCount += 1;
    if (readFullMap(path, other, full)) std::abort();
    return 0;
}

int fuzzCurve(const std::uint8_t* data, std::size_t size) {
    const fs::path path = writeInput("speed.qvs", data, size);
    KeyPointCurve curve;
    loadCurveWithDefault(path, curve, kMovieSpeedDefault);
    double sum = 0.0;
    for (const float x : {-1.0f, 0.0f, 0.5f, 3.25f, 100.0f}) {
        sum += static_cast<double>(evaluateLog(curve, x)) + evaluateLinear(curve, x) + findSegment(curve, x);
    }
    // The speed curve decides how many frames a movie has. Counting is bounded by design to tens of millions of
    // steps for absurd speeds, a second or so each and far longer under the sanitizers; counting only curves of
    // up to a thousand images per keyframe keeps the fuzzer fast and still sees every shape a file can give.
    bool countable = true;
    for (const KeyPoint& point : curve.points) countable = countable && loggable(point.y) <= 1000.0f;
    if (countable) {
        const SpeedFrameCount frames = countSpeedFrames(curve, 20, 0, 19, 10.0f);
        sum += frames.total + frames.upToLimit;
    }
    gSink = sum;
    // What the curve editor does with the loaded points.
    if (curve.count() > 1) movePoint(curve, 1, curve.points[0].x + 0.05f, 2.0f);
    insertPoint(curve, 1.5f, 3.0f);
    removePoint(curve, curve.count());
    return 0;
}

int fuzzPalette(const std::uint8_t* data, std::size_t size) {
    const fs::path path = writeInput(kPaletteFileName, data, size);
    Palette palette;
    if (!loadPalette(path, palette)) return 0;
    ColorTable table;
    expandPalette(palette, table);
    gSink = table.entries[0].red + table.entries[kColorTableSize - 1].blue + palette.colorSensitivity;
    // What the palette editor does on opening and on a click between two points.
    useDefaultPaletteIfTooShort(palette);
    insertColorPoint(palette, table, 100);
    expandPalette(palette, table);
    removeColorPoint(palette, palette.count());
    return 0;
}

int fuzzRelief(const std::uint8_t* data, std::size_t size) {
    const fs::path path = writeInput(kReliefFileName, data, size);
    ReliefSettings relief;
    if (loadRelief(path, relief)) gSink = relief.power + relief.phongSize + relief.light2Elevation;
    return 0;
}

int fuzzProjection3D(const std::uint8_t* data, std::size_t size) {
    const fs::path path = writeInput(k3DFileName, data, size);
    Projection3DSettings projection;
    if (load3D(path, projection)) gSink = projection.sinAngle + projection.cosAngle + projection.zScale;
    return 0;
}

int fuzzSubtractMinimum(const std::uint8_t* data, std::size_t size) {
    const fs::path path = writeInput(kSubtractMinimumFileName, data, size);
    SubtractMinimumSettings subtraction;
    if (loadSubtractMinimum(path, subtraction)) {
        gSink = static_cast<double>(subtraction.subtract) + subtraction.averageFrames;
    }
    return 0;
}

int fuzzVideoParameters(const std::uint8_t* data, std::size_t size) {
    std::size_t split = 0;
    while (split < size && data[split] != kVideoFileSeparator) ++split;
    writeInput(kVideoFormatFileName, data, split);
    const std::size_t rest = split < size ? split + 1 : size;
    writeInput(kVideoBrowserFileName, data + rest, size - rest);
    VideoParameters video;
    LoadVideoParameters(scratch(), video);
    if (video.fontName.size() > kMaxFontNameBytes) std::abort();
    gSink = static_cast<double>(video.finalWidth) + video.height3D + video.fps + video.framesPerMovie + video.fontSize +
            static_cast<double>(video.fontName.size() + video.videoBrowser.size());
    return 0;
}

int fuzzRecentFolders(const std::uint8_t* data, std::size_t size) {
    writeInput(kRecentFoldersFileName, data, size);
    const RecentFolders recent = loadRecentFolders(scratch());
    if (recent.entries.size() > static_cast<std::size_t>(kMaxRecentFolders)) std::abort();
    std::size_t bytes = 0;
    for (const std::string& entry : recent.entries) bytes += entry.size();
    gSink = static_cast<double>(bytes);
    return 0;
}

int fuzzMovieResume(const std::uint8_t* data, std::size_t size) {
    const fs::path path = writeInput("film(1-4).resume", data, size);
    MovieResume record;
    if (!readMovieResume(path, record)) return 0;
    // What is accepted goes on as it was read: written back, it reads the same, bit for bit where it counts.
    auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    MovieResume again;
    if (writeMovieResume(path, record) && readMovieResume(path, again) &&
        (again.nextFile != record.nextFile || again.framesBefore != record.framesBefore ||
         again.lastSegment != record.lastSegment || again.lastPosition != record.lastPosition ||
         !same(again.cumulativeRotation, record.cumulativeRotation) ||
         !same(again.carried.runningMinimum3D, record.carried.runningMinimum3D) ||
         again.carried.visibleRowLast != record.carried.visibleRowLast || again.compressor != record.compressor)) {
        std::abort();
    }
    gSink = static_cast<double>(record.fingerprint.parts.size()) + record.lastPosition;
    return 0;
}

int fuzzBeatCache(const std::uint8_t* data, std::size_t size) {
    const fs::path path = writeInput("zoomreel-beats.cache", data, size);
    const std::vector<BeatCacheEntry> entries = readBeatCache(path);
    // What is read is kept as it was: written back and read again, it writes the same bytes.
    const fs::path once = scratch() / "once.cache";
    const fs::path twice = scratch() / "twice.cache";
    if (writeBeatCache(once, entries) && writeBeatCache(twice, readBeatCache(once))) {
        std::ifstream a(once, std::ios::binary), b(twice, std::ios::binary);
        if (!std::equal(std::istreambuf_iterator<char>(a), {}, std::istreambuf_iterator<char>(b), {})) std::abort();
    }
    double sum = 0;
    for (const BeatCacheEntry& e : entries) sum += e.analysis.tempo + double(e.analysis.beats.size());
    gSink = sum;
    return 0;
}

int fuzzSettingsToml(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FolderSettings settings;  // a folder without settings files
    SettingsFileSet changed{};
    if (!applySettingsToml(text, "fuzz.toml", settings, changed)) return 0;
    // "show A | import B" copies a setup exactly: whatever import took, show prints so that import takes it back.
    const std::string shown = settingsToToml(settings);
    FolderSettings again;
    SettingsFileSet changedAgain{};
    if (!applySettingsToml(shown, "shown.toml", again, changedAgain) || settingsToToml(again) != shown) std::abort();
    return 0;
}

}  // namespace zoomreel::fuzz
