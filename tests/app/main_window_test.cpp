// The main window: menus and their states, toggles, the quit question, the keyframe strip, folders.
#include <QDialog>
#include <QSignalSpy>
#include <QWindow>

#include <fstream>

#include "app/app_test.h"
#include "app/window_harness.h"
#include "render/test_keyframes.h"

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
        QVERIFY(zoomreel::test::writeTestKeyframes(h.work / "keys", 7));
        h.open(h.work / "keys");
        QVERIFY(h.resizeClient(262, 150));
        KeyframeStrip* strip = h.window->strip();
        QCOMPARE(strip->layout().columns, 2);
        QCOMPARE(strip->verticalScrollBar()->maximum(), 2);
        QWidget* client = strip->viewport();
        const KeyframeList& list = h.state->keyframes;

        QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, QPoint(140, 80));  // keyframe 3
        QTest::mouseClick(client, Qt::LeftButton, Qt::ShiftModifier, QPoint(140, 10));  // keyframe 1
        QCOMPARE(list.selectionStart, 1);
        QCOMPARE(list.selectionEnd, 3);
        QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, QPoint(261, 10));  // right of the grid
        QCOMPARE(list.selectionStart, 1);

        strip->verticalScrollBar()->setValue(2);  // rows 2 and 3 on top: keyframes 4 to 7
        QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, QPoint(140, 80));  // keyframe 7: none
        QCOMPARE(list.selectionStart, 1);
        QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, QPoint(10, 80));  // keyframe 6
        QCOMPARE(list.selectionStart, 6);

        h.ui.menuChoices = {QStringLiteral("Select All")};
        QTest::mouseClick(client, Qt::RightButton, Qt::NoModifier, QPoint(10, 10));
        QCOMPARE(h.ui.menusShown.back(), (QStringList{"Select All", "Properties", "Cancel"}));
        QCOMPARE(list.selectionStart, 0);
        QCOMPARE(list.selectionEnd, 6);

        h.ui.menuChoices = {QStringLiteral("Properties")};
        h.ui.dialogs.push_back([](QDialog&) { return 1; });
        QTest::mouseClick(client, Qt::RightButton, Qt::NoModifier, QPoint(140, 10));  // keyframe 5
        QCOMPARE(list.propertiesKeyframe, 5);
        QCOMPARE(h.ui.dialogTitles.back(), QStringLiteral("Key Frame Properties"));

        h.ui.menuChoices = {QString()};  // the menu closed: nothing changes
        QTest::mouseClick(client, Qt::RightButton, Qt::NoModifier, QPoint(10, 10));
        QCOMPARE(list.selectionEnd, 6);
        QCOMPARE(h.ui.unexpectedDialogs, 0);
    }

    void paintsLabelsAndTheSelectionFrame() {
        WindowHarness h;
        QVERIFY(zoomreel::test::writeTestKeyframes(h.work / "keys", 3));
        h.open(h.work / "keys");
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
    void startsAsDesigned() {
        WindowHarness h;
        QCOMPARE(h.title(), kFirstTitle);
        for (int id : {kFolderClose, kColorPalette, kAbortVideo}) QVERIFY2(!h.enabled(id), qPrintable(QString::number(id)));
        for (int id : {kFolderOpen, kExit, kSpeedSetup, kColorSetup, kRelief, k3D, kComputeOneFrame, kMakeVideo,
                       kVideoParameters, kAccelerate, kAbout}) {
            QVERIFY2(h.enabled(id), qPrintable(QString::number(id)));
        }
        for (int id : {kKeyframeByKeyframe, kFlipHorizontal, kFlipVertical}) QVERIFY(!h.window->command(id)->isChecked());
    }

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
    }

    void makeVideoAsksWithTheVideoParameters() {
        WindowHarness h;
        QVERIFY(zoomreel::test::writeTestKeyframes(h.work / "keys", 4));
        h.open(h.work / "keys");
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

    void quitAsksOnlyWithKeyframes() {
        WindowHarness h;
        QVERIFY(h.window->close());
        QVERIFY(h.ui.messages.empty());

        WindowHarness open;
        QVERIFY(zoomreel::test::writeTestKeyframes(open.work / "keys", 2));
        open.open(open.work / "keys");
        open.ui.answers = {BoxAnswer::Cancel};
        QVERIFY(!open.window->close());
        QCOMPARE(open.ui.messages.back().text, QStringLiteral("Do you want to quit?"));
        QCOMPARE(open.ui.messages.back().icon, BoxIcon::Question);
        QVERIFY(open.window->isVisible());
        open.ui.answers = {BoxAnswer::Ok};
        open.window->runCommand(kExit);
        QVERIFY(!open.window->isVisible());
    }
};

