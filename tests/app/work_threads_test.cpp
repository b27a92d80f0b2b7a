// The conversion, the keyframe check and the movie as the desktop program runs them on their threads, driven
// through the menus.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

#include "app/app_test.h"
#include "app/dialog_layout.h"
#include "app/layout_check.h"
#include "app/window_harness.h"
#include "keyframes/sample_maps.h"
#include "keyframes/sample_zoom.h"
#include "output/movie_probe.h"
#include "platform/worker_pool.h"
#include "render/test_keyframes.h"

namespace zoomreel::app::test {

namespace {

using std::filesystem::exists;
constexpr int kWait = 60000;

bool writeMaps(const std::filesystem::path& folder, int count, int width, int height) {
    WorkerPool pool(2);
    return writeSampleMaps(folder, {count, width, height, 300}, pool).ok;
}

/// Answers Preview Frame Size with entry `row` (n = 40 - row).
std::function<void(QDialog&)> choosePreviewEntry(int row) {
    return [row](QDialog& dialog) { control<QListWidget>(dialog, 1001)->setCurrentRow(row), press(dialog, 1); };
}

/// Four keyframes of 48 x 28 opened, keyframes 0 to `selectionEnd` selected, frames of width x height in 2D or 3D.
std::filesystem::path openMovieFolder(WindowHarness& h, int selectionEnd, int width = 96, int height = 56,
                                      int framesPerMovie = 1000) {
    if (!h.openKeyframes(4)) return {};
    VideoParameters video = h.state->video();
    video.finalWidth = width;
    video.height3D = height;
    video.framesPerMovie = framesPerMovie;
    h.state->setVideo(video);
    h.state->keyframes.selectionStart = 0;
    h.state->keyframes.selectionEnd = selectionEnd;
    return h.work / "keys";
}

/// Answers Choose Codec with MSVC.
void chooseMsvc(WindowHarness& h) {
    h.ui.drive([](QDialog& dialog) {
        auto* codecs = dialog.findChild<QComboBox*>(QStringLiteral("compressor"));
        codecs->setCurrentIndex(codecs->findText(QStringLiteral("MSVC"), Qt::MatchStartsWith));
        dialog.accept();
    });
}

/// "Make Video", confirmed, in MSVC or in the codec the dialog offers first (the quickest to abort).
void makeVideo(WindowHarness& h, bool firstCodec = false) {
    h.ui.answers = {BoxAnswer::Ok};
    firstCodec ? h.ui.acceptNext() : chooseMsvc(h);
    h.window->runCommand(kMakeVideo);
}

QStringList titlesOf(const QSignalSpy& spy) {
    QStringList titles;
    for (const QList<QVariant>& call : spy) titles << call.at(0).toString();
    return titles;
}

}  // namespace

class ConversionTest : public QObject {
    Q_OBJECT
private slots:
    void convertsThroughTheWindow() {
        WindowHarness h;
        const auto folder = h.work / "maps";
        QVERIFY(writeMaps(folder, 3, 64, 36));
        QSignalSpy titles(h.window.get(), &QWidget::windowTitleChanged);
        h.ui.answers = {BoxAnswer::Ok, BoxAnswer::Ok, BoxAnswer::Cancel};
        h.ui.drive(choosePreviewEntry(38));
        h.open(folder);
        QCOMPARE(h.messageTexts(), (QStringList{"This folder do not contain any QVY files!",
                                                "This folder contains 3 QVB files\nDo you want to convert them to QVY files?"}));
        QVERIFY(h.window->converting());
        QVERIFY(!h.menuEnabled(kFileMenu) && !h.menuEnabled(kSetupMenu) && !h.menuEnabled(kVideoMenu));
        QVERIFY(!h.window->close());  // the maps being converted count as keyframes: the quit question comes
        QCOMPARE(h.ui.messages.back().text, QStringLiteral("Do you want to quit?"));

        // The keyframes are checked at once: the pairs agree.
        QTRY_VERIFY_WITH_TIMEOUT(!h.window->converting() && !h.window->checking(), kWait);
        for (const char* t : {"Files Conversion QVB -> QVY 0/3", "Files Conversion QVB -> QVY 2/3", "Checking Key Frames 1/2"}) {
            QVERIFY2(titlesOf(titles).contains(QLatin1String(t)), t);
        }
        QCOMPARE(h.title(), QStringLiteral("Zoomreel - %1 - 3 x [64 / 36]").arg(QString::fromStdString(folder.string())));
        QCOMPARE(h.ui.dialogTitles, std::vector<QString>{QStringLiteral("Preview Frame Size")});
        QVERIFY(h.state->preview.block == 2 && h.state->preview.width == 32 && h.state->preview.height == 18);
        QVERIFY(h.state->keyframes.loaded && h.state->keyframes.keyframeCount() == 3);
        QVERIFY(h.menuEnabled(kFileMenu) && h.menuEnabled(kSetupMenu) && h.menuEnabled(kVideoMenu));
        QVERIFY(!h.enabled(kFolderOpen) && h.enabled(kFolderClose) && h.enabled(kCheckKeyframes));
        QCOMPARE(h.ui.messages.size(), std::size_t{4});  // no error, and the check's findings
        QCOMPARE(h.ui.messages.back().text, QStringLiteral("Checked 3 keyframes: all 2 pairs agree."));
        QCOMPARE(h.ui.messages.back().icon, BoxIcon::Information);
        std::lock_guard lock(h.state->frameLock);
        QVERIFY(h.state->publishedImage == nullptr && h.state->publishedThumbnail == nullptr);
    }

