#include "settings/settings_toml.h"

// The one user of the TOML library, compiled into this file alone; it reports errors through its results.
#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
#include <toml++/toml.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <optional>
#include <vector>

#include "settings/settings_file.h"
#include "settings/settings_toml_keys.h"

namespace zoomreel {
namespace {

using namespace toml_text;

std::string joinKey(Section section, std::string_view field) {
    return std::string(kSectionNames[static_cast<int>(section)]) + "." + std::string(field);
}

/// Every key `show` prints, and the sections, for the nearest-key hint.
std::vector<std::string> knownKeys() {
    std::vector<std::string> keys(std::begin(kSectionNames), std::end(kSectionNames));
    for (const auto name : kCurveKeys) keys.push_back(joinKey(Section::Curves, name));
    for (const auto name : kPaletteKeys) keys.push_back(joinKey(Section::Palette, name));
    for (const auto& f : kReliefFields) keys.push_back(joinKey(Section::Relief, f.name));
    for (const auto& f : kProjectionFields) keys.push_back(joinKey(Section::Projection3D, f.name));
    for (const auto& f : kSubtractionFields) keys.push_back(joinKey(Section::SubtractMinimum, f.name));
    return keys;
}

int editDistance(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    std::vector<int> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

/// A key or value from the input as a message can show it: on one line, and not endless.
std::string printable(std::string_view text, std::size_t maxShown = 60) {
    const std::string cut = truncateUtf8(std::string(text.substr(0, maxShown + 4)), maxShown);
    std::string shown;
    for (const char c : cut) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            static constexpr char kHex[] = "0123456789abcdef";
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 15];
        } else {
            shown += c;
        }
    }
    return cut.size() < text.size() ? shown + "..." : shown;
}

std::string unknownKeyMessage(std::string_view key) {
    // The distance costs the key's length times each known key's: a hint is only looked for up to a sane length.
    constexpr std::size_t kLongestHinted = 64;
    std::string message = "Unknown key \"" + printable(key) + "\"";
    if (key.size() <= kLongestHinted) {
        std::string nearest;
        int best = std::numeric_limits<int>::max();
        for (const std::string& known : knownKeys()) {
            const int distance = editDistance(key, known);
            if (distance < best) {
                best = distance;
                nearest = known;
            }
        }
        message += "; the nearest known key is \"" + nearest + "\"";
    }
    return message + ".";
}

// ---------------------------------------------------------------------------------------------------------------
// Reading values.

/// A refused value; the applier turns it into the failure's message.
struct Refusal {
    std::string message;
    std::uint32_t line = 0;
};

std::string typeName(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::table: return "a table";
        case toml::node_type::array: return "an array";
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "an integer";
        case toml::node_type::floating_point: return "a floating-point number";
        case toml::node_type::boolean: return "a boolean";
        case toml::node_type::date: return "a date";
        case toml::node_type::time: return "a time";
        case toml::node_type::date_time: return "a date-time";
        default: return "nothing";
    }
}

[[noreturn]] void refuse(const toml::node& node, std::string message) {
    throw Refusal{std::move(message), node.source().begin.line};
}

[[noreturn]] void refuseType(const std::string& key, const toml::node& node, std::string_view wanted) {
    refuse(node, key + " must be " + std::string(wanted) + ", not " + typeName(node) + ".");
}

/// The value of an integer or float; integers stand for the number they name.
std::optional<double> numberOf(const toml::node& node) {
    if (const auto* f = node.as_floating_point()) return f->get();
    if (const auto* i = node.as_integer()) return static_cast<double>(i->get());
    return std::nullopt;
}

double finiteNumber(const std::string& key, const toml::node& node) {
    const std::optional<double> value = numberOf(node);
    if (!value) refuseType(key, node, "a number");
    if (!std::isfinite(*value)) refuse(node, key + " must be a finite number, not " + formatDouble(*value) + ".");
    return *value;
}

