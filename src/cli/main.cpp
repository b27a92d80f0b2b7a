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
    "  info DIR                                             list DIR's keyframes\n";

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
