#include "cli/cli_commands.h"

#include <cstdio>
#include <filesystem>
#include <mutex>

#include "cli/arguments.h"
#include "keyframes/conversion.h"
#include "keyframes/keyframe_check.h"
#include "keyframes/keyframe_list.h"
#include "keyframes/sample_maps.h"
#include "platform/atomic_file.h"
#include "platform/worker_pool.h"

namespace zoomreel::cli {

namespace {

/// Checks the loaded keyframes of `list`, printing one line per pair that disagrees and the summary on stdout;
/// a keyframe that cannot be read is told on stderr. True when every pair agrees.
bool printCheck(const KeyframeList& list) {
    const bool terminal = stderrIsTerminal();
    CheckCallbacks callbacks;
    callbacks.progress = [terminal](int pair, int pairs) {
        if (terminal) std::fprintf(stderr, "\rChecking keyframes %d/%d", pair, pairs);
    };
    const KeyframeCheck check = checkKeyframes(list, callbacks);
    if (terminal && check.pairsChecked > 0) std::fputc('\n', stderr);
    for (const PairCheck& pair : check.disagreeing) std::printf("%s\n", describePair(pair).c_str());
    std::fprintf(check.status ? stdout : stderr, "%s\n", describeCheck(check).c_str());
    return check.allAgree();
}

}  // namespace

int runSample(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {"--maps", "--size", "--max-iter"});
        const std::filesystem::path folder = folderArgument(parsed, "sample");
        SampleOptions options;
        if (auto v = option(parsed, "--maps")) options.mapCount = parseInt(*v, "the number of maps");
        if (auto v = option(parsed, "--max-iter")) options.maxIterations = parseInt(*v, "the iteration limit");
        if (auto v = option(parsed, "--size")) {
            const std::size_t x = v->find('x');
            if (x == std::string::npos) throw InputError{"Cannot read a size WxH from \"" + *v + "\"."};
            options.width = parseInt(v->substr(0, x), "the width");
            options.height = parseInt(v->substr(x + 1), "the height");
        }
        WorkerPool pool;
        const bool terminal = stderrIsTerminal();
        const Status status = writeSampleMaps(folder, options, pool, [terminal](int done, int total) {
            if (terminal) std::fprintf(stderr, "\rSample maps %d/%d", done, total);
        });
        if (terminal) std::fputc('\n', stderr);
        if (!status) throw InputError{status.message};
        std::printf("Wrote %d sample maps of %dx%d into %s\n", options.mapCount, options.width, options.height,
                    folder.string().c_str());
        return kExitOk;
    });
}

int runConvert(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {"--preview-block"});
        KeyframeList list;
        list.folder = folderArgument(parsed, "convert");
        int block = 4;
        if (auto v = option(parsed, "--preview-block")) block = parseInt(*v, "the preview block");
        if (block < kMinPreviewBlock || block > kMaxPreviewBlock) {
            throw InputError{"The preview block must be between 2 and 40, not " + std::to_string(block) + "."};
        }
        requireFolder(list.folder);
        scanMaps(list);
        if (list.qvbCount() == 0) throw InputError{"This folder do not contain any QVB files!"};
        if (Status planned = planConversion(list); !planned) throw InputError{planned.message};

        const bool terminal = stderrIsTerminal();
        ConversionCallbacks callbacks;
        callbacks.progress = [terminal](int index, int count) {
            if (terminal) std::fprintf(stderr, "\rFiles Conversion QVB -> QVY %d/%d", index, count);
        };
        callbacks.choosePreviewBlock = [block](int, int) { return block; };
        WorkerPool pool;
        std::recursive_mutex frameLock;
        const ConversionResult result = runConversion(list, callbacks, pool, frameLock);
        if (terminal) std::fputc('\n', stderr);
        if (!result.status) {
            std::string message = result.status.message;
            if (!result.failedFile.empty() && message.find(result.failedFile.string()) == std::string::npos) {
                message += " (" + quotedPath(result.failedFile) + ")";
            }
            throw InputError{message};
        }
        std::printf("Converted %d QVB maps into QVY keyframes in %s (%d x %d, preview %d x %d)\n",
                    result.keyframesWritten, list.folder.string().c_str(), list.width, list.height,
                    list.layout.previewWidth, list.layout.previewHeight);
        std::fflush(stdout);
        printCheck(list);  // what it finds is for the user to judge: the conversion itself succeeded
        return kExitOk;
    });
}

int runInfo(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {});
        KeyframeList list;
        list.folder = folderArgument(parsed, "info");
        requireFolder(list.folder);
        if (Status status = scanKeyframes(list); !status) throw InputError{status.message};
        if (list.keyframeCount() == 0) throw InputError{"This folder do not contain any QVY files!"};
        for (int k = 0; k < list.keyframeCount(); ++k) {
            const KeyframeSummary& s = list.summaries[k];
            std::printf("%5d  %s  %10.3lf %10.3lf %10.3lf  %6.3fe%03d  %d\n", k, list.names[k].c_str(), s.minimum,
                        s.average, s.maximum, static_cast<double>(s.zoomMantissa), s.zoomExponent, s.colorDivisor);
        }
        return kExitOk;
    });
}

int runCheck(const std::vector<std::string>& args) {
    return guarded([&] {
        const Parsed parsed = parse(args, {});
        KeyframeList list;
        list.folder = folderArgument(parsed, "check");
        requireFolder(list.folder);
        if (Status status = scanKeyframes(list); !status) throw InputError{status.message};
        if (list.keyframeCount() == 0) throw InputError{"This folder do not contain any QVY files!"};
        return printCheck(list) ? kExitOk : kExitFailure;
    });
}

}  // namespace zoomreel::cli
