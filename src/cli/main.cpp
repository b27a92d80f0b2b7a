// zoomreel-cli: the headless front end. It parses the command line and hands everything to the engine.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_commands.h"
#include "platform/text_image.h"

namespace {

const char* const kUsage =
    "usage: zoomreel-cli COMMAND ...\n"
    "  sample DIR [--maps N] [--size WxH] [--max-iter N]   write sample QVB maps of a Mandelbrot-set zoom\n"
    "  convert DIR [--preview-block N]                      convert DIR's QVB maps into QVY keyframes\n"
    "  info DIR                                             list DIR's keyframes\n"
    "  check DIR                                            check that each keyframe agrees with the next\n"
    "  render DIR --from S --to E [options]                 make the movie of keyframes S to E\n"
    "  frame DIR --from S --to E --at X --out FILE.png [options]\n"
    "                                                       render the movie's first frame above X\n"
    "  preview DIR --from S --to E [--out FILE] [--codec C] [--container K] [--audio FILE] [--audio-start SECONDS]\n"
    "          [--play] [--player PROGRAM]\n"
    "                                                       make the editors' preview video of keyframes S to E\n"
    "  preview-frame DIR --from S --to E --at X --out FILE.png\n"
    "                                                       render the editors' preview frame at X\n"
    "  codecs                                               list the compressors movies can use\n"
    "  show DIR                                             print DIR's settings as TOML\n"
    "  set DIR KEY=VALUE [KEY=VALUE ...]                    change settings; keys and values as show prints them\n"
    "  import DIR FILE.toml                                 apply the settings that FILE.toml (- : stdin) holds\n"
    "  suggest DIR --from S --to E [--duration MM:SS | --frames N] [--apply]\n"
    "                                                       suggest the speed and colour divisor from the keyframes\n"
    "  suggest DIR --from S --to E --audio FILE (--beats-per-keyframe N|auto | --colour-pulse AMOUNT) [--apply]\n"
    "                                                       fit the speed or the colour rotation to the soundtrack\n"
    "  beats FILE [--audio-start SECONDS]                   print the tempo and the beat times of a soundtrack\n"
    "options of render and frame (for this run only; nothing is saved):\n"
    "  --width N  --height3d N  --fps N  --frames-per-movie N  --zoom-text  --no-zoom-text\n"
    "  --codec C (MSVC, raw, MJPG, H264, HEVC, AV1, ...)  --quality Q (0-100)  --keyframe-interval K\n"
    "  --container avi|mp4|mkv (render, preview)  files film(S-E)NNN.avi, .mp4 or .mkv\n"
    "  --audio FILE  --audio-start SECONDS (render, preview)  a soundtrack, from SECONDS into it (\"\": none)\n"
    "  --keyframe-by-keyframe  --flip-horizontal  --flip-vertical\n"
    "  --resume (render only)  go on with the stopped movie of S to E from its first unfinished file\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace zoomreel::cli;
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    try {
        // The zoom caption of the frames is drawn with Qt Gui; this tool never opens a window.
        const zoomreel::OffscreenGuiApplication gui(argv[0]);
        if (command == "sample") return runSample(args);
        if (command == "convert") return runConvert(args);
        if (command == "info") return runInfo(args);
        if (command == "check") return runCheck(args);
        if (command == "render") return runRender(args);
        if (command == "frame") return runFrame(args);
        if (command == "codecs") return runCodecs(args);
        if (command == "preview") return runPreview(args);
        if (command == "preview-frame") return runPreviewFrame(args);
        if (command == "show") return runShow(args);
        if (command == "set") return runSet(args);
        if (command == "import") return runImport(args);
        if (command == "suggest") return runSuggest(args);
        if (command == "beats") return runBeats(args);
        if (command == "--help" || command == "-h" || command == "help") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        std::fprintf(stderr, "Unknown command \"%s\".\n%s", command.c_str(), kUsage);
        return kExitUsage;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zoomreel-cli: %s\n", e.what());
        return kExitFailure;
    }
}