    void aFailureIsShownAndTheUserCanGoOn() {
        WindowHarness h;
        const auto folder = h.work / "maps";
        const auto other = h.work / "other";
        QVERIFY(writeMaps(folder, 3, 64, 36));
        QVERIFY(writeMaps(other, 3, 32, 20));
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {  // the third map of another size
            if (entry.path().filename().string().rfind("00003", 0) == 0) std::filesystem::remove(entry.path());
        }
        for (const auto& entry : std::filesystem::directory_iterator(other)) {
            if (entry.path().filename().string().rfind("00003", 0) == 0) {
                std::filesystem::copy_file(entry.path(), folder / entry.path().filename());
            }
        }
        h.ui.drive(choosePreviewEntry(38));
        h.open(folder);
        QTRY_VERIFY_WITH_TIMEOUT(!h.window->converting(), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(h.ui.messages.size(), std::size_t{3}, kWait);
        QCOMPARE(h.ui.messages.back().text, QStringLiteral("All QVB files have not same size!\n2 of the 3 keyframes "
                                                           "were written; delete them to convert the folder again."));
        QCOMPARE(h.ui.messages.back().icon, BoxIcon::Error);
        QVERIFY(exists(folder / "00002.qvy") && exists(folder / "00001.qvy") && !exists(folder / "00000.qvy"));
        // Not stuck: the File menu works, another folder can be opened, and quitting asks nothing.
        QVERIFY(h.menuEnabled(kFileMenu) && h.enabled(kFolderOpen) && !h.enabled(kFolderClose));
        QVERIFY(h.state->keyframes.keyframeCount() == 0);
        QVERIFY(h.window->close());
    }
};

/// Six keyframes of 128 x 72 converted from a sample zoom in `folder`, keyframe 3 mirrored when `damaged`.
bool convertedZoom(const std::filesystem::path& folder, bool damaged) {
    const zoomreel::test::SampleZoom zoom(folder, {6, 128, 72, 500});
    KeyframeList list;
    return zoom.written && (!damaged || zoom.edit(3, zoomreel::test::mirrorLeftRight)) && zoom.convert(list);
}

class KeyframeCheckTest : public QObject {
    Q_OBJECT
private slots:
    void findingsInOneBoxAndFramedInTheStrip() {
        WindowHarness h;
        QVERIFY(!h.enabled(kCheckKeyframes));  // no folder
        const auto folder = h.work / "zoom";
        QVERIFY(convertedZoom(folder, true));
        h.open(folder);
        QVERIFY(h.resizeClient(400, 160));  // three keyframes a row
        QSignalSpy titles(h.window.get(), &QWidget::windowTitleChanged);
        h.window->runCommand(kCheckKeyframes);
        QVERIFY(h.window->checking());
        QVERIFY(!h.menuEnabled(kFileMenu) && !h.menuEnabled(kSetupMenu) && !h.menuEnabled(kVideoMenu));
        QTRY_VERIFY_WITH_TIMEOUT(!h.window->checking(), kWait);
        QVERIFY(titlesOf(titles).contains(QStringLiteral("Checking Key Frames 0/5")));
        QCOMPARE(h.title(), QStringLiteral("Zoomreel - %1 - 6 x [128 / 72]").arg(QString::fromStdString(folder.string())));
        QVERIFY(h.menuEnabled(kFileMenu) && h.menuEnabled(kSetupMenu) && h.menuEnabled(kVideoMenu));

        QCOMPARE(h.ui.messages.size(), std::size_t{1});
        const ShownMessage& box = h.ui.messages.back();
        QVERIFY(box.caption == kCaption && box.icon == BoxIcon::Warning);
        const QStringList lines = box.text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines[0].startsWith(QStringLiteral("Keyframes 2 and 3: ")), qPrintable(box.text));
        QVERIFY2(lines[1].startsWith(QStringLiteral("Keyframes 3 and 4: ")), qPrintable(box.text));
        QCOMPARE(lines[3], QStringLiteral("Checked 6 keyframes: 2 of the 5 pairs disagree."));
        QCOMPARE(h.state->disagreeingPairs, (std::vector<int>{2, 3}));

