// The preview commands of zoomreel-cli: the editors' preview video and their live preview frame.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/arguments.h"
#include "cli/cli_commands.h"
#include "cli/command_support.h"
#include "output/avi_writer.h"
#include "output/preview.h"
#include "settings/video_parameters.h"

namespace zoomreel::cli {

int runPreview(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args,
                                    {"--from", "--to", "--out", "--codec", "--player", "--container", "--audio",
                                     "--audio-start"},
                                    {"--play"});
        const KeyframeList list = readSelection(parsed, "preview");
        VideoParameters video;
        LoadVideoParameters(std::filesystem::current_path(), video);
        readMovieFileOptions(parsed, video);
        CompressorChoice codec;
        codec.compressor = defaultCompressorFor(video.container);
        if (auto v = option(parsed, "--codec")) {
            const std::optional<FourCC> code = findCompressor(*v);
            if (!code) throw InputError{"Unknown codec \"" + *v + "\". Run \"zoomreel-cli codecs\" for the list."};
            codec.compressor = *code;
        }
        if (Status fits = checkMovieFormat(video.container, codec.compressor, 0, 0); !fits) {
            throw InputError{fits.message};
        }
        // --player names the program to play the video with, and so asks for it to be played.
        const std::optional<std::string> player = option(parsed, "--player");
        const bool play = flag(parsed, "--play") || player.has_value();
        const std::string browser = player.value_or(video.videoBrowser);
        if (play && browser.empty()) {
            throw InputError{"You must define a Video Browser: give --player PROGRAM, or choose one with Video->Video "
                             "parameters... in the desktop program."};
        }

        PreviewVideoRequest request;
        request.keyframes = &list;
        request.setup = loadPreviewSetup(list);
        request.file = option(parsed, "--out").value_or(
            (std::filesystem::current_path() / previewFileName(video.container)).string());
        request.frameRate = video.fps;
        request.container = video.container;
        request.soundtrack = video.soundtrack;
        request.soundtrackStart = video.soundtrackStart;
        request.chooseCompressor = [codec](const CompressorRequest&) { return std::optional<CompressorChoice>(codec); };
        if (play) request.videoBrowser = browser;

        std::atomic<std::int32_t> abort{0};
        PreviewVideoOutcome outcome;
        {
            const InterruptAsAbort interrupt(abort);
            outcome = PreviewVideoThread(request, {}, abort);
        }
        if (!outcome.status) throw InputError{outcome.status.message};
        std::printf("%d\n", outcome.framesWritten);
        if (outcome.aborted) {
            std::fprintf(stderr, "Interrupted after %d frames written into %s.\n", outcome.framesWritten,
                         request.file.string().c_str());
            return kExitInterrupted;
        }
        if (outcome.framesWritten == 0) throw InputError{"No frame of the preview lies inside the selection."};
        if (!outcome.browser) throw InputError{outcome.browser.message};
        return kExitOk;
    });
}

int runPreviewFrame(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {"--from", "--to", "--at", "--out"});
        const auto at = option(parsed, "--at");
        const auto out = option(parsed, "--out");
        if (!at || !out) throw UsageError{"The command \"preview-frame\" needs --at X and --out FILE.png."};
        const KeyframeList list = readSelection(parsed, "preview-frame");
        const float target = parseFloat(*at, "the frame position");
        if (!(target >= static_cast<float>(list.selectionStart) && target <= static_cast<float>(list.selectionEnd))) {
            throw InputError{"Frame must be in selection!"};
        }
        PreviewRenderer renderer;
        if (Status s = renderFramePreview(renderer, list, loadPreviewSetup(list), target); !s) {
            throw InputError{s.message};
        }
        if (Status written = writePng(renderer.frame, *out); !written) throw InputError{written.message};
        return kExitOk;
    });
}

}  // namespace zoomreel::cli