std::int32_t integer32(const std::string& key, const toml::node& node) {
    const auto* i = node.as_integer();
    if (i == nullptr) refuseType(key, node, "an integer");
    const std::int64_t value = i->get();
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
        refuse(node, key + " must be an integer from -2147483648 to 2147483647, not " + std::to_string(value) + ".");
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t flag(const std::string& key, const toml::node& node) {
    const auto* b = node.as_boolean();
    if (b == nullptr) refuseType(key, node, "true or false");
    return b->get() ? 1 : 0;
}

const toml::array& arrayOf(const std::string& key, const toml::node& node, std::string_view wanted) {
    const auto* a = node.as_array();
    if (a == nullptr) refuseType(key, node, wanted);
    return *a;
}

std::string ordinal(std::size_t index) { return std::to_string(index + 1); }

/// The text with every character beyond ASCII, and every byte that is not UTF-8, replaced by one '?'. The TOML
/// library's test for Unicode white space (toml++ 3.3) reaches an "unreachable" point for many such characters
/// (U+00A1 to U+0499 among them), which is undefined behaviour. No key or value of the settings is beyond ASCII,
/// so the replacement changes nothing in a comment and only the wording of the message anywhere else; line and
/// column numbers stay those of the original text.
std::string asciiOnly(std::string_view text) {
    std::string ascii;
    ascii.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ascii += static_cast<char>(byte);
            continue;
        }
        const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC2 ? 2 : 1;
        std::size_t n = 1;
        while (n < length && i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
        if (n == length && byte <= 0xF4) i += n - 1;
        ascii += '?';
    }
    return ascii;
}

/// The bytes of `region` in an ASCII `document`, when the region lies on one line.
std::string_view sourceText(std::string_view document, const toml::source_region& region) {
    if (region.begin.line == 0 || region.begin.column == 0 || region.begin.line != region.end.line ||
        region.end.column < region.begin.column) {
        return {};
    }
    std::size_t offset = 0;
    for (std::uint32_t line = 1; line < region.begin.line; ++line) {
        offset = document.find('\n', offset);
        if (offset == std::string_view::npos) return {};
        ++offset;
    }
    offset += region.begin.column - 1;
    if (offset > document.size()) return {};
    return document.substr(offset, region.end.column - region.begin.column);
}

// ---------------------------------------------------------------------------------------------------------------
// Applying values.

class Applier {
public:
    Applier(std::string_view document, FolderSettings& settings, SettingsFileSet& changed)
        : document_(document), settings_(settings), changed_(changed) {}

    /// A whole section, its table's keys one by one.
    void section(Section section, const toml::node& value) {
        const auto* table = value.as_table();
        if (table == nullptr) refuseType(std::string(kSectionNames[static_cast<int>(section)]), value, "a table");
        for (const auto& [key, node] : *table) field(section, key.str(), node);
    }

