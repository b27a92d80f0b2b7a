#pragma once

// The desktop program's records: one instance, owned by the main window, alive for the whole run.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <vector>

#include "keyframes/keyframe_list.h"
#include "output/movie_driver.h"
#include "platform/raster.h"
#include "settings/palette.h"
#include "settings/recent_folders.h"
#include "settings/render_settings.h"
#include "settings/video_parameters.h"

namespace zoomreel::app {

/// The preview block n and the preview map size chosen in the Preview Frame Size dialog.
struct PreviewChoice {
    int block = 0;
    int width = 0;
    int height = 0;
};

struct AppState {
    /// Where "VFS.qvs", "VBr.qvs", "zor.fld" and "preview.avi" live: the working directory at start-up.
    std::filesystem::path workingDirectory;

    KeyframeList keyframes;
    RecentFolders recentFolders;

    // The program's toggles; every run starts with all three off and none is saved.
    bool keyframeByKeyframe = false;
    bool flipHorizontal = false;
    bool flipVertical = false;

    // The settings a movie starts from; the movie thread loads the folder's files over copies of them.
    Palette palette;
    ColorTable colorTable;
    ReliefSettings relief;
    Projection3DSettings projection;
    SubtractMinimumSettings subtractMinimum;

    /// What the setup editors keep from one opening to the next, for the whole run.
    struct EditorMemory {
        bool speedX10 = true;   ///< the speed editor's "x10 vertical zoom"
        bool colorX10 = false;  ///< the colour editor's
        int colorMode = 1;      ///< 0 "Add color", 1 "Iteration division", 2 "Rotate"
        int colorOffset = 0;    ///< the "Add color" view's vertical offset, -100 to 100
        int beatsPerKeyframe = 4;   ///< "Fit to beats": 0 for auto
        double colourPulse = 0.1;   ///< "Color pulse": the rotation of an average beat
    } editors;
    /// Set by the 3D dialog before it opens the speed editor on a 3D evolution curve; cleared when that closes.
    std::int32_t zScaleEvolutionRequest = 0;
    std::int32_t maxIterEvolutionRequest = 0;
    std::int32_t vertShiftEvolutionRequest = 0;
    /// The first keyframe of each pair that the last keyframe check found disagreeing; the strip frames both
    /// keyframes of these pairs until the folder is closed.
    std::vector<int> disagreeingPairs;

    PreviewChoice preview;
    double singleFramePosition = 1.0;  ///< the last value entered in Compute One Frame

    /// Guards the images that a worker thread draws and the main window paints, and the pointers below.
    std::recursive_mutex frameLock;
    const Raster* publishedImage = nullptr;      ///< the conversion's map or the movie's frame
    const Raster* publishedThumbnail = nullptr;  ///< the conversion's thumbnail of that map
    /// The frame of "Compute One Frame", kept on screen after its run ended until the user scrolls, clicks or
    /// starts something else.
    Raster heldFrame;

    MovieDriver movie;

    /// The video parameters are read by a running movie while the dialog may change them.
    VideoParameters video() const {
        std::lock_guard lock(videoLock_);
        return video_;
    }
    void setVideo(const VideoParameters& video) {
        std::lock_guard lock(videoLock_);
        video_ = video;
    }

private:
    mutable std::mutex videoLock_;
    VideoParameters video_;
};

}  // namespace zoomreel::app
