// zoomreel-cli beats: the tempo and the beat times of a soundtrack.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/arguments.h"
#include "cli/cli_commands.h"
#include "output/beat_analysis.h"

namespace zoomreel::cli {

double audioStartOption(const Parsed& parsed) {
    const auto text = option(parsed, "--audio-start");
    if (!text) return 0;
    const double start = parseFloat(*text, "the soundtrack's start");
    if (!(start >= 0) || !std::isfinite(start)) {
        throw InputError{"The soundtrack's start must be a number of seconds of 0 or more, not \"" + *text + "\"."};
    }
    return start;
}

int runBeats(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {"--audio-start"});
        if (parsed.positional.size() != 1) throw UsageError{"The command \"beats\" takes one sound file."};
        const double start = audioStartOption(parsed);
        BeatAnalysis analysis;
        // The cache lives beside the program's settings, in the working directory.
        if (Status s = soundtrackBeats(parsed.positional[0], std::filesystem::current_path(), analysis); !s) {
            throw InputError{s.message};
        }
        const auto beats = beatsFrom(analysis, start);
        if (beats.empty()) throw InputError{"No beat can be found in the soundtrack after its start."};
        std::printf("%.1f\n", analysis.tempo);
        for (const double t : beats) std::printf("%.3f\n", t);
        return kExitOk;
    });
}

}  // namespace zoomreel::cli
