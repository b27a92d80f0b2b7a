// A process for the crash tests to kill: it saves every settings file into a folder, alternating two versions,
// until it is killed. It says "ready" on stdout once both versions have been written whole at least once.
#include <cstdio>
#include <filesystem>
#include <string>

#include "reliability/settings_versions.h"

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) != "settings") {
        std::fprintf(stderr, "usage: crash_child settings FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[2];
    for (unsigned long round = 0;; ++round) {
        const zoomreel::Status saved = zoomreel::test::saveAllSettings(folder, static_cast<int>(round % 2));
        if (!saved.ok) {
            std::fprintf(stderr, "%s\n", saved.message.c_str());
            return 1;
        }
        if (round == 1) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
}
