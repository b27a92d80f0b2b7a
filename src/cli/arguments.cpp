#include "cli/arguments.h"

#include <unistd.h>

#include <charconv>
#include <cmath>

#include "platform/atomic_file.h"

namespace zoomreel::cli {

Parsed parse(const std::vector<std::string>& args, const std::vector<std::string>& valued,
             const std::vector<std::string>& flags) {
    Parsed parsed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            parsed.positional.push_back(a);
            continue;
        }
        bool isFlag = false;
        for (const auto& name : flags) isFlag = isFlag || a == name;
        if (isFlag) {
            parsed.options.emplace_back(a, std::string());
            continue;
        }
        bool known = false;
        for (const auto& name : valued) known = known || a == name;
        if (!known) throw UsageError{"Unknown option \"" + a + "\"."};
        if (i + 1 >= args.size()) throw UsageError{"The option \"" + a + "\" needs a value."};
        parsed.options.emplace_back(a, args[++i]);
    }
    return parsed;
}

std::optional<std::string> option(const Parsed& parsed, const std::string& name) {
    std::optional<std::string> value;
    for (const auto& [n, v] : parsed.options)
        if (n == name) value = v;
    return value;
}

bool flag(const Parsed& parsed, const std::string& name) { return option(parsed, name).has_value(); }

int parseInt(const std::string& text, const std::string& what) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) throw InputError{"Cannot read " + what + " from \"" + text + "\"."};
    return value;
}

float parseFloat(const std::string& text, const std::string& what) {
    float value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) {
        throw InputError{"Cannot read " + what + " from \"" + text + "\"."};
    }
    return value;
}

std::filesystem::path folderArgument(const Parsed& parsed, const char* command) {
    if (parsed.positional.size() != 1) {
        throw UsageError{std::string("The command \"") + command + "\" takes exactly one folder."};
    }
    return parsed.positional[0];
}

void requireFolder(const std::filesystem::path& folder) {
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        throw InputError{"The folder " + quotedPath(folder) + " does not exist."};
    }
}

bool stderrIsTerminal() { return ::isatty(::fileno(stderr)) != 0; }

}  // namespace zoomreel::cli
