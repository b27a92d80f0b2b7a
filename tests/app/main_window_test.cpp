// The main window: menus and their states, toggles, the quit question, the keyframe strip, folders.
#include <QDialog>
#include <QSignalSpy>
#include <QWindow>

#include <fstream>

#include "app/app_test.h"
#include "app/window_harness.h"

namespace zoomreel::app::test {

namespace {

std::vector<std::string> linesOf(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

class KeyframeStripTest : public QObject {
    Q_OBJECT
private slots:
    // The strip's rules apart from the window: scrolling never below 0, and none without a column; Shift+click
    // before the start turns the range round, on the start clears the end, without a start starts there.
    void layoutAndSelectionRules() {
        QCOMPARE(stripLayoutFor(262, 150, 2).scrollMaximum, 0);
        QCOMPARE(stripLayoutFor(100, 150, 7).scrollMaximum, 0);
        KeyframeList list;
        list.selectionStart = 3;
        selectByClick(list, 1, true);
        QCOMPARE(std::pair(list.selectionStart, list.selectionEnd), std::pair(1, 3));
        QVERIFY(isFramed(list, 1) && isFramed(list, 2) && isFramed(list, 3));
        QVERIFY(!isFramed(list, 0) && !isFramed(list, 4));
        selectByClick(list, 1, true);
        QCOMPARE(std::pair(list.selectionStart, list.selectionEnd), std::pair(1, -1));
        QVERIFY(isFramed(list, 1) && !isFramed(list, 2));
        KeyframeList none;
        selectByClick(none, 2, true);
        QCOMPARE(std::pair(none.selectionStart, none.selectionEnd), std::pair(2, -1));
    }

    void mouseOnTheRealStrip() {
        WindowHarness h;
        QVERIFY(h.openKeyframes(7));
        QVERIFY(h.resizeClient(262, 150));
        KeyframeStrip* strip = h.window->strip();
        QVERIFY(strip->layout().columns == 2 && strip->verticalScrollBar()->maximum() == 2);
        // Each click at a point of the client area, and the selection after it.
        const auto click = [&, client = strip->viewport()](QPoint at, Qt::KeyboardModifiers modifiers = {},
                                                          Qt::MouseButton button = Qt::LeftButton) {
            QTest::mouseClick(client, button, modifiers, at);
            return std::pair(h.state->keyframes.selectionStart, h.state->keyframes.selectionEnd);
        };
        click({140, 80});                                                 // keyframe 3
        QCOMPARE(click({140, 10}, Qt::ShiftModifier), std::pair(1, 3));  // keyframe 1
        QCOMPARE(click({260, 10}), std::pair(1, 3));                     // just right of the grid
        strip->verticalScrollBar()->setValue(2);                         // rows 2 and 3 on top: keyframes 4 to 7
        QCOMPARE(click({140, 80}), std::pair(1, 3));                     // keyframe 7: none
        QCOMPARE(click({10, 80}), std::pair(6, -1));                     // keyframe 6

        h.ui.menuChoices = {QStringLiteral("Select All")};
        QCOMPARE(click({10, 10}, {}, Qt::RightButton), std::pair(0, 6));
        QCOMPARE(h.ui.menusShown.back(), (QStringList{"Select All", "Properties", "Cancel"}));
        h.ui.menuChoices = {QStringLiteral("Properties")};
        h.ui.dialogs.push_back([](QDialog&) { return 1; });
        click({140, 10}, {}, Qt::RightButton);  // keyframe 5
        QVERIFY(h.state->keyframes.propertiesKeyframe == 5 && h.ui.dialogTitles.back() == QStringLiteral("Key Frame Properties"));
        h.ui.menuChoices = {QString()};  // the menu closed: nothing changes
        QCOMPARE(click({10, 10}, {}, Qt::RightButton), std::pair(0, 6));
        QCOMPARE(h.ui.unexpectedDialogs, 0);
        h.ui.answers = {BoxAnswer::Ok};  // Exit asks, keyframes being open
        h.window->runCommand(kExit);
        QVERIFY(!h.window->isVisible() && h.ui.messages.back().text == QStringLiteral("Do you want to quit?"));
    }

    void paintsLabelsAndTheSelectionFrame() {
        WindowHarness h;
        QVERIFY(h.openKeyframes(3));
        QVERIFY(h.resizeClient(400, 160));
        h.state->keyframes.selectionStart = 1;
        const QImage shot = h.window->strip()->viewport()->grab().toImage();
        QCOMPARE(shot.pixelColor(130 + 1, 40), QColor(255, 0, 0));  // keyframe 1's frame, left edge
        QCOMPARE(shot.pixelColor(260, 40), QColor(255, 0, 0));      // its right edge
        QVERIFY(shot.pixelColor(1, 40) != QColor(255, 0, 0));      // keyframe 0: no frame
        QCOMPARE(shot.pixelColor(3, 3), QColor(80, 120, 140));      // the label's background
        QCOMPARE(shot.pixelColor(190, 60), QColor(40, 40, 40));     // keyframe 1's thumbnail shade
        QCOMPARE(shot.pixelColor(60, 60), QColor(0, 0, 0));         // keyframe 0's
    }
};

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    // Each toggle flips its own flag and no other, its check mark following.
    void togglesFollowTheirFlags() {
        WindowHarness h;
        const std::pair<int, bool AppState::*> toggles[] = {{kFlipVertical, &AppState::flipVertical},
                                                           {kFlipHorizontal, &AppState::flipHorizontal},
                                                           {kKeyframeByKeyframe, &AppState::keyframeByKeyframe}};
        for (const auto& [id, flag] : toggles) {
            h.window->command(id)->trigger();
            for (const auto& [other, otherFlag] : toggles) QCOMPARE((*h.state).*otherFlag, other == id);
            QVERIFY(h.window->command(id)->isChecked());
            h.window->command(id)->trigger();
            QVERIFY(!((*h.state).*flag) && !h.window->command(id)->isChecked());
        }
    }

    // Without a selection: a warning, or for the movie a line of its own; with one the movie is confirmed first.
    void commandsThatNeedASelection() {
        WindowHarness h;
        h.state->keyframes.selectionStart = 2;  // a start without an end is no selection
        for (int id : {kSpeedSetup, kColorSetup, kAccelerate}) h.window->runCommand(id);
        QCOMPARE(h.ui.messages.size(), std::size_t{3});
        QCOMPARE(h.ui.messages[0].text,
                 QStringLiteral("You have to select key frames!\nClick to Select First.\nShift+Click to Select Last"));
        QCOMPARE(h.ui.messages[0].icon, BoxIcon::Warning);
        QCOMPARE(h.ui.messages[0].caption, QStringLiteral("Zoomreel"));
        h.window->runCommand(kMakeVideo);
        QCOMPARE(h.ui.messages.back().text, QStringLiteral("No Key Frames selected"));
        QCOMPARE(h.ui.dialogTitles.size(), std::size_t{0});

        QVERIFY(h.openKeyframes(4));
        h.state->keyframes.selectionStart = 1;
        h.state->keyframes.selectionEnd = 3;
        h.ui.answers = {BoxAnswer::Cancel};
        h.window->runCommand(kMakeVideo);
        QCOMPARE(h.ui.messages.back().text,
                 QStringLiteral("Confirm you want to make final movie from 1 to 3 KeyFrames?\nFPS: 30   FPM: 1000   Width: 1280"));
        QCOMPARE(h.ui.messages.back().buttons, BoxButtons::OkCancel);
        QVERIFY(!h.state->movie.running.load());
    }

    void aboutFromTheMenuAndBothAccelerators() {
        WindowHarness h;
        h.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
        for (int i = 0; i < 3; ++i) h.ui.acceptNext();
        h.window->command(kAbout)->trigger();
        QTest::keyClick(h.window.get(), Qt::Key_Question, Qt::AltModifier);
        QTest::keyClick(h.window.get(), Qt::Key_Slash, Qt::AltModifier);
        QCOMPARE(h.ui.dialogTitles, (std::vector<QString>(3, QStringLiteral("About ZOR3D"))));
    }

};

class FolderTest : public QObject {
    Q_OBJECT
private slots:
    void openAndLeaveAFolderOfKeyframes() {
        WindowHarness h;
        h.window->runCommand(kFolderOpen);  // the browser cancelled: nothing changes
        QCOMPARE(h.title(), kFirstTitle);
        QVERIFY(h.ui.messages.empty() && h.state->keyframes.folder.empty());
        QVERIFY(zoomreel::test::writeTestKeyframes(h.work / "keys", 3));
        std::ofstream(h.work / "keys" / "00001_1e3.qvb") << "maps beside keyframes are not offered";
        h.state->subtractMinimum.subtract = 1;
        h.open(h.work / "keys");
        const QString folder = QString::fromStdString((h.work / "keys").string());
        QCOMPARE(h.title(), QStringLiteral("Zoomreel - %1 - 3 x [48 / 28]").arg(folder));
        QCOMPARE(h.ui.folderTitles.back(), QStringLiteral("Dossier contenant les fichiers QVB ou QVY"));
        QVERIFY(h.ui.messages.empty() && h.state->subtractMinimum.subtract == 0);
        h.ui.answers = {BoxAnswer::Cancel};
        QVERIFY(!h.window->close() && h.window->isVisible());  // quitting asks first, keyframes being open
        QCOMPARE(h.ui.messages.back().icon, BoxIcon::Question);
        QVERIFY(!h.enabled(kFolderOpen) && h.enabled(kFolderClose) && h.enabled(kColorPalette) && h.enabled(kAccelerate));

        h.ui.answers = {BoxAnswer::Cancel};
        h.window->runCommand(kFolderClose);
        QCOMPARE(h.state->keyframes.keyframeCount(), 3);
        h.state->keyframes.selectionStart = 1;
        h.window->runCommand(kFolderClose);  // answered OK
        QCOMPARE(h.ui.messages.back().text, QStringLiteral("Do you want to leave this folder?"));
        QVERIFY(h.state->keyframes.keyframeCount() == 0 && h.state->keyframes.selectionStart == -1);
        QCOMPARE(h.title(), QStringLiteral("Zoomreel"));
        QVERIFY(h.enabled(kFolderOpen) && !h.enabled(kFolderClose) && h.enabled(kColorPalette));
    }

