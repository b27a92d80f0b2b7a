// A process for the crash tests to kill: it saves every settings file into a folder, alternating two versions,
// until it is killed. It says "ready" on stdout once both versions have been written whole at least once.
#include <cstdio>

#include "reliability/settings_versions.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: crash_child FOLDER\n");
        return 2;
    }
    for (unsigned long round = 0;; ++round) {
        const zoomreel::Status saved = zoomreel::test::saveAllSettings(argv[1], static_cast<int>(round % 2));
        if (!saved.ok) {
            std::fprintf(stderr, "%s\n", saved.message.c_str());
            return 1;
        }
        if (round == 1) {
            std::puts("ready");
            std::fflush(stdout);
        }
    }
}
