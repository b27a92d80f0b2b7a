#pragma once

#include <charconv>
#include <string_view>

namespace zoomreel {

/// Scans a number the way "%d" / "%f" do (leading blanks and a sign allowed, the longest valid prefix taken,
/// the rest ignored), but without the C locale's say over the decimal point. A number out of the type's range
/// does not scan, and `value` keeps what it held.
template <typename T>
bool scanNumber(std::string_view text, T& value) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n' ||
                               text[i] == '\v' || text[i] == '\f')) {
        ++i;
    }
    if (i < text.size() && text[i] == '+' && (i + 1 == text.size() || text[i + 1] != '-')) ++i;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    return std::from_chars(first, last, value).ec == std::errc();
}

}  // namespace zoomreel