        // Keyframes 2, 3 and 4 framed in orange, inside the selection's red frame on keyframe 2.
        h.state->keyframes.selectionStart = 2;
        const QImage shot = h.window->strip()->viewport()->grab().toImage();
        const QColor orange(255, 160, 0);
        QCOMPARE(shot.pixelColor(260 + 1, 40), QColor(255, 0, 0));
        QCOMPARE(shot.pixelColor(260 + 5, 40), orange);
        QCOMPARE(shot.pixelColor(0 + 5, 74 + 40), orange);    // keyframe 3, second row
        QCOMPARE(shot.pixelColor(130 + 5, 74 + 40), orange);  // keyframe 4
        QVERIFY(shot.pixelColor(130 + 5, 40) != orange);      // keyframe 1
        QVERIFY(shot.pixelColor(260 + 5, 74 + 40) != orange); // keyframe 5

        // Until the folder is closed.
        h.ui.answers = {BoxAnswer::Ok};
        h.window->runCommand(kFolderClose);
        QVERIFY(h.state->disagreeingPairs.empty() && !h.enabled(kCheckKeyframes));
    }

    void closingTheWindowStopsTheCheck() {
        WindowHarness h;
        QVERIFY(convertedZoom(h.work / "zoom", true));
        h.open(h.work / "zoom");
        h.window->runCommand(kCheckKeyframes);
        h.window->shutDown();
        QVERIFY(!h.window->checking());
        QTest::qWait(50);
        QVERIFY(h.ui.messages.empty());
    }
};

class MovieTest : public QObject {
    Q_OBJECT
private slots:
    void abortAndWriterErrors() {
        WindowHarness h;
        // "Abort Video" once frames are coming: the movie stops after the frame being made, its file playable.
        const auto folder = openMovieFolder(h, 3, 320, 180);
        makeVideo(h, true);
        QTRY_VERIFY_WITH_TIMEOUT(h.title().contains(QStringLiteral("Frame:")), kWait);
        h.window->runCommand(kAbortVideo);
        QTRY_VERIFY_WITH_TIMEOUT(h.enabled(kMakeVideo) && !h.state->movie.running.load(), kWait);
        QTest::qWait(50);
        QCOMPARE(h.ui.messages.size(), std::size_t{1});  // the confirmation only: no "Movie is done!"
        const MovieOutcome& aborted = h.state->movie.lastOutcome;
        QVERIFY(aborted.aborted && aborted.framesWritten >= 1 && aborted.framesWritten < 50);
        QCOMPARE(static_cast<int>(zoomreel::test::decodeMovie(folder / "film(0-3)001.avi").frames.size()),
                 aborted.framesWritten);

        // A movie file that cannot be written (the device is full): the failure is told, not a "Movie is done!".
        std::filesystem::create_symlink("/dev/full", folder / "film(0-3)001.avi.part");
        makeVideo(h, true);
        QTRY_COMPARE_WITH_TIMEOUT(h.ui.messages.size(), std::size_t{3}, kWait);
        QVERIFY2(h.ui.messages.back().icon == BoxIcon::Error &&
                     h.ui.messages.back().text.contains(QStringLiteral("No space left on device")),
                 qPrintable(h.ui.messages.back().text));
        QTRY_VERIFY_WITH_TIMEOUT(h.enabled(kMakeVideo), kWait);
    }

