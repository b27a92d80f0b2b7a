#include "output/movie_resume.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <system_error>
#include <type_traits>

#include "platform/atomic_file.h"
#include "settings/settings_file.h"

namespace zoomreel {
namespace {

constexpr int kRecordFormat = 1;
/// Far more than a record has; a longer file is not one.
constexpr std::size_t kMaxRecordLines = 400;
constexpr std::size_t kMaxRecordLineBytes = 512;

/// FNV-1a over the bytes of the values it is given, in the order given.
class PartHash {
public:
    void bytes(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < size; ++i) {
            hash_ ^= p[i];
            hash_ *= 0x100000001b3ULL;
        }
    }
    template <typename T>
    PartHash& operator<<(const T& value) {
        static_assert(std::is_arithmetic_v<T>);
        bytes(&value, sizeof value);
        return *this;
    }
    PartHash& operator<<(const std::string& text) {
        *this << text.size();
        bytes(text.data(), text.size());
        return *this;
    }
    std::string hex() const {
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
        return text;
    }

private:
    std::uint64_t hash_ = 0xcbf29ce484222325ULL;
};

PartHash& operator<<(PartHash& hash, const KeyPointCurve& curve) {
    hash << curve.points.size();
    for (const KeyPoint& p : curve.points) hash << p.x << p.y;
    return hash;
}

/// Size and modification time of a keyframe file; -1 for what cannot be read.
void hashFileState(PartHash& hash, const std::filesystem::path& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    hash << (error ? std::uintmax_t(-1) : size);
    const auto time = std::filesystem::last_write_time(path, error);
    hash << (error ? std::int64_t{-1} : static_cast<std::int64_t>(time.time_since_epoch().count()));
}

std::string codecText(const FourCC& code) {
    return code == kUncompressed ? "raw" : std::string(code.data(), code.size());
}

std::string hexFloat(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", value);
    return text;
}

}  // namespace

MovieFingerprint movieFingerprint(const CurveSet& curves, const Palette& palette, const ColorTable& colorTable,
                                  const RenderSettings& settings, const VideoParameters& video) {
    MovieFingerprint fingerprint;
    auto add = [&](const char* name, const PartHash& hash) { fingerprint.parts.emplace_back(name, hash.hex()); };
    const struct {
        const char* name;
        const KeyPointCurve& curve;
    } curveParts[] = {{"curves.speed", curves.speedCurve},         {"curves.colordiv", curves.colorDivisorCurve},
                      {"curves.coloradd", curves.colorAddCurve},   {"curves.colorrot", curves.colorRotateCurve},
                      {"curves.zscale", curves.zScaleEvolution},   {"curves.maxiter", curves.maxIterEvolution},
                      {"curves.vertshift", curves.vertShiftEvolution}};
    for (const auto& part : curveParts) {
        PartHash hash;
        hash << part.curve;
        add(part.name, hash);
    }
    {
        // The table is what the frames are coloured with: it holds the points, their interpolation, and what
        // earlier expansions left where the points do not reach.
        PartHash hash;
        hash << palette.usePalette << palette.colorSensitivity;
        if (palette.usePalette != 0) {
            for (const TableColor& c : colorTable.entries) hash << c.blue << c.green << c.red;
        }
        add("palette", hash);
    }
    {
        const ReliefSettings& r = settings.relief;
        PartHash hash;
        hash << r.active << r.power << r.ratio << r.lightDirection << r.distanceEstimator << r.deWrapToZero << r.deSqrt
             << r.deSqrtSqrt << r.phong << r.phongSize << r.phongRatio << r.lightElevation << r.phong2 << r.phong2Size
             << r.phong2Ratio << r.light2Elevation;
        add("relief", hash);
    }
    {
        const Projection3DSettings& p = settings.projection;
        PartHash hash;
        hash << p.active << p.sqrtIter << p.logIter << p.projectionAngle << p.zScale << p.maxIter << p.vertShift
             << p.gaussianFilter << p.asymptotic << p.shadowCoef << p.shadowAngle;
        add("3d", hash);
    }
    {
        PartHash hash;
        hash << settings.subtractMinimum.subtract << settings.subtractMinimum.averageFrames;
        add("subtractMinimum", hash);
    }
    {
        PartHash hash;
        if (settings.keyframes != nullptr) {
            const KeyframeList& list = *settings.keyframes;
            hash << list.names.size();
            for (int k = 0; k < list.keyframeCount(); ++k) {
                hash << list.names[k];
                hashFileState(hash, keyframeFilePath(list, k));
            }
        }
        add("keyframes", hash);
    }
    {
        PartHash hash;
        hash << settings.keyframeByKeyframe << settings.flipHorizontal << settings.flipVertical;
        add("flags", hash);
    }
    {
        PartHash hash;
        hash << settings.finalWidth << settings.finalHeight << settings.height3D;
        add("frameSize", hash);
    }
    {
        PartHash hash;
        hash << video.framesPerMovie;
        add("framesPerMovie", hash);
    }
    {
        PartHash hash;
        hash << video.fps;
        add("fps", hash);
    }
    {
        PartHash hash;
        hash << video.showZoomText;
        if (video.showZoomText != 0) {
            hash << video.fontName << video.fontSize << video.textColor.red << video.textColor.green
                 << video.textColor.blue;
        }
        add("zoomText", hash);
    }
    // Only where they are not the default, so that the record of a plain AVI movie reads as it always did.
    if (video.container != MovieContainer::Avi) {
        PartHash hash;
        hash << static_cast<int>(video.container);
        add("container", hash);
    }
    if (!video.soundtrack.empty()) {
        PartHash hash;
        hash << video.soundtrack << video.soundtrackStart;
        hashFileState(hash, video.soundtrack);
        add("soundtrack", hash);
    }
    return fingerprint;
}