class FolderTest : public QObject {
    Q_OBJECT
private slots:
    void openAndLeaveAFolderOfKeyframes() {
        WindowHarness h;
        QVERIFY(zoomreel::test::writeTestKeyframes(h.work / "keys", 3));
        std::ofstream(h.work / "keys" / "00001_1e3.qvb") << "maps beside keyframes are not offered";
        h.state->subtractMinimum.subtract = 1;
        h.open(h.work / "keys");
        const QString folder = QString::fromStdString((h.work / "keys").string());
        QCOMPARE(h.title(), QStringLiteral("Zoomreel - %1 - 3 x [48 / 28]").arg(folder));
        QCOMPARE(h.ui.folderTitles.back(), QStringLiteral("Dossier contenant les fichiers QVB ou QVY"));
        QVERIFY(h.ui.messages.empty());
        QCOMPARE(h.state->subtractMinimum.subtract, 0);
        QVERIFY(!h.enabled(kFolderOpen));
        QVERIFY(h.enabled(kFolderClose) && h.enabled(kColorPalette) && h.enabled(kAccelerate));

        h.ui.answers = {BoxAnswer::Cancel};
        h.window->runCommand(kFolderClose);
        QCOMPARE(h.state->keyframes.keyframeCount(), 3);
        h.state->keyframes.selectionStart = 1;
        h.window->runCommand(kFolderClose);  // answered OK
        QCOMPARE(h.ui.messages.back().text, QStringLiteral("Do you want to leave this folder?"));
        QCOMPARE(h.state->keyframes.keyframeCount(), 0);
        QCOMPARE(h.state->keyframes.selectionStart, -1);
        QCOMPARE(h.title(), QStringLiteral("Zoomreel"));
        QVERIFY(h.enabled(kFolderOpen) && !h.enabled(kFolderClose) && h.enabled(kColorPalette));
    }

    void pathsShowAsTheyAre() {
        WindowHarness h;
        const auto folder = h.work / "run%2 draft[*] Tom&Jerry";
        QVERIFY(zoomreel::test::writeTestKeyframes(folder, 1));
        h.open(folder);
        QCOMPARE(h.window->windowHandle()->title(),
                 QStringLiteral("Zoomreel - %1 - 1 x [48 / 28]").arg(QString::fromStdString(folder.string())));

        AppState state;
        state.workingDirectory = h.work.path();
        ScriptedInteraction ui;
        MainWindow next(state, ui, editorOpeners());
        QCOMPARE(next.command(kRecentFolder)->iconText(), QString::fromStdString(folder.string()));
    }

    void foldersWithNothingToShow() {
        WindowHarness h;
        std::filesystem::create_directory(h.work / "empty");
        h.open(h.work / "empty");
        QCOMPARE(h.messageTexts(), (QStringList{"This folder do not contain any QVY files!",
                                                "This folder do not contain any QVB files!"}));
        QCOMPARE(h.ui.messages[0].icon, BoxIcon::None);
        QCOMPARE(h.title(), QStringLiteral("Zoomreel"));
        QVERIFY(h.enabled(kFolderOpen) && !h.enabled(kFolderClose) && !h.enabled(kColorPalette) &&
                !h.enabled(kAccelerate));

        WindowHarness cancelled;
        cancelled.window->runCommand(kFolderOpen);  // the browser cancelled
        QCOMPARE(cancelled.title(), kFirstTitle);
        QVERIFY(cancelled.state->keyframes.folder.empty());
        QVERIFY(cancelled.ui.messages.empty());
    }

