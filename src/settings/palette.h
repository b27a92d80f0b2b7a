#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/status.h"

namespace zoomreel {

inline constexpr int kColorTableSize = 512;
inline constexpr char kPaletteFileName[] = "palette.qvs";

/// One colour point of the user palette, at a place on the 512-step palette axis.
struct ColorPoint {
    std::int32_t position = 0;
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    std::uint8_t reserved = 0;  ///< carried through load and save, never interpreted
};

/// The user palette with the settings stored beside it in "palette.qvs".
struct Palette {
    std::int32_t usePalette = 0;            ///< 1: frames are coloured through the expanded user palette
    std::int32_t roundedInterpolation = 0;  ///< 1: cosine-eased transitions, 0: linear
    double colorSensitivity = 1.0;          ///< multiplies the colour divisor and divides the colour offset
    std::vector<ColorPoint> points;         ///< positions ascending

    int count() const { return static_cast<int>(points.size()); }
};

struct TableColor {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
};

/// The palette expanded to one colour per palette position; used cyclically by the renderer. Entries that no
/// expansion has reached (before the first point, after the last) stay black until one does.
struct ColorTable {
    std::array<TableColor, kColorTableSize> entries{};
};

/// Reads the palette and its settings. `usePalette` is off until the file says otherwise. Without a file the user
/// palette is off, linear and empty, and the sensitivity keeps its value. A damaged file gives the fields and the
/// colour points it holds whole (none for a negative count). Returns whether the file was there.
bool loadPalette(const std::filesystem::path& path, Palette& palette);

/// Writes the palette and its settings through a temporary file and a rename; a failure says which file and why.
Status savePalette(const std::filesystem::path& path, const Palette& palette);

/// Rebuilds the table entries from each pair of neighbouring points, linear or rounded. Positions outside the
/// palette axis are clipped; a pair at one position gives that position the first point's colour.
void expandPalette(const Palette& palette, ColorTable& table);

/// Adds a point at `position` with the colour the table already shows there, when the position lies strictly
/// between two neighbouring points; anywhere else nothing changes. Returns whether a point was added.
bool insertColorPoint(Palette& palette, const ColorTable& table, int position);

/// Removes point `index`; an index at or beyond the count removes the last point.
void removeColorPoint(Palette& palette, int index);

/// Black at 0, pure blue at 255, black at 511.
std::vector<ColorPoint> defaultPalettePoints();

/// What the palette editor does when it opens: a palette of fewer than two points becomes the default one.
/// Returns whether it did.
bool useDefaultPaletteIfTooShort(Palette& palette);

}  // namespace zoomreel