    void field(Section section, std::string_view name, const toml::node& value) {
        const std::string key = joinKey(section, name);
        switch (section) {
            case Section::Curves:
                for (int k = 0; k < kCurveKindCount; ++k) {
                    if (name == kCurveKeys[k]) return curve(static_cast<CurveKind>(k), key, value);
                }
                break;
            case Section::Palette: {
                Palette& p = settings_.palette;
                changed_[slot(SettingsFile::Palette)] = true;
                if (name == "usePalette") return void(p.usePalette = flag(key, value));
                if (name == "roundedInterpolation") return void(p.roundedInterpolation = flag(key, value));
                if (name == "colorSensitivity") return void(p.colorSensitivity = finiteNumber(key, value));
                if (name == "points") return colorPoints(key, value);
                break;
            }
            case Section::Relief:
                if (record(kReliefFields, settings_.relief, SettingsFile::Relief, name, key, value)) return;
                break;
            case Section::Projection3D:
                if (record(kProjectionFields, settings_.projection, SettingsFile::Projection3D, name, key, value)) {
                    settings_.projection.setProjectionAngle(settings_.projection.projectionAngle);
                    return;
                }
                break;
            case Section::SubtractMinimum:
                if (record(kSubtractionFields, settings_.subtraction, SettingsFile::SubtractMinimum, name, key,
                           value)) {
                    const std::int32_t frames = settings_.subtraction.averageFrames;
                    if (name == "averageFrames" && frames < 1) {
                        refuse(value, key + " must be at least 1, not " + std::to_string(frames) + ".");
                    }
                    return;
                }
                break;
        }
        refuse(value, unknownKeyMessage(key));
    }

private:
    void curve(CurveKind kind, const std::string& key, const toml::node& value) {
        const toml::array& points = arrayOf(key, value, "an array of [x, y] key points");
        const bool logarithmic = describeCurve(kind).interpolation == Interpolation::Logarithmic;
        KeyPointCurve curve;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const auto* pair = points[i].as_array();
            std::optional<double> x;
            std::optional<double> y;
            if (pair != nullptr && pair->size() == 2) {
                x = numberOf((*pair)[0]);
                y = numberOf((*pair)[1]);
            }
            const std::string point = key + ": key point " + ordinal(i);
            if (!x || !y) refuse(points[i], point + " must be [x, y], two numbers.");
            const std::string shown = " [" + formatDouble(*x) + ", " + formatDouble(*y) + "]";
            if (!std::isfinite(*x) || !std::isfinite(*y)) refuse(points[i], point + shown + " must be finite.");
            const std::optional<float> fx = toFloat32(*x);
            const std::optional<float> fy = toFloat32(*y);
            if (!fx || !fy) refuse(points[i], point + shown + " lies beyond the single precision of key points.");
            if (logarithmic && !(*fy > 0.0f)) {
                refuse(points[i], point + shown + " is at 0 or below; a logarithmic curve needs values above 0.");
            }
            if (!curve.points.empty() && !(*fx > curve.points.back().x)) {
                refuse(points[i], point + shown + " does not lie right of key point " + ordinal(i - 1) +
                                      " at x " + formatFloat32(curve.points.back().x) + ": x must ascend.");
            }
            curve.points.push_back({*fx, *fy});
        }
        settings_.curves[kind] = std::move(curve);
        changed_[static_cast<int>(kind)] = true;
    }

    void colorPoints(const std::string& key, const toml::node& value) {
        const toml::array& points = arrayOf(key, value, "an array of [position, \"#rrggbb\"] points");
        std::vector<ColorPoint> result;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const std::string point = key + ": point " + ordinal(i);
            const auto* pair = points[i].as_array();
            const toml::value<std::int64_t>* position = nullptr;
            const toml::value<std::string>* colour = nullptr;
            if (pair != nullptr && pair->size() == 2) {
                position = (*pair)[0].as_integer();
                colour = (*pair)[1].as_string();
            }
            if (position == nullptr || colour == nullptr) {
                refuse(points[i], point + " must be [position, \"#rrggbb\"], an integer and a string.");
            }
            const std::int64_t at = position->get();
            if (at < 0 || at >= kColorTableSize) {
                refuse(points[i], point + " is at " + std::to_string(at) + ", outside 0..511.");
            }
            if (!result.empty() && !(at > result.back().position)) {
                refuse(points[i], point + " at " + std::to_string(at) + " does not lie after point " + ordinal(i - 1) +
                                      " at " + std::to_string(result.back().position) + ": positions must ascend.");
            }
            const std::optional<std::array<std::uint8_t, 3>> rgb = parseColour(colour->get());
            if (!rgb) {
                refuse(points[i], point + " has the colour \"" + printable(colour->get()) +
                                      "\"; colours are written \"#rrggbb\" in hexadecimal.");
            }
            result.push_back(ColorPoint{static_cast<std::int32_t>(at), (*rgb)[2], (*rgb)[1], (*rgb)[0], 0});
        }
        settings_.palette.points = std::move(result);
    }

    static std::optional<std::array<std::uint8_t, 3>> parseColour(std::string_view text) {
        if (text.size() != 7 || text[0] != '#') return std::nullopt;
        std::array<std::uint8_t, 3> rgb{};
        for (int c = 0; c < 3; ++c) {
            const char* first = text.data() + 1 + 2 * c;
            unsigned value = 0;
            const auto [end, error] = std::from_chars(first, first + 2, value, 16);
            if (error != std::errc() || end != first + 2) return std::nullopt;
            rgb[c] = static_cast<std::uint8_t>(value);
        }
        return rgb;
    }

    template <typename Record, std::size_t N>
    bool record(const RecordField<Record> (&fields)[N], Record& record, SettingsFile file, std::string_view name,
                const std::string& key, const toml::node& value) {
        for (const auto& f : fields) {
            if (f.name != name) continue;
            switch (f.kind) {
                case FieldKind::Flag: record.*f.integer = flag(key, value); break;
                case FieldKind::Integer: record.*f.integer = integer32(key, value); break;
                case FieldKind::Number: record.*f.number = finiteNumber(key, value); break;
                case FieldKind::Angle: {
                    const double degrees = finiteNumber(key, value);
                    const double radians = projectionAngleFromDegrees(degrees, sourceText(document_, value.source()));
                    // Far beyond any real angle, and still shown back in degrees that a double holds.
                    constexpr double kLargestDegrees = 1e299;
                    if (!(std::fabs(radians) <= radiansFromDouble(kLargestDegrees))) {
                        refuse(value, key + " must lie between -1e+299 and 1e+299 degrees, not " +
                                          formatDouble(degrees) + ".");
                    }
                    record.*f.number = radians;
                    break;
                }
            }
            changed_[slot(file)] = true;
            return true;
        }
        return false;
    }

    std::string_view document_;
    FolderSettings& settings_;
    SettingsFileSet& changed_;
};

