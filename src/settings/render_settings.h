#pragma once

#include <cmath>
#include <cstdint>
#include <filesystem>

#include "platform/status.h"

namespace zoomreel {

inline constexpr char kReliefFileName[] = "Relief.qvs";
inline constexpr char k3DFileName[] = "3D.qvs";
inline constexpr char kSubtractMinimumFileName[] = "SubIM.qvs";

/// Relief shading: a lit terrain made of the iteration values, with two specular highlights, or a
/// distance-estimator colouring. Flags are 0 or 1. Angles in degrees.
struct ReliefSettings {
    std::int32_t active = 0;
    double power = 100.0;
    double ratio = 0.35;
    double lightDirection = -45.0;
    std::int32_t distanceEstimator = 0;
    std::int32_t deWrapToZero = 0;   ///< a colour index at or past the last colour becomes 0 (1) or the last (0)
    std::int32_t deSqrt = 0;
    std::int32_t deSqrtSqrt = 0;
    std::int32_t phong = 1;
    double phongSize = 8.0;
    double phongRatio = 0.1;
    double lightElevation = 50.0;
    std::int32_t phong2 = 1;
    double phong2Size = 4.0;
    double phong2Ratio = 0.15;
    double light2Elevation = 25.0;
};

/// The 3D height-field projection. `sinAngle` and `cosAngle` follow `projectionAngle` (radians) and are not
/// stored: set the angle through `setProjectionAngle`.
struct Projection3DSettings {
    std::int32_t active = 1;
    std::int32_t sqrtIter = 0;
    std::int32_t logIter = 0;
    double projectionAngle = 0.87266462599716;  // 50 degrees
    double zScale = 70.0;                       ///< negative mirrors the landscape
    double maxIter = 700.0;
    std::int32_t vertShift = 10;
    double gaussianFilter = 8.0;                ///< for a frame 1920 pixels wide, scaled with the width
    std::int32_t asymptotic = 1;
    double shadowCoef = 0.8;
    double shadowAngle = 45.0;                  ///< degrees
    double sinAngle = std::sin(0.87266462599716);
    double cosAngle = std::cos(0.87266462599716);

    void setProjectionAngle(double radians) {
        projectionAngle = radians;
        sinAngle = std::sin(radians);
        cosAngle = std::cos(radians);
    }
};

/// Subtraction of the frame's minimum iteration, smoothed over `averageFrames` frames.
struct SubtractMinimumSettings {
    std::int32_t subtract = 0;
    std::int32_t averageFrames = 30;
};

/// Each load reads the record's fields in file order, replacing those the file holds whole and keeping the
/// others; it returns false, changing nothing, when there is no file. `load3D` recomputes the angle's sine and
/// cosine after reading. Each save writes the whole record through a temporary file and a rename.
bool loadRelief(const std::filesystem::path& path, ReliefSettings& relief);
Status saveRelief(const std::filesystem::path& path, const ReliefSettings& relief);
bool load3D(const std::filesystem::path& path, Projection3DSettings& projection);
Status save3D(const std::filesystem::path& path, const Projection3DSettings& projection);
bool loadSubtractMinimum(const std::filesystem::path& path, SubtractMinimumSettings& subtraction);
Status saveSubtractMinimum(const std::filesystem::path& path, const SubtractMinimumSettings& subtraction);

}  // namespace zoomreel
