#include "settings/palette.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/atomic_file.h"
#include "platform/file_reader.h"

namespace zoomreel {
namespace {

static_assert(sizeof(ColorPoint) == 8, "a colour point is stored as 8 packed bytes");

std::uint8_t linearComponent(int from, int to, std::int64_t k, std::int64_t span) {
    return static_cast<std::uint8_t>(from + (k * (to - from)) / span);
}

std::uint8_t roundedComponent(int from, int to, double t) {
    return static_cast<std::uint8_t>(static_cast<int>(from + (to - from) * t));
}

}  // namespace

bool loadPalette(const std::filesystem::path& path, Palette& palette) {
    palette.usePalette = 0;
    FileReader file(path);
    if (!file.isOpen()) {
        palette.roundedInterpolation = 0;
        palette.points.clear();
        return false;
    }
    file.readValue(palette.usePalette);
    file.readValue(palette.roundedInterpolation);
    file.readValue(palette.colorSensitivity);
    palette.points = file.readCountedRecords<ColorPoint>();
    return true;
}

Status savePalette(const std::filesystem::path& path, const Palette& palette) {
    AtomicFileWriter out(path);
    out.writeValue(palette.usePalette);
    out.writeValue(palette.roundedInterpolation);
    out.writeValue(palette.colorSensitivity);
    out.writeValue<std::int32_t>(palette.count());
    out.write(palette.points.data(), palette.points.size() * sizeof(ColorPoint));
    return out.commit();
}

void expandPalette(const Palette& palette, ColorTable& table) {
    const bool rounded = palette.roundedInterpolation != 0;
    for (int i = 0; i + 1 < palette.count(); ++i) {
        const ColorPoint& a = palette.points[i];
        const ColorPoint& b = palette.points[i + 1];
        if (b.position < a.position) continue;
        // In 64 bits: positions come from the file and their difference may not fit 32.
        const std::int64_t span = static_cast<std::int64_t>(b.position) - a.position;
        const std::int64_t firstK = std::max<std::int64_t>(0, -static_cast<std::int64_t>(a.position));
        const std::int64_t lastK = std::min<std::int64_t>(span, kColorTableSize - 1 - static_cast<std::int64_t>(a.position));
        for (std::int64_t k = firstK; k <= lastK; ++k) {
            TableColor& entry = table.entries[static_cast<std::size_t>(a.position + k)];
            if (span == 0) {
                entry = {a.blue, a.green, a.red};
            } else if (rounded) {
                const double t = (std::cos(static_cast<double>(span - k) * std::numbers::pi / static_cast<double>(span)) + 1.0) / 2.0;
                entry = {roundedComponent(a.blue, b.blue, t), roundedComponent(a.green, b.green, t),
                         roundedComponent(a.red, b.red, t)};
            } else {
                entry = {linearComponent(a.blue, b.blue, k, span), linearComponent(a.green, b.green, k, span),
                         linearComponent(a.red, b.red, k, span)};
            }
        }
    }
}

bool insertColorPoint(Palette& palette, const ColorTable& table, int position) {
    if (position < 0 || position >= kColorTableSize) return false;
    for (int i = 0; i + 1 < palette.count(); ++i) {
        if (palette.points[i].position < position && position < palette.points[i + 1].position) {
            const TableColor& c = table.entries[static_cast<std::size_t>(position)];
            palette.points.insert(palette.points.begin() + i + 1, ColorPoint{position, c.blue, c.green, c.red, 0});
            return true;
        }
    }
    return false;
}

void removeColorPoint(Palette& palette, int index) {
    if (palette.points.empty() || index < 0) return;
    index = std::min(index, palette.count() - 1);
    palette.points.erase(palette.points.begin() + index);
}

std::vector<ColorPoint> defaultPalettePoints() {
    return {ColorPoint{0, 0, 0, 0, 0}, ColorPoint{255, 255, 0, 0, 0}, ColorPoint{511, 0, 0, 0, 0}};
}

bool useDefaultPaletteIfTooShort(Palette& palette) {
    if (palette.count() >= 2) return false;
    palette.points = defaultPalettePoints();
    return true;
}

}  // namespace zoomreel