    // Folders that leave nothing open: the messages, the title, and the menus as they were.
    void foldersWithNothingToShow_data() {
        QTest::addColumn<int>("maps");  // iteration map files in the folder, whose conversion is refused
        QTest::addColumn<QString>("second");
        QTest::newRow("empty") << 0 << "This folder do not contain any QVB files!";
        QTest::newRow("conversion refused") << 2
                                            << "This folder contains 2 QVB files\nDo you want to convert them to QVY files?";
    }
    void foldersWithNothingToShow() {
        QFETCH(int, maps);
        QFETCH(QString, second);
        WindowHarness h;
        const auto folder = h.work / "maps";
        std::filesystem::create_directory(folder);
        for (int i = 1; i <= maps; ++i) std::ofstream(folder / ("0000" + std::to_string(i) + "_1e3.qvb")) << "x";
        h.ui.answers = {BoxAnswer::Ok, BoxAnswer::Cancel};
        h.open(folder);
        QCOMPARE(h.messageTexts(), (QStringList{"This folder do not contain any QVY files!", second}));
        QCOMPARE(h.ui.messages[0].icon, BoxIcon::None);
        QCOMPARE(h.title(), maps == 0 ? QStringLiteral("Zoomreel") : "Zoomreel - " + QString::fromStdString(folder.string()));
        QVERIFY(h.enabled(kFolderOpen) && !h.enabled(kFolderClose) && !h.enabled(kColorPalette));
        QVERIFY(maps > 0 || !h.enabled(kAccelerate));
        QVERIFY(!h.window->converting() && !std::filesystem::exists(h.work / "zor.fld"));
    }

