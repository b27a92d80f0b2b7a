#pragma once

// A main window over its own working directory, answered by a script, for the desktop program's tests.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QScrollBar>
#include <QTest>

#include <memory>

#include "app/app_state.h"
#include "app/keyframe_strip.h"
#include "app/main_window.h"
#include "app/scripted_interaction.h"
#include "editors/editor_openers.h"
#include "render/test_keyframes.h"
#include "test_util.h"

namespace zoomreel::app::test {

using zoomreel::test::TempDir;

struct WindowHarness {
    TempDir work;
    std::unique_ptr<AppState> state = std::make_unique<AppState>();
    ScriptedInteraction ui;
    std::unique_ptr<MainWindow> window;

    WindowHarness() {
        state->workingDirectory = work.path();
        window = std::make_unique<MainWindow>(*state, ui, editorOpeners());
        window->show();
    }
    ~WindowHarness() {
        window->shutDown();
        window.reset();
    }

    bool enabled(int id) const { return window->command(id)->isEnabled(); }
    bool menuEnabled(int position) const { return window->popUp(position)->menuAction()->isEnabled(); }
    QString title() const { return window->windowTitle(); }
    QStringList messageTexts() const {
        QStringList texts;
        for (const ShownMessage& m : ui.messages) texts << m.text;
        return texts;
    }

    /// Opens `folder` through "Folder open..", the browser answering with it.
    void open(const std::filesystem::path& folder) {
        ui.folders.push_back(QString::fromStdString(folder.string()));
        window->runCommand(kFolderOpen);
    }

    /// Writes `count` test keyframes into work/`name` and opens them; false when they could not be written.
    bool openKeyframes(int count, const char* name = "keys") {
        if (!zoomreel::test::writeTestKeyframes(work / name, count)) return false;
        return open(work / name), true;
    }

    /// Resizes the window so that the strip's client area is width x height; false when it did not get there.
    bool resizeClient(int width, int height) {
        QWidget* client = window->strip()->viewport();
        for (int attempt = 0; attempt < 5 && client->size() != QSize(width, height); ++attempt) {
            window->resize(window->size() + QSize(width, height) - client->size());
            QApplication::processEvents();
        }
        return client->size() == QSize(width, height);
    }
};

}  // namespace zoomreel::app::test