    // A movie through the menu: the menus while it runs, its titles, its files. Then stopped in its third file or
    // so, as Abort Video does, and continued or made again from its first frame: the frames come out the same.
    void makeVideoThenContinueOrRemakeAStoppedOne() {
        WindowHarness h;
        const auto folder = openMovieFolder(h, 2, 96, 56, 5);
        const auto record = folder / movieResumeFileName(0, 2);
        auto frames = [&] {
            std::vector<std::vector<std::uint8_t>> all;
            for (int file = 1; exists(folder / movieFileName(0, 2, file)); ++file) {
                for (auto& f : zoomreel::test::decodeMovie(folder / movieFileName(0, 2, file)).frames) all.push_back(f);
            }
            return all;
        };
        QSignalSpy titles(h.window.get(), &QWidget::windowTitleChanged);
        makeVideo(h);
        QVERIFY(!h.enabled(kMakeVideo) && h.enabled(kAbortVideo));
        QVERIFY(!h.menuEnabled(kFileMenu) && !h.menuEnabled(kSetupMenu) && h.menuEnabled(kVideoMenu));
        QTRY_VERIFY_WITH_TIMEOUT(h.enabled(kMakeVideo) && !h.state->movie.running.load(), kWait);
        QVERIFY(!h.enabled(kAbortVideo) && h.menuEnabled(kFileMenu) && h.menuEnabled(kSetupMenu));
        QTRY_COMPARE_WITH_TIMEOUT(h.ui.messages.size(), std::size_t{2}, kWait);
        QVERIFY(h.ui.messages.back().text == QStringLiteral("Movie is done!") && h.ui.messages.back().icon == BoxIcon::Warning);
        QCOMPARE(h.ui.dialogTitles, std::vector<QString>{QStringLiteral("Choose Codec")});
        const QString path = QString::fromStdString(folder.string());
        QVERIFY(titlesOf(titles).filter(QStringLiteral("Zoomreel - %1 - Frame: ").arg(path)).size() > 0);
        QVERIFY(titlesOf(titles).filter(QStringLiteral("film(0-2)002-")).size() > 0);
        const zoomreel::test::DecodedMovie first = zoomreel::test::decodeMovie(folder / "film(0-2)001.avi");
        QVERIFY(first.opened && first.fourCC == "MSVC" && first.width == 96 && first.height == 56);
        const auto whole = frames();
        QCOMPARE(static_cast<int>(whole.size()), h.state->movie.lastOutcome.framesWritten);
        QVERIFY(whole.size() > 30 && !exists(record));  // 20 images per keyframe over two

        for (const BoxAnswer answer : {BoxAnswer::Ok, BoxAnswer::Cancel}) {
            const auto stop = connect(h.window.get(), &QWidget::windowTitleChanged, [&](const QString& title) {
                if (title.contains(QStringLiteral("film(0-2)003-"))) AbortMovie(h.state->movie);
            });
            makeVideo(h);
            QTRY_VERIFY_WITH_TIMEOUT(h.enabled(kMakeVideo) && !h.state->movie.running.load(), kWait);
            disconnect(stop);
            MovieResume stopped;
            if (!readMovieResume(record, stopped).ok) QSKIP("the movie was done before it was stopped");

            h.ui.messages.clear(), h.ui.dialogTitles.clear();
            h.ui.answers = {BoxAnswer::Ok, answer};
            chooseMsvc(h);
            h.window->runCommand(kMakeVideo);
            QTRY_VERIFY_WITH_TIMEOUT(h.enabled(kMakeVideo) && !h.state->movie.running.load(), kWait);
            QTRY_COMPARE_WITH_TIMEOUT(h.ui.messages.size(), std::size_t{3}, kWait);
            QCOMPARE(h.ui.messages[1].text,
                     QString::asprintf("A movie of these key frames was stopped after file %03d.\nContinue it?",
                                       stopped.nextFile - 1));
            QVERIFY(h.ui.messages[1].icon == BoxIcon::Question && h.ui.messages[1].buttons == BoxButtons::OkCancel);
            QCOMPARE(h.ui.messages[2].text, QStringLiteral("Movie is done!"));
            // Continued with the stopped movie's codec, or made again from its first frame with a codec chosen.
            QCOMPARE(h.ui.dialogTitles.size(), std::size_t{answer == BoxAnswer::Ok ? 0u : 1u});
            QCOMPARE(h.state->movie.lastOutcome.framesWritten,
                     static_cast<int>(whole.size()) - (answer == BoxAnswer::Ok ? stopped.framesBefore : 0));
            QVERIFY(frames() == whole && !exists(record));
            h.ui.dialogs.clear();
        }
    }

    void computeOneFrameKeepsItsFrameOnScreen() {
        WindowHarness h;
        const auto folder = openMovieFolder(h, 2);
        h.ui.drive([](QDialog& dialog) { type(dialog, 1000, "1.5"), press(dialog, 1); });
        h.window->runCommand(kComputeOneFrame);
        QTRY_VERIFY_WITH_TIMEOUT(h.enabled(kMakeVideo) && !h.state->movie.running.load(), kWait);
        QTest::qWait(50);
        QVERIFY(h.state->singleFramePosition == 1.5 && h.state->movie.singleFrameTarget.load() == -1.0f);
        QVERIFY(h.state->movie.lastOutcome.lastPosition > 1.5f && h.ui.messages.empty());
        {
            std::lock_guard lock(h.state->frameLock);
            QVERIFY(h.state->heldFrame.width() == 96 && h.state->heldFrame.height() == 56);
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            QVERIFY(entry.path().extension() != ".avi");
        }
        // A click on the strip brings the keyframes back.
        QTest::mouseClick(h.window->strip()->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        std::lock_guard lock(h.state->frameLock);
        QVERIFY(h.state->heldFrame.empty());
    }
};

ZOOMREEL_APP_TEST(ConversionTest)
ZOOMREEL_APP_TEST(KeyframeCheckTest)
ZOOMREEL_APP_TEST(MovieTest)

}  // namespace zoomreel::app::test

#include "work_threads_test.moc"
