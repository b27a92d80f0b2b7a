// The conversion, the keyframe check and the movie as the desktop program runs them on their threads, driven
// through the menus.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>

#include "app/app_test.h"
#include "app/dialog_layout.h"
#include "app/window_harness.h"
#include "keyframes/sample_maps.h"
#include "keyframes/sample_zoom.h"
#include "output/movie_probe.h"
#include "platform/worker_pool.h"
#include "render/test_keyframes.h"

namespace zoomreel::app::test {

namespace {

constexpr int kWait = 60000;

bool writeMaps(const std::filesystem::path& folder, int count, int width, int height) {
    WorkerPool pool(2);
    return writeSampleMaps(folder, {count, width, height, 300}, pool).ok;
}

/// Answers Preview Frame Size with entry `row` (n = 40 - row).
std::function<void(QDialog&)> choosePreviewEntry(int row) {
    return [row](QDialog& dialog) {
        control<QListWidget>(dialog, 1001)->setCurrentRow(row);
        control<QPushButton>(dialog, 1)->click();
    };
}

/// Four keyframes of 48 x 28 opened, keyframes 0 to `selectionEnd` selected, frames of 96 x 56 in 2D or 3D.
std::filesystem::path openMovieFolder(WindowHarness& h, int selectionEnd) {
    const auto folder = h.work / "keys";
    if (!zoomreel::test::writeTestKeyframes(folder, 4)) return {};
    h.open(folder);
    VideoParameters video = h.state->video();
    video.finalWidth = 96;
    video.height3D = 56;
    h.state->setVideo(video);
    h.state->keyframes.selectionStart = 0;
    h.state->keyframes.selectionEnd = selectionEnd;
    return folder;
}

/// "Make Video", confirmed, with the codec the dialog offers first.
void makeVideoWithTheFirstCodec(WindowHarness& h) {
    h.ui.answers = {BoxAnswer::Ok};
    h.ui.acceptNext();
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
        const QString path = QString::fromStdString(folder.string());
        QVERIFY(titlesOf(titles).contains(QStringLiteral("Files Conversion QVB -> QVY 0/3")));
        QVERIFY(titlesOf(titles).contains(QStringLiteral("Checking Key Frames 1/2")));
        QVERIFY(titlesOf(titles).contains(QStringLiteral("Files Conversion QVB -> QVY 2/3")));
        QCOMPARE(h.title(), QStringLiteral("Zoomreel - %1 - 3 x [64 / 36]").arg(path));
        QCOMPARE(h.ui.dialogTitles, std::vector<QString>{QStringLiteral("Preview Frame Size")});
        QVERIFY(h.state->preview.block == 2 && h.state->preview.width == 32 && h.state->preview.height == 18);
        QVERIFY(h.state->keyframes.loaded && h.state->keyframes.keyframeCount() == 3);
        QVERIFY(h.menuEnabled(kFileMenu) && h.menuEnabled(kSetupMenu) && h.menuEnabled(kVideoMenu));
        QVERIFY(!h.enabled(kFolderOpen) && h.enabled(kFolderClose));
        {
            std::lock_guard lock(h.state->frameLock);
            QVERIFY(h.state->publishedImage == nullptr && h.state->publishedThumbnail == nullptr);
        }
        QCOMPARE(h.ui.messages.size(), std::size_t{4});  // no error, and the check's findings
        QCOMPARE(h.ui.messages.back().text, QStringLiteral("Checked 3 keyframes: all 2 pairs agree."));
        QCOMPARE(h.ui.messages.back().icon, BoxIcon::Information);
        QVERIFY(h.enabled(kCheckKeyframes));
    }

