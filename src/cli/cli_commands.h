#pragma once

#include <string>
#include <vector>

namespace zoomreel::cli {

/// Exit statuses of zoomreel-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;  ///< a movie stopped by Ctrl+C, its files finished

/// Each command takes the arguments after its name and returns the exit status. Messages go to stderr, results
/// to stdout.
int runSample(const std::vector<std::string>& args);
int runConvert(const std::vector<std::string>& args);
int runInfo(const std::vector<std::string>& args);
int runCheck(const std::vector<std::string>& args);
int runRender(const std::vector<std::string>& args);
int runFrame(const std::vector<std::string>& args);
int runCodecs(const std::vector<std::string>& args);
int runPreview(const std::vector<std::string>& args);
int runPreviewFrame(const std::vector<std::string>& args);
// The folder's settings as TOML: settings_commands.cpp.
int runShow(const std::vector<std::string>& args);
int runSet(const std::vector<std::string>& args);
int runImport(const std::vector<std::string>& args);
// Suggested speed and colour divisor curves: suggest_command.cpp.
int runSuggest(const std::vector<std::string>& args);
// The beats of a soundtrack: beats_command.cpp.
int runBeats(const std::vector<std::string>& args);

}  // namespace zoomreel::cli
