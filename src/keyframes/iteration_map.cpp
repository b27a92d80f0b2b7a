#include "keyframes/iteration_map.h"

#include <cstring>

#include "keyframes/keyframe_file.h"
#include "platform/atomic_file.h"
#include "platform/file_reader.h"
#include "platform/text_scan.h"

namespace zoomreel {
namespace {

static_assert(sizeof(float) == 4 && sizeof(std::int32_t) == 4, "QVB fields are 32-bit");

const char* outcomeMessage(MapReadOutcome outcome) {
    switch (outcome) {
        case MapReadOutcome::InvalidMagic: return "Invalid QVB file!";
        case MapReadOutcome::SizeMismatch: return "All QVB files have not same size!";
        case MapReadOutcome::CountsIncomplete: return "Error reading QVB file (int table)!";
        case MapReadOutcome::ColorCountMismatch: return "All QVB files have not same number of colors!";
        case MapReadOutcome::FractionsIncomplete: return "Error reading QVB file  (float table)!";
        default: return "";
    }
}

MapReadResult outcome(MapReadOutcome value) { return {value, outcomeMessage(value)}; }

}  // namespace

MapReadResult readIterationMap(const std::filesystem::path& path, bool firstMap, IterationMap& map) {
    FileReader file(path);
    if (!file.isOpen()) {
        return {MapReadOutcome::CannotOpen,
                "Cannot open the QVB file " + quotedPath(path) + ": " + file.openFailure()};
    }

    char magic[3] = {};
    if (!file.read(magic, 3) || std::memcmp(magic, "QVB", 3) != 0) return outcome(MapReadOutcome::InvalidMagic);

    std::int32_t width = 0;
    std::int32_t height = 0;
    if (!file.readValue(width) || !file.readValue(height)) return outcome(MapReadOutcome::CountsIncomplete);
    if (!firstMap && (width != map.width || height != map.height)) return outcome(MapReadOutcome::SizeMismatch);
    // A table that cannot be in the file is reported as the incomplete table it is, before anything is allocated.
    if (width <= 0 || height <= 0 || width > kMaxMapSide || height > kMaxMapSide) {
        return outcome(MapReadOutcome::CountsIncomplete);
    }
    const std::uint64_t cells = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (cells * 4 > file.remaining()) return outcome(MapReadOutcome::CountsIncomplete);
    if (firstMap) {
        map.width = width;
        map.height = height;
        map.counts.resize(cells);
    }
    if (!file.read(map.counts.data(), cells * 4)) return outcome(MapReadOutcome::CountsIncomplete);

    // The renderer's format gives the middle fields no message of their own: a file that ends among them is
    // reported with the fraction table, which the read can then no longer reach.
    std::int32_t divisor = 0;
    std::int32_t colorCount = 0;
    if (!file.readValue(divisor) || !file.readValue(colorCount)) return outcome(MapReadOutcome::FractionsIncomplete);
    map.divisor = divisor == 0 ? 1 : divisor;
    if (firstMap) {
        if (colorCount < 1) {
            return {MapReadOutcome::NoColors,
                    "The QVB file " + quotedPath(path) + " has no colors (color count " +
                        std::to_string(colorCount) + ")!"};
        }
        if (static_cast<std::uint64_t>(colorCount) * 3 > file.remaining()) {
            return outcome(MapReadOutcome::FractionsIncomplete);
        }
        map.colorCount = colorCount;
        map.colors.resize(static_cast<std::size_t>(colorCount) * 3);
    } else if (colorCount != map.colorCount) {
        return outcome(MapReadOutcome::ColorCountMismatch);
    }
    if (!file.read(map.colors.data(), map.colors.size())) return outcome(MapReadOutcome::FractionsIncomplete);
    for (std::size_t i = 0; i < map.colors.size(); i += 3) {
        if (map.colors[i] == 0 && map.colors[i + 1] == 0 && map.colors[i + 2] == 0) {
            map.colors[i] = map.colors[i + 1] = map.colors[i + 2] = 60;
        }
    }

    std::int32_t limit = 0;
    if (!file.readValue(limit)) return outcome(MapReadOutcome::FractionsIncomplete);
    map.iterationLimit = limit;

    if (cells * 4 > file.remaining()) return outcome(MapReadOutcome::FractionsIncomplete);
    if (map.fractions.size() != cells) map.fractions.resize(cells);
    if (!file.read(map.fractions.data(), cells * 4)) return outcome(MapReadOutcome::FractionsIncomplete);
    return {};
}

Status writeIterationMap(const std::filesystem::path& path, const IterationMap& map) {
    const std::size_t cells = static_cast<std::size_t>(map.width) * static_cast<std::size_t>(map.height);
    if (map.width <= 0 || map.height <= 0 || map.counts.size() != cells || map.fractions.size() != cells ||
        map.colors.size() != static_cast<std::size_t>(map.colorCount) * 3) {
        return Status::failure("Cannot write " + quotedPath(path) + ": the map's tables do not match its size.");
    }
    AtomicFileWriter out(path);
    out.write("QVB", 3);
    out.writeValue<std::int32_t>(map.width);
    out.writeValue<std::int32_t>(map.height);
    out.write(map.counts.data(), cells * 4);
    out.writeValue<std::int32_t>(map.divisor);
    out.writeValue<std::int32_t>(map.colorCount);
    out.write(map.colors.data(), map.colors.size());
    out.writeValue<std::int32_t>(map.iterationLimit);
    out.write(map.fractions.data(), cells * 4);
    return out.commit();
}

int parseMapNumber(std::string_view fileName) {
    int number = 0;
    for (std::size_t i = 0; i < fileName.size() && i < 5; ++i) {
        const char c = fileName[i];
        if (c < '0' || c > '9') break;
        number = number * 10 + (c - '0');
    }
    return number;
}

std::optional<Zoom> parseZoomField(std::string_view fileName) {
    if (fileName.size() < 7) return std::nullopt;
    const std::string_view field = fileName.substr(6);
    const std::size_t e = field.find('e');
    if (e == std::string_view::npos) return std::nullopt;
    const std::size_t dot = field.find('.', e + 1);
    if (dot == std::string_view::npos) return std::nullopt;
    Zoom zoom;
    if (!scanNumber(field.substr(0, e), zoom.mantissa)) return std::nullopt;
    if (!scanNumber(field.substr(e + 1, dot - e - 1), zoom.exponent)) return std::nullopt;
    return zoom;
}

Zoom halveZoom(Zoom zoom) {
    zoom.mantissa = zoom.mantissa * 0.5f;
    if (zoom.mantissa < 1.0f) {
        zoom.exponent -= 1;
        zoom.mantissa = zoom.mantissa * 10.0f;
    }
    return zoom;
}

}  // namespace zoomreel
