// The settings commands of zoomreel-cli: show, set and import, on the TOML form of a folder's settings.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "cli/arguments.h"
#include "cli/cli_commands.h"
#include "keyframes/keyframe_list.h"
#include "platform/atomic_file.h"
#include "settings/settings_toml.h"

namespace zoomreel::cli {
namespace {

/// Far more than any setup needs; the cut keeps a wrong file (a movie, a device) from being read whole.
constexpr std::size_t kMaxImportBytes = 16 << 20;

KeyframeList settingsFolder(const std::string& folder) {
    KeyframeList list;
    list.folder = folder;
    requireFolder(list.folder);
    return list;
}

void save(const KeyframeList& list, const FolderSettings& settings, const SettingsFileSet& changed) {
    if (Status status = saveFolderSettings(list, settings, changed); !status) throw InputError{status.message};
}

/// The text of FILE, or of the standard input for "-".
std::string readImportText(const std::string& name) {
    struct Closer {
        void operator()(std::FILE* f) const {
            if (f != stdin) std::fclose(f);
        }
    };
    const std::unique_ptr<std::FILE, Closer> file(name == "-" ? stdin : std::fopen(name.c_str(), "rb"));
    if (!file) throw InputError{"Cannot open " + quotedPath(name) + ": " + std::strerror(errno) + "."};
    std::string text;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        text.append(buffer, n);
        if (text.size() > kMaxImportBytes) throw InputError{quotedPath(name) + " is too large for a settings file."};
    }
    if (std::ferror(file.get())) {
        throw InputError{"Cannot read " + quotedPath(name) + ": " + std::strerror(errno) + "."};
    }
    return text;
}

}  // namespace

int runShow(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {});
        KeyframeList list = settingsFolder(folderArgument(parsed, "show").string());
        // Only the colour divisor's default needs the keyframes; without them (or with damaged ones) it is the
        // fallback a movie could not go beyond anyway.
        scanKeyframes(list);
        std::fputs(settingsToToml(loadFolderSettings(list)).c_str(), stdout);
        return kExitOk;
    });
}

int runSet(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {});
        if (parsed.positional.size() < 2) {
            throw UsageError{"The command \"set\" takes a folder and at least one KEY=VALUE."};
        }
        const KeyframeList list = settingsFolder(parsed.positional[0]);
        FolderSettings settings = loadFolderSettings(list);
        SettingsFileSet changed{};
        for (std::size_t i = 1; i < parsed.positional.size(); ++i) {
            if (Status status = applySettingAssignment(parsed.positional[i], settings, changed); !status) {
                throw InputError{status.message};
            }
        }
        save(list, settings, changed);
        return kExitOk;
    });
}

int runImport(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {});
        if (parsed.positional.size() != 2) throw UsageError{"The command \"import\" takes a folder and a TOML file."};
        const KeyframeList list = settingsFolder(parsed.positional[0]);
        const std::string& name = parsed.positional[1];
        const std::string text = readImportText(name);
        FolderSettings settings = loadFolderSettings(list);
        SettingsFileSet changed{};
        if (Status status = applySettingsToml(text, name == "-" ? "<stdin>" : name, settings, changed); !status) {
            throw InputError{status.message};
        }
        save(list, settings, changed);
        return kExitOk;
    });
}

}  // namespace zoomreel::cli
