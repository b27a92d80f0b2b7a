#pragma once

// The record a movie keeps beside its files until it is done: what the first frame of its next file needs from
// the frames before it, and a fingerprint of everything that shaped them, so that a stopped movie can go on from
// there and make the very frames it would have made without stopping.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "keyframes/keyframe_list.h"
#include "output/avi_writer.h"
#include "platform/status.h"
#include "render/frame_renderer.h"
#include "settings/key_point_curve.h"
#include "settings/palette.h"
#include "settings/video_parameters.h"

namespace zoomreel {

/// What shaped a movie's frames, in named parts (the settings keys of `zoomreel-cli show` where there is one:
/// "curves.speed" ... "subtractMinimum", then "keyframes", "flags", "frameSize", "framesPerMovie", "fps",
/// "zoomText", and "container" and "soundtrack" where they are not the default AVI without sound), each a hash of
/// the values the movie used, so that a refusal can say what changed.
struct MovieFingerprint {
    std::vector<std::pair<std::string, std::string>> parts;  ///< name, 16 hexadecimal digits
};

/// The fingerprint of a run: the curves, palette and settings as the run uses them (the folder's files over
/// the program's values), the names, sizes and modification times of the folder's keyframes, the three flags,
/// the frame size, the frames per file, the frame rate, the zoom caption, the container and the soundtrack (its
/// path, start, size and modification time).
MovieFingerprint movieFingerprint(const CurveSet& curves, const Palette& palette, const ColorTable& colorTable,
                                  const RenderSettings& settings, const VideoParameters& video);

/// The names of the parts in which `now` differs from `stopped`; a part only one of them has differs.
std::vector<std::string> fingerprintDifferences(const MovieFingerprint& stopped, const MovieFingerprint& now);

/// Where a stopped movie goes on: after the last frame of file `nextFile - 1`, the last file finished with all
/// its frames.
struct MovieResume {
    int selectionStart = 0;
    int selectionEnd = 0;
    int nextFile = 0;          ///< 2 or more; files 1 to nextFile - 1 are finished
    int framesBefore = 0;      ///< the frames those files hold
    int lastSegment = 0;       ///< the speed segment of the last frame they hold
    float lastPosition = 0;    ///< its keyframe position
    float cumulativeRotation = 0;  ///< the colour rotation after that frame
    CarriedFrameState carried;     ///< the renderer's running minima and visible rows after that frame
    FourCC compressor = kDefaultCompressor;  ///< the compressor the files are written with, and its settings
    std::int32_t keyFrameEvery = 1;
    std::int32_t quality = 100;    ///< 0 to 100, as the writer takes it
    /// The sound clock's anchor for the next file (frame, sample), so that its sound begins with the sample an
    /// uninterrupted run gives it. 0, 0 in records without a soundtrack.
    std::int64_t soundAnchorFrame = 0;
    std::int64_t soundAnchorSample = 0;
    MovieFingerprint fingerprint;
};

/// Writes the record as text, one "key = value" a line, numbers of the frames' arithmetic bit for bit, through a
/// temporary file and a rename.
Status writeMovieResume(const std::filesystem::path& path, const MovieResume& record);

/// Reads a record written by `writeMovieResume`. Keys it does not know are passed over, so that later versions
/// can add to it; a record without a key it needs, or with a value out of its range, is refused with a message
/// that names the file and the line. Not found: a failure too, `found` false.
Status readMovieResume(const std::filesystem::path& path, MovieResume& record, bool* found = nullptr);

}  // namespace zoomreel
