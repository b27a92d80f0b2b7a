#include "settings/settings_toml_keys.h"

// Numbers as the settings text shows them, and the projection angle between the file's radians and the text's
// degrees.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <string>

namespace zoomreel {
namespace toml_text {
namespace {

// ---------------------------------------------------------------------------------------------------------------
// Numbers as text. The shortest form that reads back as the same bits; TOML needs a point or an exponent in a
// float, or the text would read back as an integer (or overflow one).

std::string asTomlFloat(std::string text) {
    if (text.find_first_of(".en") == std::string::npos) text += ".0";  // 'n': nan, inf
    return text;
}

}  // namespace

std::string formatDouble(double value) {
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return asTomlFloat(std::string(buffer, end));
}

/// A TOML number as a key point's single-precision value: rounded to nearest, absent when it rounds to infinity.
std::optional<float> toFloat32(double value) {
    constexpr double kRoundsToInfinity = 0x1.ffffffp+127;  // the largest float plus half a step
    if (!(std::fabs(value) < kRoundsToInfinity)) return std::nullopt;
    if (std::fabs(value) > std::numeric_limits<float>::max()) {
        return std::signbit(value) ? -std::numeric_limits<float>::max() : std::numeric_limits<float>::max();
    }
    return static_cast<float>(value);
}

/// The shortest float text, unless reading it as a double and rounding to float, as `import` does, would give
/// another float; then the float's exact double value, which always comes back.
std::string formatFloat32(float value) {
    char buffer[40];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    std::string text(buffer, end);
    if (std::isfinite(value)) {
        double read = 0.0;
        std::from_chars(buffer, end, read);
        const std::optional<float> back = toFloat32(read);
        if (!back || std::bit_cast<std::uint32_t>(*back) != std::bit_cast<std::uint32_t>(value)) {
            return formatDouble(static_cast<double>(value));
        }
    }
    return asTomlFloat(std::move(text));
}

namespace {

bool sameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// ---------------------------------------------------------------------------------------------------------------
// The projection angle: degrees in the text, radians in the file. Only about two radians in three are d · π / 180
// for some double d, so for the others the degrees are written with the digits of a long double and converted in
// that precision.

static_assert(std::numeric_limits<long double>::digits > std::numeric_limits<double>::digits,
              "the projection angle's round trip needs a long double wider than a double");
constexpr int kDoubleDigits = std::numeric_limits<double>::max_digits10;
constexpr long double kPiExtended = std::numbers::pi_v<long double>;


}  // namespace

double radiansFromDouble(double degrees) { return degrees * std::numbers::pi / 180; }

namespace {

double radiansFromExtended(long double degrees) {
    const long double radians = degrees * kPiExtended / 180.0L;
    if (!(std::fabs(radians) <= std::numeric_limits<double>::max())) {
        if (std::isnan(radians)) return std::numeric_limits<double>::quiet_NaN();
        const double infinity = std::numeric_limits<double>::infinity();
        return std::signbit(radians) ? -infinity : infinity;
    }
    return static_cast<double>(radians);
}

/// The significant digits of a plain decimal number's mantissa (trailing zeros count: they were written), or -1
/// for anything else (hexadecimal, inf, nan).
int significantDigits(std::string_view text) {
    int digits = 0;
    bool leading = true;
    for (const char c : text) {
        if (c == 'e' || c == 'E') break;
        if (c == '+' || c == '-' || c == '_' || c == '.') continue;
        if (c < '0' || c > '9') return -1;
        if (leading && c == '0') continue;
        leading = false;
        ++digits;
    }
    return digits;
}

std::optional<long double> parseExtended(std::string_view text) {
    std::string clean;
    for (const char c : text) {
        if (c != '_' && !(clean.empty() && c == '+')) clean += c;
    }
    long double value = 0;
    const auto [end, error] = std::from_chars(clean.data(), clean.data() + clean.size(), value);
    if (error != std::errc() || end != clean.data() + clean.size()) return std::nullopt;
    return value;
}

/// All the digits of a long double, in fixed notation where that stays short.
std::string formatExtended(long double value) {
    constexpr int kDigits = std::numeric_limits<long double>::max_digits10;
    char buffer[80];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, kDigits - 1).ptr;
    const std::string text(buffer, end);
    const std::size_t e = text.find('e');
    if (e == std::string::npos) return text;
    const int exponent = std::atoi(text.c_str() + e + 1);
    if (exponent < -5 || exponent >= kDigits - 1) return text;  // fixed keeps a digit after the point
    const bool negative = text[0] == '-';
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < e; ++i) {
        if (text[i] != '.') digits += text[i];
    }
    std::string fixed = negative ? "-" : "";
    if (exponent < 0) {
        fixed += "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else {
        const std::size_t point = static_cast<std::size_t>(exponent) + 1;
        fixed += digits.substr(0, point) + "." + digits.substr(point);
    }
    return fixed;
}

/// The long double nearest `start` (within `steps` values on either side) that `found` accepts.
template <typename Found>
std::optional<long double> searchNear(long double start, int steps, Found found) {
    long double up = start;
    long double down = start;
    if (found(start)) return start;
    for (int i = 0; i < steps; ++i) {
        up = std::nextafter(up, std::numeric_limits<long double>::infinity());
        if (found(up)) return up;
        down = std::nextafter(down, -std::numeric_limits<long double>::infinity());
        if (found(down)) return down;
    }
    return std::nullopt;
}

}  // namespace
}  // namespace toml_text

using namespace toml_text;

std::string projectionAngleInDegrees(double radians) {
    if (!std::isfinite(radians)) return formatDouble(radians);
    // Among the neighbours of the plain conversion whose double gives the radians back, the shortest text.
    std::string best;
    double up = radians * 180 / std::numbers::pi;
    double down = up;
    for (int step = 0; step <= 16 && std::isfinite(up) && std::isfinite(down); ++step) {
        for (const double degrees : {up, down}) {
            if (!sameBits(radiansFromDouble(degrees), radians)) continue;
            std::string text = formatDouble(degrees);
            if (best.empty() || text.size() < best.size()) best = std::move(text);
        }
        up = std::nextafter(up, std::numeric_limits<double>::infinity());
        down = std::nextafter(down, -std::numeric_limits<double>::infinity());
    }
    if (!best.empty()) return best;
    const long double extended = static_cast<long double>(radians) * 180.0L / kPiExtended;
    const auto exact = searchNear(extended, 256, [&](long double degrees) {
        const bool heldByDouble = std::fabs(degrees) <= std::numeric_limits<double>::max() &&
                                  static_cast<long double>(static_cast<double>(degrees)) == degrees;
        return !heldByDouble && sameBits(radiansFromExtended(degrees), radians);
    });
    return formatExtended(exact.value_or(extended));
}

double projectionAngleFromDegrees(double degrees, std::string_view text) {
    if (significantDigits(text) > kDoubleDigits) {
        // Only when the text is this very number, and more than any double: a long integer that a double holds
        // exactly, as the shortest form of a large double is printed, stays a double.
        const std::optional<long double> extended = parseExtended(text);
        const long double plain = degrees;
        if (extended && *extended != plain && std::fabs(*extended - plain) <= std::fabs(plain) * 1e-15L) {
            return radiansFromExtended(*extended);
        }
    }
    return radiansFromDouble(degrees);
}

}  // namespace zoomreel
