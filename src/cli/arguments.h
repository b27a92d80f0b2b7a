#pragma once

// Command-line parsing shared by the commands of zoomreel-cli.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_commands.h"

namespace zoomreel::cli {

/// Thrown for a command line that cannot be understood; becomes exit status 2.
struct UsageError {
    std::string message;
};
/// Thrown for input that is understood but wrong; becomes exit status 1.
struct InputError {
    std::string message;
};

struct Parsed {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;  ///< flags have an empty value
};

/// Splits `args` into positional arguments, "--name value" options (only the `valued` names) and "--name" flags
/// (only the `flags` names).
Parsed parse(const std::vector<std::string>& args, const std::vector<std::string>& valued,
             const std::vector<std::string>& flags = {});

/// The value of the last occurrence of option `name`.
std::optional<std::string> option(const Parsed& parsed, const std::string& name);
/// Whether flag `name` was given.
bool flag(const Parsed& parsed, const std::string& name);

int parseInt(const std::string& text, const std::string& what);
float parseFloat(const std::string& text, const std::string& what);

std::filesystem::path folderArgument(const Parsed& parsed, const char* command);
void requireFolder(const std::filesystem::path& folder);

bool stderrIsTerminal();

/// Runs a command's body, turning its usage and input errors into their message and exit status.
template <typename Body>
int guarded(Body body) {
    try {
        return body();
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s\nRun \"zoomreel-cli help\" for the commands.\n", e.message.c_str());
        return kExitUsage;
    } catch (const InputError& e) {
        std::fprintf(stderr, "%s\n", e.message.c_str());
        return kExitFailure;
    }
}

}  // namespace zoomreel::cli