std::optional<Section> findSection(std::string_view name) {
    for (int s = 0; s < static_cast<int>(std::size(kSectionNames)); ++s) {
        if (name == kSectionNames[s]) return static_cast<Section>(s);
    }
    return std::nullopt;
}

/// Runs `body` against a copy of the settings, which replaces them only when every value was taken.
template <typename Body>
Status applyAll(FolderSettings& settings, SettingsFileSet& changed, std::string_view linePrefix, Body body) {
    FolderSettings updated = settings;
    SettingsFileSet marked = changed;
    try {
        body(updated, marked);
    } catch (const Refusal& refusal) {
        std::string message;
        if (!linePrefix.empty() && refusal.line > 0) {
            message = std::string(linePrefix) + ":" + std::to_string(refusal.line) + ": ";
        }
        return Status::failure(message + refusal.message);
    }
    settings = std::move(updated);
    changed = marked;
    return Status::success();
}

std::string parseErrorMessage(const toml::parse_error& error) {
    // The library's description quotes the text it stopped at, whatever that holds.
    return printable(error.description(), 240) + " (line " + std::to_string(error.source().begin.line) + ", column " +
           std::to_string(error.source().begin.column) + ")";
}

}  // namespace

FolderSettings loadFolderSettings(const KeyframeList& list) {
    FolderSettings s;
    for (int k = 0; k < kCurveKindCount; ++k) {
        const auto kind = static_cast<CurveKind>(k);
        s.present[k] = loadCurve(settingsFilePath(list, describeCurve(kind).fileName), s.curves[kind]);
    }
    auto path = [&](std::string_view name) { return settingsFilePath(list, name); };
    s.present[slot(SettingsFile::Palette)] = loadPalette(path(kPaletteFileName), s.palette);
    s.present[slot(SettingsFile::Relief)] = loadRelief(path(kReliefFileName), s.relief);
    s.present[slot(SettingsFile::Projection3D)] = load3D(path(k3DFileName), s.projection);
    s.present[slot(SettingsFile::SubtractMinimum)] = loadSubtractMinimum(path(kSubtractMinimumFileName), s.subtraction);
    s.keyframesLoaded = list.loaded && !list.summaries.empty();
    s.colorDivisorDefault = curveDefault(CurveKind::ColorDivisor, list);
    return s;
}

Status applySettingsToml(std::string_view text, std::string_view sourceName, FolderSettings& settings,
                         SettingsFileSet& changed) {
    const std::string ascii = asciiOnly(text);
    toml::parse_result parsed = toml::parse(std::string_view(ascii), sourceName);
    if (!parsed) {
        return Status::failure("Cannot read " + printable(sourceName) + " as TOML: " +
                               parseErrorMessage(parsed.error()) + ".");
    }
    const toml::table& root = parsed.table();
    return applyAll(settings, changed, printable(sourceName), [&](FolderSettings& s, SettingsFileSet& c) {
        Applier applier(ascii, s, c);
        for (const auto& [key, node] : root) {
            const std::optional<Section> section = findSection(key.str());
            if (!section) refuse(node, unknownKeyMessage(key.str()));
            applier.section(*section, node);
        }
    });
}

