// The engine draws the zoom caption with Qt Gui, which needs its application object; the tests run it on the
// offscreen platform so that no display is needed.
#include <gtest/gtest.h>

#include "platform/text_image.h"

int main(int argc, char** argv) {
    const zoomreel::OffscreenGuiApplication gui(argc > 0 ? argv[0] : nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