    void aFailureIsShownAndTheUserCanGoOn() {
        WindowHarness h;
        const auto folder = h.work / "maps";
        const auto other = h.work / "other";
        QVERIFY(writeMaps(folder, 3, 64, 36));
        QVERIFY(writeMaps(other, 3, 32, 20));
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
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
        QVERIFY(std::filesystem::exists(folder / "00002.qvy") && std::filesystem::exists(folder / "00001.qvy"));
        QVERIFY(!std::filesystem::exists(folder / "00000.qvy"));
        // Not stuck: the File menu works, another folder can be opened, and quitting asks nothing.
        QVERIFY(h.menuEnabled(kFileMenu) && h.enabled(kFolderOpen) && !h.enabled(kFolderClose));
        QCOMPARE(h.state->keyframes.keyframeCount(), 0);
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
        QVERIFY(h.enabled(kCheckKeyframes));
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
        QCOMPARE(box.caption, kCaption);
        QCOMPARE(box.icon, BoxIcon::Warning);
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
        QVERIFY(h.state->disagreeingPairs.empty());
        QVERIFY(!h.enabled(kCheckKeyframes));
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
    void makeVideoThroughTheMenu() {
        WindowHarness h;
        const auto folder = openMovieFolder(h, 2);
        QSignalSpy titles(h.window.get(), &QWidget::windowTitleChanged);
        h.ui.answers = {BoxAnswer::Ok};
        h.ui.drive([](QDialog& dialog) {
            auto* codecs = dialog.findChild<QComboBox*>(QStringLiteral("compressor"));
            codecs->setCurrentIndex(codecs->findText(QStringLiteral("MSVC"), Qt::MatchStartsWith));
            dialog.accept();
        });
        h.window->runCommand(kMakeVideo);
        QVERIFY(!h.enabled(kMakeVideo) && h.enabled(kAbortVideo));
        QVERIFY(!h.menuEnabled(kFileMenu) && !h.menuEnabled(kSetupMenu) && h.menuEnabled(kVideoMenu));

        QTRY_VERIFY_WITH_TIMEOUT(h.enabled(kMakeVideo), kWait);
        QVERIFY(!h.enabled(kAbortVideo) && h.menuEnabled(kFileMenu) && h.menuEnabled(kSetupMenu));
        QTRY_COMPARE_WITH_TIMEOUT(h.ui.messages.size(), std::size_t{2}, kWait);
        QCOMPARE(h.ui.messages.back().text, QStringLiteral("Movie is done!"));
        QCOMPARE(h.ui.messages.back().icon, BoxIcon::Warning);
        QCOMPARE(h.ui.dialogTitles, std::vector<QString>{QStringLiteral("Choose Codec")});
        const QString frameTitle = QStringLiteral("Zoomreel - %1 - Frame: ").arg(QString::fromStdString(folder.string()));
        QVERIFY(titlesOf(titles).filter(frameTitle).size() > 0);
        QVERIFY(titlesOf(titles).last().contains(QStringLiteral("film(0-2)001-")));

        const zoomreel::test::DecodedMovie movie = zoomreel::test::decodeMovie(folder / "film(0-2)001.avi");
        QVERIFY(movie.opened && movie.fourCC == "MSVC" && movie.width == 96 && movie.height == 56);
        QCOMPARE(static_cast<int>(movie.frames.size()), h.state->movie.lastOutcome.framesWritten);
        QVERIFY(movie.frames.size() > 30);  // 20 images per keyframe over two keyframes
    }

    void abortAndWriterErrors() {
        WindowHarness h;
        const auto folder = openMovieFolder(h, 3);
        VideoParameters video = h.state->video();
        // "Abort Video" once frames are coming: the movie stops after the frame being made, its file playable.
        video.finalWidth = 320;
        video.height3D = 180;
        h.state->setVideo(video);
        makeVideoWithTheFirstCodec(h);
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
        makeVideoWithTheFirstCodec(h);
        QTRY_COMPARE_WITH_TIMEOUT(h.ui.messages.size(), std::size_t{3}, kWait);
        QCOMPARE(h.ui.messages.back().icon, BoxIcon::Error);
        QVERIFY2(h.ui.messages.back().text.contains(QStringLiteral("No space left on device")),
                 qPrintable(h.ui.messages.back().text));
        QTRY_VERIFY_WITH_TIMEOUT(h.enabled(kMakeVideo), kWait);
    }

    void aStoppedMovieIsContinuedOrMadeAgain() {
        WindowHarness h;
        const auto folder = openMovieFolder(h, 2);
        VideoParameters video = h.state->video();
        video.framesPerMovie = 5;
        h.state->setVideo(video);
        const auto record = folder / movieResumeFileName(0, 2);
        auto frames = [&] {
            std::vector<std::vector<std::uint8_t>> all;
            for (int file = 1; std::filesystem::exists(folder / movieFileName(0, 2, file)); ++file) {
                for (auto& f : zoomreel::test::decodeMovie(folder / movieFileName(0, 2, file)).frames) all.push_back(f);
            }
            return all;
        };
        auto waitForTheEnd = [&] {
            return QTest::qWaitFor([&] { return h.enabled(kMakeVideo) && !h.state->movie.running.load(); }, kWait);
        };
        makeVideoWithTheFirstCodec(h);
        QVERIFY(waitForTheEnd());
        const auto whole = frames();
        QVERIFY(whole.size() > 15 && !std::filesystem::exists(record));

        for (const BoxAnswer answer : {BoxAnswer::Ok, BoxAnswer::Cancel}) {
            // Stopped in its third file or so, as Abort Video does.
            const auto stop = connect(h.window.get(), &QWidget::windowTitleChanged, [&](const QString& title) {
                if (title.contains(QStringLiteral("film(0-2)003-"))) AbortMovie(h.state->movie);
            });
            makeVideoWithTheFirstCodec(h);
            QVERIFY(waitForTheEnd());
            disconnect(stop);
            MovieResume stopped;
            if (!readMovieResume(record, stopped).ok) QSKIP("the movie was done before it was stopped");

            h.ui.messages.clear();
            h.ui.dialogTitles.clear();
            h.ui.answers = {BoxAnswer::Ok, answer};
            h.ui.acceptNext();
            h.window->runCommand(kMakeVideo);
            QVERIFY(waitForTheEnd());
            QTRY_COMPARE_WITH_TIMEOUT(h.ui.messages.size(), std::size_t{3}, kWait);
            QCOMPARE(h.ui.messages[1].text,
                     QString::asprintf("A movie of these key frames was stopped after file %03d.\nContinue it?",
                                       stopped.nextFile - 1));
            QCOMPARE(h.ui.messages[1].icon, BoxIcon::Question);
            QCOMPARE(h.ui.messages[1].buttons, BoxButtons::OkCancel);
            QCOMPARE(h.ui.messages[2].text, QStringLiteral("Movie is done!"));
            // Continued with the stopped movie's codec, or made again from its first frame with a codec chosen.
            QCOMPARE(h.ui.dialogTitles.size(), std::size_t{answer == BoxAnswer::Ok ? 0u : 1u});
            QCOMPARE(h.state->movie.lastOutcome.framesWritten,
                     static_cast<int>(whole.size()) - (answer == BoxAnswer::Ok ? stopped.framesBefore : 0));
            QVERIFY(frames() == whole);
            QVERIFY(!std::filesystem::exists(record));
            h.ui.dialogs.clear();
        }
    }

    void computeOneFrameKeepsItsFrameOnScreen() {
        WindowHarness h;
        const auto folder = openMovieFolder(h, 2);
        h.ui.drive([](QDialog& dialog) {
            control<QLineEdit>(dialog, 1000)->setText(QStringLiteral("1.5"));
            control<QPushButton>(dialog, 1)->click();
        });
        h.window->runCommand(kComputeOneFrame);
        QTRY_VERIFY_WITH_TIMEOUT(h.enabled(kMakeVideo) && !h.state->movie.running.load(), kWait);
        QTest::qWait(50);
        QCOMPARE(h.state->singleFramePosition, 1.5);
        QCOMPARE(h.state->movie.singleFrameTarget.load(), -1.0f);
        QVERIFY(h.state->movie.lastOutcome.lastPosition > 1.5f);
        QVERIFY(h.ui.messages.empty());
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