Status applySettingAssignment(std::string_view assignment, FolderSettings& settings, SettingsFileSet& changed) {
    const std::size_t equals = assignment.find('=');
    auto trim = [](std::string_view t) {
        const std::size_t first = t.find_first_not_of(" \t");
        if (first == std::string_view::npos) return std::string_view();
        return t.substr(first, t.find_last_not_of(" \t") - first + 1);
    };
    if (equals == std::string_view::npos) {
        return Status::failure("\"" + printable(assignment) + "\" is not KEY=VALUE.");
    }
    const std::string_view key = trim(assignment.substr(0, equals));
    const std::string document = asciiOnly("value = " + std::string(assignment.substr(equals + 1)) + "\n");
    toml::parse_result parsed = toml::parse(std::string_view(document), std::string_view("the command line"));
    if (!parsed) {
        return Status::failure("The value of " + printable(key) + " is not TOML: " +
                               printable(parsed.error().description(), 240) + ".");
    }
    const toml::table& root = parsed.table();
    const toml::node* value = root.get("value");
    if (value == nullptr || root.size() != 1) {
        return Status::failure("The value of " + printable(key) + " must be one TOML value.");
    }
    const std::size_t dot = key.find('.');
    const std::optional<Section> section = findSection(key.substr(0, dot));
    return applyAll(settings, changed, {}, [&](FolderSettings& s, SettingsFileSet& c) {
        if (!section || (dot != std::string_view::npos && key.find('.', dot + 1) != std::string_view::npos)) {
            refuse(*value, unknownKeyMessage(key));
        }
        Applier applier(document, s, c);
        if (dot == std::string_view::npos) {
            applier.section(*section, *value);
        } else {
            applier.field(*section, key.substr(dot + 1), *value);
        }
    });
}

Status saveFolderSettings(const KeyframeList& list, const FolderSettings& s, const SettingsFileSet& changed) {
    auto path = [&](std::string_view name) { return settingsFilePath(list, name); };
    Status status;
    for (int k = 0; k < kCurveKindCount && status; ++k) {
        const auto kind = static_cast<CurveKind>(k);
        if (changed[k]) status = saveCurve(path(describeCurve(kind).fileName), s.curves[kind]);
    }
    if (status && changed[slot(SettingsFile::Palette)]) status = savePalette(path(kPaletteFileName), s.palette);
    if (status && changed[slot(SettingsFile::Relief)]) status = saveRelief(path(kReliefFileName), s.relief);
    if (status && changed[slot(SettingsFile::Projection3D)]) status = save3D(path(k3DFileName), s.projection);
    if (status && changed[slot(SettingsFile::SubtractMinimum)]) {
        status = saveSubtractMinimum(path(kSubtractMinimumFileName), s.subtraction);
    }
    return status;
}

// ---------------------------------------------------------------------------------------------------------------
// The program's own settings of the movie files.

namespace {

/// A TOML basic string: quotes, backslashes and control characters escaped, everything else as it is (UTF-8).
std::string tomlString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::string movieFileSettingsToToml(const VideoParameters& video) {
    std::string out = "# Zoomreel: the settings of the movie files that \"VFS.qvs\" has no line for.\n";
    out += "[movie]\n";
    out += "# \"avi\", \"mp4\" or \"mkv\"\n";
    out += std::string("container = ") + tomlString(containerName(video.container)) + "\n";
    out += "# the soundtrack, any sound file; \"\": none\n";
    out += "soundtrack = " + tomlString(video.soundtrack) + "\n";
    out += "# where in the soundtrack the movie begins, in seconds\n";
    out += "soundtrackStart = " + formatDouble(video.soundtrackStart) + "\n";
    return out;
}

void applyMovieFileSettingsToml(std::string_view text, VideoParameters& video) {
    toml::parse_result parsed = toml::parse(text, std::string_view(kMovieFileSettingsFileName));
    if (!parsed) return;
    const toml::node_view movie = parsed.table()["movie"];
    if (const auto name = movie["container"].value<std::string>()) {
        if (const auto container = findContainer(*name)) video.container = *container;
    }
    if (const auto soundtrack = movie["soundtrack"].value<std::string>()) video.soundtrack = *soundtrack;
    if (const auto start = movie["soundtrackStart"].value<double>(); start && *start >= 0 && std::isfinite(*start)) {
        video.soundtrackStart = *start;
    }
}

}  // namespace zoomreel
