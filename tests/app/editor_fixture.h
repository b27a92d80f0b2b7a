#pragma once

// A folder of keyframes with preview maps, selected, in a main window answered by a script: what the setup
// editors and the settings dialogs are opened on in the tests.

#include <functional>
#include <type_traits>

#include "app/layout_check.h"
#include "app/window_harness.h"
#include "editors/curve_editor.h"
#include "render/test_keyframes.h"
#include "settings/settings_file.h"

namespace zoomreel::app::test {

inline constexpr int kStart = 2;
inline constexpr int kEnd = 10;

struct EditorFixture {
    WindowHarness h;
    KeyframeList& list = h.state->keyframes;

    explicit EditorFixture(int count = 12, int start = kStart, int end = kEnd) {
        const auto folder = h.work / "maps";
        zoomreel::test::writeTestKeyframes(folder, count, zoomreel::test::kKeyframeWidth,
                                           zoomreel::test::kKeyframeHeight, 20, 12);
        list.folder = folder;
        scanKeyframes(list);
        list.selectionStart = start;
        list.selectionEnd = end;
    }
    std::filesystem::path file(const char* name) const { return settingsFilePath(list, name); }
    /// Opens the dialog of `command` and runs `drive` on it; a failure when no such dialog came.
    template <typename Dialog = CurveEditor>
    void run(int command, const std::type_identity_t<std::function<void(Dialog&)>>& drive) {
        bool driven = false;
        h.ui.drive([&](QDialog& dialog) { driven = true, drive(dynamic_cast<Dialog&>(dialog)); });
        h.window->runCommand(command);
        QVERIFY2(driven && h.ui.dialogs.empty(), "the dialog was not opened");
    }
};

/// The bytes of a curve file holding `points`.
inline std::vector<std::uint8_t> curveBytes(const std::vector<KeyPoint>& points) {
    zoomreel::test::ByteWriter bytes;
    bytes.i32(static_cast<std::int32_t>(points.size()));
    for (const KeyPoint& p : points) bytes.f32(p.x).f32(p.y);
    return bytes.bytes();
}

}  // namespace zoomreel::app::test
