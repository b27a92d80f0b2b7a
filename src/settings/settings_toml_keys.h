#pragma once

// What the TOML reader and printer of the folder settings share: numbers as text, and the keys of every file.
// Internal to src/settings.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/settings_toml.h"

namespace zoomreel::toml_text {

constexpr int slot(SettingsFile file) { return static_cast<int>(file); }

/// The shortest text that reads back as the same bits, with a point or an exponent so that TOML reads a float.
std::string formatDouble(double value);
/// A TOML number as a key point's single-precision value: rounded to nearest, absent when it rounds to infinity.
std::optional<float> toFloat32(double value);
/// The shortest float text that `import` reads back as the same float.
std::string formatFloat32(float value);
/// Degrees to radians in a double, the conversion most angles take both ways.
double radiansFromDouble(double degrees);

// ---------------------------------------------------------------------------------------------------------------
// The keys.

enum class Section { Curves, Palette, Relief, Projection3D, SubtractMinimum };
inline constexpr std::string_view kSectionNames[] = {"curves", "palette", "relief", "3d", "subtractMinimum"};

inline constexpr std::string_view kCurveKeys[kCurveKindCount] = {"speed",  "colordiv", "coloradd", "colorrot",
                                                         "zscale", "maxiter",  "vertshift"};
inline constexpr std::string_view kCurveMeanings[kCurveKindCount] = {
    "images per keyframe", "colour divisor",        "colour offset",          "colour rotation",
    "factor on 3d.zScale", "factor on 3d.maxIter", "factor on 3d.vertShift"};

inline constexpr std::string_view kPaletteKeys[] = {"usePalette", "roundedInterpolation", "colorSensitivity", "points"};

enum class FieldKind { Flag, Integer, Number, Angle };

template <typename Record>
struct RecordField {
    std::string_view name;
    FieldKind kind;
    std::int32_t Record::*integer = nullptr;
    double Record::*number = nullptr;
};

template <typename Record>
constexpr RecordField<Record> flagField(std::string_view name, std::int32_t Record::*member) {
    return {name, FieldKind::Flag, member, nullptr};
}
template <typename Record>
constexpr RecordField<Record> integerField(std::string_view name, std::int32_t Record::*member) {
    return {name, FieldKind::Integer, member, nullptr};
}
template <typename Record>
constexpr RecordField<Record> numberField(std::string_view name, double Record::*member,
                                          FieldKind kind = FieldKind::Number) {
    return {name, kind, nullptr, member};
}

// In file order, which is the order `show` prints.
using RF = ReliefSettings;
inline constexpr RecordField<RF> kReliefFields[] = {
    flagField("active", &RF::active),         numberField("power", &RF::power),
    numberField("ratio", &RF::ratio),         numberField("lightDirection", &RF::lightDirection),
    flagField("distanceEstimator", &RF::distanceEstimator), flagField("deWrapToZero", &RF::deWrapToZero),
    flagField("deSqrt", &RF::deSqrt),         flagField("deSqrtSqrt", &RF::deSqrtSqrt),
    flagField("phong", &RF::phong),           numberField("phongSize", &RF::phongSize),
    numberField("phongRatio", &RF::phongRatio), numberField("lightElevation", &RF::lightElevation),
    flagField("phong2", &RF::phong2),         numberField("phong2Size", &RF::phong2Size),
    numberField("phong2Ratio", &RF::phong2Ratio), numberField("light2Elevation", &RF::light2Elevation),
};
using PF = Projection3DSettings;
inline constexpr RecordField<PF> kProjectionFields[] = {
    flagField("active", &PF::active),
    flagField("sqrtIter", &PF::sqrtIter),
    flagField("logIter", &PF::logIter),
    numberField("projectionAngle", &PF::projectionAngle, FieldKind::Angle),
    numberField("zScale", &PF::zScale),
    numberField("maxIter", &PF::maxIter),
    integerField("vertShift", &PF::vertShift),
    numberField("gaussianFilter", &PF::gaussianFilter),
    flagField("asymptotic", &PF::asymptotic),
    numberField("shadowCoef", &PF::shadowCoef),
    numberField("shadowAngle", &PF::shadowAngle),
};
using SF = SubtractMinimumSettings;
inline constexpr RecordField<SF> kSubtractionFields[] = {
    flagField("subtract", &SF::subtract),
    integerField("averageFrames", &SF::averageFrames),
};

// Every field of each file has its key: the sizes add up to the file's.
template <typename Record, std::size_t N>
constexpr int storedBytes(const RecordField<Record> (&fields)[N]) {
    int bytes = 0;
    for (const auto& field : fields) bytes += field.integer != nullptr ? 4 : 8;
    return bytes;
}
static_assert(storedBytes(kReliefFields) == 100);
static_assert(storedBytes(kProjectionFields) == 68);
static_assert(storedBytes(kSubtractionFields) == 8);

}  // namespace zoomreel::toml_text