    // Each folder opened once in the list, the newest last (how many it keeps is the list's own rule); the next
    // run shows them in the File menu, and an item opens the folder it shows. Paths show as they are.
    void recentFolders() {
        TempDir work;
        std::vector<std::filesystem::path> folders;
        std::vector<std::string> expected;
        for (const char* name : {"f0", "f1", "run%2 draft[*] Tom&Jerry"}) {
            folders.push_back(work / name);
            expected.push_back(folders.back().string());
            QVERIFY(zoomreel::test::writeTestKeyframes(folders.back(), 1));
        }
        const QString last = QString::fromStdString(expected.back());
        {
            WindowHarness h;
            h.state->workingDirectory = work.path();
            for (int i : {0, 0, 1, 2}) {
                h.open(folders[i]);
                h.ui.answers = {BoxAnswer::Ok};
                if (i == 2) QCOMPARE(h.window->windowHandle()->title(), "Zoomreel - " + last + " - 1 x [48 / 28]");
                h.window->runCommand(kFolderClose);
            }
        }
        QCOMPARE(linesOf(work / "zor.fld"), expected);
        AppState state;
        state.workingDirectory = work.path();
        ScriptedInteraction ui;
        MainWindow window(state, ui, editorOpeners());
        QAction* item = window.command(kRecentFolder + 2);
        QVERIFY(item != nullptr && window.command(kRecentFolder + 3) == nullptr);
        QCOMPARE(item->iconText(), last);
        item->trigger();
        QVERIFY(state.keyframes.folder == folders[2] && state.keyframes.keyframeCount() == 1);
    }

    // The video parameters are read again from the working directory; a recent list that cannot be written is told,
    // the folder opened all the same.
    void openingReloadsTheVideoParametersAndReportsTheRecentList() {
        WindowHarness h;
        std::ofstream(h.work / "VFS.qvs") << "640\n360\n25\n100\n1\n12\n1\n2\n3\nLiberation Sans\n";
        std::ofstream(h.work / "VBr.qvs") << "/usr/bin/true";
        std::filesystem::create_directory(h.work / "zor.fld");  // a folder where the file should be
        QVERIFY(h.openKeyframes(1));
        const VideoParameters video = h.state->video();
        QVERIFY(video.finalWidth == 640 && video.fps == 25 && video.videoBrowser == "/usr/bin/true");
        QCOMPARE(QString::fromStdString(video.fontName), QStringLiteral("Liberation Sans"));
        QCOMPARE(h.ui.messages.size(), std::size_t{1});
        QCOMPARE(h.ui.messages[0].caption, QStringLiteral("ZOR"));
        QVERIFY(h.ui.messages[0].text.startsWith(QStringLiteral("Error opening zor.fld")));
        QCOMPARE(h.state->keyframes.keyframeCount(), 1);
    }
};

ZOOMREEL_APP_TEST(KeyframeStripTest)
ZOOMREEL_APP_TEST(MainWindowTest)
ZOOMREEL_APP_TEST(FolderTest)

}  // namespace zoomreel::app::test

#include "main_window_test.moc"