    void refusingTheConversionChangesNoMenu() {
        WindowHarness h;
        std::filesystem::create_directory(h.work / "maps");
        std::ofstream(h.work / "maps" / "00001_1e3.qvb") << "x";
        std::ofstream(h.work / "maps" / "00002_1e3.qvb") << "x";
        h.ui.answers = {BoxAnswer::Ok, BoxAnswer::Cancel};
        h.open(h.work / "maps");
        QCOMPARE(h.ui.messages.back().text,
                 QStringLiteral("This folder contains 2 QVB files\nDo you want to convert them to QVY files?"));
        QCOMPARE(h.title(), QStringLiteral("Zoomreel - ") + QString::fromStdString((h.work / "maps").string()));
        QVERIFY(h.enabled(kFolderOpen) && !h.enabled(kFolderClose) && !h.enabled(kColorPalette));
        QVERIFY(!h.window->converting());
        QVERIFY(!std::filesystem::exists(h.work / "zor.fld"));
    }

    // Each folder opened once in the list, the newest last (how many it keeps is the list's own rule); the next
    // run shows them in the File menu, and an item opens the folder it shows.
    void recentFolders() {
        TempDir work;
        std::vector<std::filesystem::path> folders;
        std::vector<std::string> expected;
        for (int i = 0; i < 3; ++i) {
            folders.push_back(work / ("f" + std::to_string(i)));
            expected.push_back(folders.back().string());
            QVERIFY(zoomreel::test::writeTestKeyframes(folders.back(), 1));
        }
        {
            WindowHarness h;
            h.state->workingDirectory = work.path();
            for (int i : {0, 0, 1, 2}) {
                h.open(folders[i]);
                h.ui.answers = {BoxAnswer::Ok};
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
        QCOMPARE(item->text(), QString::fromStdString(folders[2].string()));
        item->trigger();
        QCOMPARE(state.keyframes.folder, folders[2]);
        QCOMPARE(state.keyframes.keyframeCount(), 1);
    }

    void anUnwritableRecentListIsReported() {
        WindowHarness h;
        std::filesystem::create_directory(h.work / "zor.fld");  // a folder where the file should be
        QVERIFY(zoomreel::test::writeTestKeyframes(h.work / "keys", 1));
        h.open(h.work / "keys");
        QCOMPARE(h.ui.messages.size(), std::size_t{1});
        QCOMPARE(h.ui.messages[0].caption, QStringLiteral("ZOR"));
        QVERIFY(h.ui.messages[0].text.startsWith(QStringLiteral("Error opening zor.fld")));
        QCOMPARE(h.state->keyframes.keyframeCount(), 1);  // the folder is open all the same
    }

    void openingReloadsTheVideoParameters() {
        WindowHarness h;
        std::ofstream(h.work / "VFS.qvs") << "640\n360\n25\n100\n1\n12\n1\n2\n3\nLiberation Sans\n";
        std::ofstream(h.work / "VBr.qvs") << "/usr/bin/true";
        QVERIFY(zoomreel::test::writeTestKeyframes(h.work / "keys", 1));
        h.open(h.work / "keys");
        const VideoParameters video = h.state->video();
        QCOMPARE(video.finalWidth, 640);
        QCOMPARE(video.fps, 25);
        QCOMPARE(QString::fromStdString(video.fontName), QStringLiteral("Liberation Sans"));
        QCOMPARE(QString::fromStdString(video.videoBrowser), QStringLiteral("/usr/bin/true"));
    }
};

ZOOMREEL_APP_TEST(KeyframeStripTest)
ZOOMREEL_APP_TEST(MainWindowTest)
ZOOMREEL_APP_TEST(FolderTest)

}  // namespace zoomreel::app::test

#include "main_window_test.moc"