std::vector<std::string> fingerprintDifferences(const MovieFingerprint& stopped, const MovieFingerprint& now) {
    std::vector<std::string> differ;
    const std::map<std::string, std::string> before(stopped.parts.begin(), stopped.parts.end());
    for (const auto& [name, hash] : now.parts) {
        const auto found = before.find(name);
        if (found == before.end() || found->second != hash) differ.push_back(name);
    }
    for (const auto& [name, hash] : stopped.parts) {
        bool known = false;
        for (const auto& part : now.parts) known = known || part.first == name;
        if (!known) differ.push_back(name);
    }
    return differ;
}

Status writeMovieResume(const std::filesystem::path& path, const MovieResume& r) {
    std::string text;
    auto line = [&](const std::string& key, const std::string& value) {
        text += key + " = " + value;
        text += kLineEnd;
    };
    text += "# Zoomreel: where the stopped movie of keyframes " + std::to_string(r.selectionStart) + " to " +
            std::to_string(r.selectionEnd) + " goes on (zoomreel-cli render ... --resume).";
    text += kLineEnd;
    text += "# Written as each of its files is finished, removed when the movie is done.";
    text += kLineEnd;
    line("format", std::to_string(kRecordFormat));
    line("selectionStart", std::to_string(r.selectionStart));
    line("selectionEnd", std::to_string(r.selectionEnd));
    line("nextFile", std::to_string(r.nextFile));
    line("framesBefore", std::to_string(r.framesBefore));
    line("lastSegment", std::to_string(r.lastSegment));
    line("lastPosition", hexFloat(r.lastPosition));
    line("cumulativeRotation", hexFloat(r.cumulativeRotation));
    line("runningMinimum2D", hexFloat(r.carried.runningMinimum2D));
    line("runningMinimum3D", hexFloat(r.carried.runningMinimum3D));
    line("visibleRowFirst", std::to_string(r.carried.visibleRowFirst));
    line("visibleRowLast", std::to_string(r.carried.visibleRowLast));
    line("codec", codecText(r.compressor));
    line("keyFrameEvery", std::to_string(r.keyFrameEvery));
    line("quality", std::to_string(r.quality));
    line("soundAnchorFrame", std::to_string(r.soundAnchorFrame));
    line("soundAnchorSample", std::to_string(r.soundAnchorSample));
    for (const auto& [name, hash] : r.fingerprint.parts) line("fingerprint." + name, hash);

    AtomicFileWriter writer(path);
    writer.write(text.data(), text.size());
    return writer.commit();
}

