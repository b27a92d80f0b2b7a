#pragma once

#include <array>
#include <cstdint>

#include "platform/raster.h"
#include "platform/worker_pool.h"
#include "settings/palette.h"
#include "settings/render_settings.h"

namespace zoomreel {

/// Angles derived once per coloured level, in radians. The relief reads the light's; the 3D shadow walk reads the
/// shadow zenith. Values whose feature is off keep what they held.
struct LevelFrameAngles {
    double shadowZenith = 0.0;
    double lightElevation1 = 0.0;
    double lightElevation2 = 0.0;
    double lightAzimuth = 0.0;
    double sinAzimuth = 0.0;
    double cosAzimuth = 1.0;
};

/// Everything the colouring of one level reads. The map and the palette are borrowed for the call.
struct RenderJob {
    Raster* destination = nullptr;   ///< the level image, as large as the map
    const double* rows = nullptr;    ///< height rows of width values, stored row 0 first
    int width = 0;
    int height = 0;
    double colorStep = 1.0;          ///< v: iterations per palette entry
    double colorShift = 0.0;         ///< w: palette entries added to every index, in [0, paletteLength)
    int paletteLength = 0;           ///< u
    const std::uint8_t* palette = nullptr;  ///< u entries of blue, green, red
    double levelScale = 1.0;         ///< slope scale of the level: t, 2t, 4t or 8t
    const ReliefSettings* relief = nullptr;  ///< null or inactive: no relief step
    bool invertRelief = false;       ///< 3D on with a negative height scale: every slope turns over
    LevelFrameAngles angles;
    /// Only this block of the image is coloured (stored rows, columns); the rest keeps its bytes. A caller that
    /// will read part of the image only need not pay for the rest.
    int firstRow = 0;
    int endRow = -1;                 ///< -1: to the last row
    int firstColumn = 0;
    int endColumn = -1;              ///< -1: to the last column
    PixelRect hole;                  ///< stored rows; pixels inside are left alone too (width 0: none)
};

/// The colour scale of a frame, shared by the movie frames and the previews: u palette entries, v iterations per
/// entry and w entries added to every index. One palette cycle spans 1024 * divisor iterations and the offset counts
/// palette cycles; v is formed in single precision, as the frame positions are.
struct ColorScale {
    int paletteLength = 0;  ///< u
    double colorStep = 1;   ///< v
    double colorShift = 0;  ///< w, before the minimum is taken off and before it is brought into [0, u)
};
ColorScale colorScaleFor(bool usePalette, int keyframeColorCount, float colourDivisor, float colourOffset);

/// w brought into [0, u): adding whole multiples of u at once gives what adding u repeatedly gives. A w that
/// cannot be brought there (NaN, or too large to keep its fraction) becomes 0.
double wrapColorShift(double w, int u);

/// The expanded user palette as the colour rule reads palettes: blue, green, red per entry.
using UserPaletteBytes = std::array<std::uint8_t, 3 * kColorTableSize>;
void userPaletteBytes(const ColorTable& table, UserPaletteBytes& bytes);

/// The angles of a level from the frame's light direction (degrees) and the settings in use.
void deriveLevelFrameAngles(double frameLightAngleDegrees, const ReliefSettings& relief,
                            const Projection3DSettings& projection, LevelFrameAngles& angles);

/// Colours stored rows firstRow + worker, + workerCount, ... of the job's block: the colour rule, then the relief
/// step when relief is active. Each pixel depends on its own map cell and neighbours only.
void colorLevelRows(const RenderJob& job, int worker, int workerCount);

/// Colours the job's block on every worker of the pool (rows interleaved) and returns when all are done.
void RenderLevel(WorkerPool& pool, const RenderJob& job);

}  // namespace zoomreel
