#include "settings/settings_toml_keys.h"

// The settings text that `show` prints: every key, in file order, with a comment on what each file holds.
#include <cstdio>
#include <span>
#include <string>

#include "settings/settings_file.h"

namespace zoomreel {
namespace {

using namespace toml_text;

std::string defaultPoint(float value) { return "[0.0, " + formatFloat32(value) + "]"; }

void printCurves(const FolderSettings& s, std::span<const CurveKind> kinds, std::string& out) {
    out += "# Key points [x, y], x the keyframe position, ascending; one file per curve.\n[curves]\n";
    for (const CurveKind kind : kinds) {
        const int k = static_cast<int>(kind);
        const CurveDescription& description = describeCurve(kind);
        const KeyPointCurve& curve = s.curves[kind];
        out += "# \"" + std::string(description.fileName) + "\": " + std::string(kCurveMeanings[k]) +
               (description.interpolation == Interpolation::Logarithmic ? ", logarithmic" : ", linear");
        if (curve.empty()) {
            out += s.present[k] ? "; no key point, so " : "; no file, so ";
            if (kind == CurveKind::Speed) {
                out += "a movie runs at " + defaultPoint(kMovieSpeedDefault) + " (the speed editor starts from " +
                       formatFloat32(kEditorSpeedDefault) + ")";
            } else {
                const float value = kind == CurveKind::ColorDivisor ? s.colorDivisorDefault : curveDefault(kind, {});
                out += defaultPoint(value) + " applies";
                if (kind == CurveKind::ColorDivisor) {
                    out += s.keyframesLoaded ? " (the divisor of keyframe 0)" : " (without keyframes)";
                }
            }
        }
        out += "\n" + std::string(kCurveKeys[k]) + " = [";
        for (int i = 0; i < curve.count(); ++i) {
            if (i > 0) out += ", ";
            out += "[" + formatFloat32(curve.points[i].x) + ", " + formatFloat32(curve.points[i].y) + "]";
        }
        out += "]\n";
    }
}

std::string boolText(std::int32_t value) { return value != 0 ? "true" : "false"; }

void printPalette(const FolderSettings& s, std::string& out) {
    const Palette& p = s.palette;
    out += "\n# \"" + std::string(kPaletteFileName) + "\"" +
           (s.present[slot(SettingsFile::Palette)] ? "" : " (no file: the defaults)") +
           "; points [position 0..511, \"#rrggbb\"], positions ascending\n[palette]\n";
    out += "usePalette = " + boolText(p.usePalette) + "\n";
    out += "roundedInterpolation = " + boolText(p.roundedInterpolation) + "\n";
    out += "colorSensitivity = " + formatDouble(p.colorSensitivity) + "\n";
    out += "points = [";
    for (int i = 0; i < p.count(); ++i) {
        const ColorPoint& c = p.points[i];
        char colour[8];
        std::snprintf(colour, sizeof colour, "#%02x%02x%02x", c.red, c.green, c.blue);
        out += (i > 0 ? ", [" : "[") + std::to_string(c.position) + ", \"" + colour + "\"]";
    }
    out += "]\n";
}

template <typename Record, std::size_t N>
void printRecord(const RecordField<Record> (&fields)[N], const Record& record, Section section, std::string_view file,
                 bool present, std::string_view note, std::string& out) {
    out += "\n# \"" + std::string(file) + "\"" + (present ? "" : " (no file: the defaults)") + std::string(note) +
           "\n[" + std::string(kSectionNames[static_cast<int>(section)]) + "]\n";
    for (const auto& f : fields) {
        out += std::string(f.name) + " = ";
        switch (f.kind) {
            case FieldKind::Flag: out += boolText(record.*f.integer); break;
            case FieldKind::Integer: out += std::to_string(record.*f.integer); break;
            case FieldKind::Number: out += formatDouble(record.*f.number); break;
            case FieldKind::Angle: out += projectionAngleInDegrees(record.*f.number); break;
        }
        out += "\n";
    }
}

}  // namespace

std::string settingsToToml(const FolderSettings& s) {
    std::string out = "# Zoomreel settings; \"zoomreel-cli import DIR FILE\" gives them to the folder DIR.\n\n";
    CurveKind kinds[kCurveKindCount];
    for (int k = 0; k < kCurveKindCount; ++k) kinds[k] = static_cast<CurveKind>(k);
    printCurves(s, kinds, out);
    printPalette(s, out);
    printRecord(kReliefFields, s.relief, Section::Relief, kReliefFileName,
                s.present[slot(SettingsFile::Relief)], "", out);
    printRecord(kProjectionFields, s.projection, Section::Projection3D, k3DFileName,
                s.present[slot(SettingsFile::Projection3D)],
                "; projectionAngle in degrees (the file holds radians)", out);
    printRecord(kSubtractionFields, s.subtraction, Section::SubtractMinimum, kSubtractMinimumFileName,
                s.present[slot(SettingsFile::SubtractMinimum)], "", out);
    return out;
}

std::string curvesToToml(const FolderSettings& settings, std::span<const CurveKind> kinds) {
    std::string out;
    printCurves(settings, kinds, out);
    return out;
}

}  // namespace zoomreel