Status readMovieResume(const std::filesystem::path& path, MovieResume& record, bool* found) {
    if (found != nullptr) *found = false;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return Status::failure("There is no record of a stopped movie " + quotedPath(path) + ".");
    }
    if (found != nullptr) *found = true;
    const auto damaged = [&](const std::string& what) {
        return Status::failure("The record of the stopped movie " + quotedPath(path) + " is damaged (" + what +
                               ").");
    };
    const auto lines = readTextLines(path, kMaxRecordLines + 1, kMaxRecordLineBytes);
    if (!lines) return Status::failure("Cannot read the record of the stopped movie " + quotedPath(path) + ".");
    if (lines->size() > kMaxRecordLines) return damaged("too many lines");

    std::map<std::string, std::pair<std::string, int>> values;  // key: value, line number
    MovieResume r;
    for (std::size_t i = 0; i < lines->size(); ++i) {
        const std::string& text = (*lines)[i];
        const auto first = text.find_first_not_of(" \t");
        if (first == std::string::npos || text[first] == '#') continue;
        const auto equals = text.find('=');
        auto trim = [](std::string s) {
            const auto b = s.find_first_not_of(" \t");
            const auto e = s.find_last_not_of(" \t");
            return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
        };
        if (equals == std::string::npos) return damaged("line " + std::to_string(i + 1) + " is not \"key = value\"");
        const std::string key = trim(text.substr(0, equals));
        const std::string value = trim(text.substr(equals + 1));
        const std::string prefix = "fingerprint.";
        if (key.rfind(prefix, 0) == 0) {
            r.fingerprint.parts.emplace_back(key.substr(prefix.size()), value);
        } else {
            values[key] = {value, static_cast<int>(i + 1)};
        }
    }

    Status bad;
    auto where = [&](const std::string& key) {
        const auto it = values.find(key);
        return it == values.end() ? std::string("no \"" + key + "\"")
                                  : "line " + std::to_string(it->second.second) + ": " + key + " = " + it->second.first;
    };
    auto integer = [&](const std::string& key, long long low, long long high, auto& field) {
        const auto it = values.find(key);
        if (!bad) return;
        if (it != values.end()) {
            const char* text = it->second.first.c_str();
            char* end = nullptr;
            errno = 0;
            const long long v = std::strtoll(text, &end, 10);
            if (errno == 0 && end != text && *end == '\0' && v >= low && v <= high) {
                field = static_cast<std::remove_reference_t<decltype(field)>>(v);
                return;
            }
        }
        bad = damaged(where(key));
    };
    auto real = [&](const std::string& key, bool finiteOnly, auto& field) {
        const auto it = values.find(key);
        if (!bad) return;
        if (it != values.end()) {
            const char* text = it->second.first.c_str();
            char* end = nullptr;
            const double v = std::strtod(text, &end);
            using Field = std::remove_reference_t<decltype(field)>;
            // A float field takes only what a float holds exactly, as it was written.
            if (end != text && *end == '\0' && (!finiteOnly || std::isfinite(v)) &&
                (std::isnan(v) || static_cast<double>(static_cast<Field>(v)) == v)) {
                field = static_cast<Field>(v);
                return;
            }
        }
        bad = damaged(where(key));
    };
    int format = 0;
    integer("format", kRecordFormat, kRecordFormat, format);
    constexpr long long kInt = std::numeric_limits<std::int32_t>::max();
    integer("selectionStart", 0, kInt, r.selectionStart);
    integer("selectionEnd", 0, kInt, r.selectionEnd);
    integer("nextFile", 2, kInt, r.nextFile);
    integer("framesBefore", 0, kInt, r.framesBefore);
    integer("lastSegment", 0, kInt, r.lastSegment);
    real("lastPosition", true, r.lastPosition);
    real("cumulativeRotation", false, r.cumulativeRotation);
    real("runningMinimum2D", false, r.carried.runningMinimum2D);
    real("runningMinimum3D", false, r.carried.runningMinimum3D);
    integer("visibleRowFirst", 0, kMaxFrameSide, r.carried.visibleRowFirst);
    integer("visibleRowLast", 0, kMaxFrameSide, r.carried.visibleRowLast);
    integer("keyFrameEvery", 0, kInt, r.keyFrameEvery);
    integer("quality", 0, 100, r.quality);
    // Absent from the records of movies made before there were soundtracks, which had none.
    constexpr long long kLong = std::numeric_limits<std::int64_t>::max();
    if (values.count("soundAnchorFrame") != 0) integer("soundAnchorFrame", 0, kLong, r.soundAnchorFrame);
    if (values.count("soundAnchorSample") != 0) integer("soundAnchorSample", 0, kLong, r.soundAnchorSample);
    if (!bad) return bad;
    const auto codec = values.find("codec");
    if (codec == values.end()) return damaged(where("codec"));
    if (codec->second.first == "raw") {
        r.compressor = kUncompressed;
    } else if (codec->second.first.size() == 4) {
        std::memcpy(r.compressor.data(), codec->second.first.data(), 4);
    } else {
        return damaged(where("codec"));
    }
    if (r.selectionEnd < r.selectionStart) return damaged(where("selectionEnd"));
    if (!(r.lastPosition >= 0)) return damaged(where("lastPosition"));
    if (r.fingerprint.parts.empty()) return damaged("no fingerprint");
    record = std::move(r);
    return {};
}

}  // namespace zoomreel
