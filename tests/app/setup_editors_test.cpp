// The speed and colour editors driven through their real controls, with mouse events at pixels whose keyframe
// position and value follow from the graph's mapping, and what they write checked byte for byte; their preview
// window and preview video.
#include <QApplication>
#include <QDoubleSpinBox>
#include <QMouseEvent>
#include <QScreen>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "app/app_test.h"
#include "app/editor_fixture.h"
#include "editors/dialog_fields.h"
#include "editors/preview_host.h"
#include "editors/preview_window.h"
#include "editors/setup_editors.h"
#include "output/beat_timeline.h"
#include "output/movie_probe.h"
#include "settings/render_settings.h"

namespace zoomreel::app::test {
namespace {

using zoomreel::test::ByteWriter;

/// The dialog pixel over keyframe selectionStart + scroll + j, at height `my`: P comes out whole there.
QPoint at(const CurveEditor& editor, int j, int my) {
    const GraphView& v = editor.view();
    return {v.rect.left + 4 + 4 * v.zoom * j, my};
}
/// Rows where the value is known: the bottom of the speed axis (its base, a tenth of it with x10), the middle of
/// the linear axes (t = 0).
int bottomRow(const CurveEditor& editor) { return editor.view().rect.bottom - 2; }
int middleRow(const CurveEditor& editor) {
    const GraphRect& r = editor.view().rect;
    return r.bottom - (r.height() - 4) / 2 - 2;
}

void mouse(CurveEditor& editor, QPoint where, Qt::MouseButton button = Qt::LeftButton,
           Qt::KeyboardModifiers modifiers = {}) {
    QWidget* graph = editor.graph();
    QTest::mousePress(graph, button, modifiers, where - graph->pos());
    QTest::mouseRelease(graph, button, modifiers, where - graph->pos());
}

/// The mouse moved over the graph to `where`, in the dialog's coordinates.
void move(CurveEditor& editor, QPoint where, Qt::MouseButtons buttons = Qt::NoButton,
          Qt::KeyboardModifiers modifiers = {}) {
    QWidget* graph = editor.graph();
    const QPoint local = where - graph->pos();
    QMouseEvent event(QEvent::MouseMove, local, graph->mapToGlobal(local), Qt::NoButton, buttons, modifiers);
    QApplication::sendEvent(graph, &event);
}

void drag(CurveEditor& editor, QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* graph = editor.graph();
    QTest::mousePress(graph, Qt::LeftButton, modifiers, from - graph->pos());
    move(editor, to, Qt::LeftButton, modifiers);
    QTest::mouseRelease(graph, Qt::LeftButton, modifiers, to - graph->pos());
}

const char* const kColourFiles[] = {"colordiv.qvs", "coloradd.qvs", "colorrot.qvs", "SubIM.qvs"};
bool noColourFile(const EditorFixture& f) {
    return std::none_of(std::begin(kColourFiles), std::end(kColourFiles),
                        [&](const char* name) { return std::filesystem::exists(f.file(name)); });
}

}  // namespace

class SetupEditorsTest : public QObject {
    Q_OBJECT

private slots:
    // No "speed.qvs": one point of 25, shown with x10 at ln(250 / 40) / 5 of the height above the base line. Then
    // insert, drag with the 0.1 clamp, deletes by hit test, copy last value, undo and redo, the readout, and Save
    // writing exactly "speed.qvs".
    void speedEditorShapesAndSavesTheSpeedCurve() {
        EditorFixture f;
        f.run(kSpeedSetup, [&](CurveEditor& e) {
            QCOMPARE(text(e, 1023), QStringLiteral("Speed Graph (Images number / Key Frame)"));
            QVERIFY(e.source().current().speed.points == (std::vector<KeyPoint>{{0, 25}}));
            const QImage graph = e.graph()->grab().toImage();
            const int h = e.view().rect.height();
            const int row = 2 + h - 6 - static_cast<int>(std::log(250.0 / 40) * (h - 4) / 5);  // 2: the border
            QCOMPARE(graph.pixelColor(graph.width() / 2, row), QColor(120, 120, 120));

            const int low = bottomRow(e);  // 4 images per keyframe with x10
            mouse(e, at(e, 3, low), Qt::LeftButton, Qt::ShiftModifier);
            mouse(e, at(e, 6, low), Qt::LeftButton, Qt::ShiftModifier);
            drag(e, at(e, 3, low), at(e, 8, low));  // past its right neighbour: stops 0.1 before it
            mouse(e, at(e, 6, low) + QPoint(3, 0), Qt::LeftButton, Qt::ControlModifier);  // 0.075 away: missed
            mouse(e, at(e, 7, low), Qt::RightButton, Qt::ShiftModifier);  // copies 7.9's value
            QVERIFY(e.source().current().speed.points ==
                    (std::vector<KeyPoint>{{0, 25}, {7.9f, 4}, {8, 4}, {9, 4}}));
            mouse(e, at(e, 6, low), Qt::LeftButton, Qt::ControlModifier);  // 8 goes
            QCOMPARE(e.source().current().speed.count(), 3);
            e.undo(), e.undo(), e.redo();
            QVERIFY(e.source().current().speed.points == (std::vector<KeyPoint>{{0, 25}, {7.9f, 4}, {8, 4}, {9, 4}}));

            move(e, at(e, 2, low));
            QVERIFY(control<QLabel>(e, 1014)->isVisible() && text(e, 1014) == QStringLiteral(" 4.00,  4.000"));
            move(e, QPoint(e.view().rect.left, low));  // on the graph's left edge: outside its rectangle
            QVERIFY(!control<QLabel>(e, 1014)->isVisible());

            control<QSlider>(e, 1013)->setValue(21);  // a short selection at the largest zoom: nothing to scroll
            QVERIFY(control<QScrollBar>(e, 1012)->maximum() == 0 && e.view().scroll == 0);
            press(e, kSaveButton);
        });
        QCOMPARE(zoomreel::test::readBytes(f.file("speed.qvs")), curveBytes({{0, 25}, {7.9f, 4}, {8, 4}, {9, 4}}));
        QVERIFY(noColourFile(f));
    }

    // The duration readout: one point of 10.25 over 11 keyframes is 102 frames, 00:03.39 at 30 per second. A
    // curve keeps its last point.
    void speedEditorShowsTheDurationAndKeepsAPoint() {
        EditorFixture f(11, 0, 10);
        QVERIFY(saveCurve(f.file("speed.qvs"), {{{0, 10.25f}}}).ok);
        f.run(kSpeedSetup, [&](CurveEditor& e) {
            move(e, at(e, 10, bottomRow(e)) + QPoint(20, 0));
            QCOMPARE(text(e, 1024), QStringLiteral("00:03.39 / 00:03.39"));
            const QPoint onThePoint = at(e, 0, e.view().rect.top + 2 + e.view().screenY(10.25f));
            QVERIFY(e.view().hitPoint(e.source().current().speed, 0, e.view().valueAt(onThePoint.y())) == 0);
            mouse(e, onThePoint, Qt::LeftButton, Qt::ControlModifier);
            QCOMPARE(e.source().current().speed.count(), 1);
            press(e, kCancelButton);
        });
    }

    // The 3D dialog's evolution buttons: without a selection a warning; with one each opens the speed editor on its
    // curve (caption, graph title, file, no preview video), the request cleared after and what was typed in the 3D
    // dialog kept. Without a folder the 3D values stay in memory.
    void evolutionButtonsEditTheirCurves() {
        EditorFixture f;
        f.list.selectionEnd = -1;
        f.run<QDialog>(k3D, [&](QDialog& d) { press(d, 1054); });
        QCOMPARE(f.h.ui.messages.back().text, kSelectKeyframesText);
        QCOMPARE(f.h.ui.dialogTitles, std::vector<QString>{"3D"});
        f.list.selectionEnd = kEnd;
        const struct {
            int button;
            const char* caption;
            const char* title;
            const char* file;
        } modes[] = {{1054, "Z Scale evolution", "Z Scale relative to base", "EvEchZ3D.qvs"},
                     {1055, "Maximum Iteration evolution", "Max Iter. relative to base", "EvMaxIter3D.qvs"},
                     {1056, "Vertical Shift evolution", "Vertical Shift relative to base", "EvVertDec3D.qvs"}};
        f.run<QDialog>(k3D, [&](QDialog& d) {
            type(d, 1049, QStringLiteral("80"));
            for (const auto& mode : modes) {
                f.h.ui.drive([&](QDialog& dialog) {
                    auto& e = dynamic_cast<CurveEditor&>(dialog);
                    QCOMPARE(e.windowTitle(), QString::fromLatin1(mode.caption));
                    QCOMPARE(text(e, 1023), QString::fromLatin1(mode.title));
                    QVERIFY(!control<QPushButton>(e, kPreviewButton)->isEnabled());
                    mouse(e, at(e, 1, bottomRow(e)), Qt::LeftButton, Qt::ShiftModifier);  // the base 10, x10 on
                    press(e, kSaveButton);
                });
                press(d, mode.button);
                QCOMPARE(zoomreel::test::readBytes(f.file(mode.file)), curveBytes({{0, 1}, {kStart + 1, 1}}));
                QVERIFY(d.isVisible() && text(d, 1049) == QStringLiteral("80"));
            }
            QCOMPARE(f.h.state->zScaleEvolutionRequest + f.h.state->maxIterEvolutionRequest +
                         f.h.state->vertShiftEvolutionRequest, 0);
            press(d, 1);
        });
        QCOMPARE(f.h.state->projection.zScale, 80.0);
        QVERIFY(!std::filesystem::exists(f.file("speed.qvs")));

        WindowHarness noFolder;
        noFolder.ui.drive([](QDialog& d) { type(d, 1049, "60"), press(d, 1); });
        noFolder.window->runCommand(k3D);
        QCOMPARE(noFolder.state->projection.zScale, 60.0);
    }

    // The colour editor: "Iteration division" first with keyframe 0's divisor, the offset and x10 views, undo
    // across modes, the subtraction applied at once, Save writing the three curves and "SubIM.qvs"; the mode, x10
    // and offset kept for the next opening, whose Cancel writes nothing.
    void colorEditorShapesAndSavesTheColourCurves() {
        EditorFixture f;
        f.run(kColorSetup, [&](CurveEditor& e) {
            QVERIFY(checked(e, 1016) && control<QScrollBar>(e, 1022)->isHidden());
            QVERIFY(e.source().current().colorDivisor.points == (std::vector<KeyPoint>{{0, 1}}));
            press(e, 1017);
            QVERIFY(!control<QScrollBar>(e, 1022)->isHidden());
            control<QScrollBar>(e, 1022)->setValue(-5);  // the view spans 0 to 10: the middle is 5
            mouse(e, at(e, 2, middleRow(e)), Qt::LeftButton, Qt::ShiftModifier);
            press(e, 1021);
            press(e, 1018);  // x10
            mouse(e, at(e, 4, middleRow(e) - 100), Qt::LeftButton, Qt::ShiftModifier);
            const float rotation = 100.0f / static_cast<float>(e.view().rect.height() - 4) / 10.0f;
            QVERIFY(e.source().current().colorRotate.points == (std::vector<KeyPoint>{{0, 0}, {kStart + 4, rotation}}));
            e.undo(), e.undo();  // the offset curve's point: its mode comes back
            QVERIFY(checked(e, 1017) && e.source().current().colorAdd.count() == 1);
            e.redo();
            press(e, 1019);
            QVERIFY(f.h.state->subtractMinimum.subtract == 1 && e.source().current().subtractMinimum);
            type(e, 1020, QStringLiteral("12 frames"));
            press(e, kSaveButton);
        });
        QCOMPARE(zoomreel::test::readBytes(f.file("colordiv.qvs")), curveBytes({{0, 1}}));
        QCOMPARE(zoomreel::test::readBytes(f.file("coloradd.qvs")), curveBytes({{0, 0}, {kStart + 2, 5}}));
        QCOMPARE(zoomreel::test::readBytes(f.file("colorrot.qvs")), curveBytes({{0, 0}}));
        QCOMPARE(zoomreel::test::readBytes(f.file("SubIM.qvs")), ByteWriter().i32(1).i32(12).bytes());

        for (const char* name : kColourFiles) std::filesystem::remove(f.file(name));
        f.run(kColorSetup, [&](CurveEditor& e) {
            QVERIFY(checked(e, 1017) && checked(e, 1018) && control<QScrollBar>(e, 1022)->value() == -5);
            mouse(e, at(e, 3, middleRow(e)), Qt::LeftButton, Qt::ShiftModifier);
            QTest::keyClick(&e, Qt::Key_Escape);
        });
        QVERIFY(noColourFile(f));
    }

    // "Suggest" in both editors: the speed asks for the duration with today's shown, and replaces the points inside
    // the selection as one undo step; the divisor keeps its value at the selection's start. A duration of zero is
    // refused with one line and changes nothing.
    void suggestReplacesTheCurveInsideTheSelection() {
        EditorFixture f;
        auto answerDuration = [&](const QString& typed, QString* shown) {
            f.h.ui.drive([=](QDialog& d) {
                if (shown) *shown = text(d, 1000);
                type(d, 1000, typed);
                QTest::keyClick(control<QLineEdit>(d, 1000), Qt::Key_Return);
            });
        };
        f.run(kSpeedSetup, [&](CurveEditor& e) {
            const KeyPointCurve today = e.source().current().speed;
            QString shown;
            answerDuration(QStringLiteral("00:00"), &shown);
            press(e, 1025);
            QVERIFY(f.h.ui.messages.size() == 1 && !f.h.ui.messages.back().text.contains('\n'));
            QVERIFY(e.source().current().speed.points == today.points);
            QCOMPARE(shown, durationText(countSpeedFrames(today, 12, kStart, kEnd).total, f.h.state->video().fps));
            answerDuration(QStringLiteral("00:12"), nullptr);
            press(e, 1025);
            const KeyPointCurve& suggested = e.source().current().speed;
            QCOMPARE(countSpeedFrames(suggested, 12, kStart, kEnd).total, 12 * f.h.state->video().fps);
            QVERIFY(suggested.points.front() == today.points.front());
            e.undo();
            QVERIFY(e.source().current().speed.points == today.points);
            e.reject();
        });
        f.run(kColorSetup, [&](CurveEditor& e) {
            press(e, 1025);
            const KeyPointCurve& divisor = e.source().current().colorDivisor;
            QVERIFY(divisor.count() >= 2 && evaluateLog(divisor, static_cast<float>(kStart)) == 1.0f);
            e.reject();
        });
    }

    // The beats of a 120 BPM click track as marks where the movie reaches them, redrawn with the speed; a drag
    // snapping onto the mark within 6 pixels unless Alt is held, one undo step each; "Fit to beats" putting each
    // keyframe on every second beat, "Color pulse" one rotation point per beat; without a soundtrack, a message.
    void beatMarksSnappingAndFitting() {
        EditorFixture f;
        f.run(kColorSetup, [&](CurveEditor& e) {
            QVERIFY(e.beatMarks().empty());
            press(e, 1026);
            QVERIFY(f.h.ui.messages.back().text.contains(QStringLiteral("no soundtrack")));
            e.reject();
        });
        VideoParameters video = f.h.state->video();
        video.soundtrack = (f.h.work / "click.wav").string();
        zoomreel::test::writeWav(video.soundtrack, 44100, 1, zoomreel::test::toPcm(zoomreel::test::beatTrack(44100, 120, 30, 0, false)));
        f.h.state->setVideo(video);
        const WalkLimits walk{kStart, kEnd, 12, false};
        f.run(kColorSetup, [&](CurveEditor& e) {
            checkLayoutFits(e);
            const std::vector<double> marks = e.beatMarks();
            QVERIFY(marks.size() > 10);
            // Where the movie, at its 20 images per keyframe without "speed.qvs", reaches beat 1.
            QVERIFY(std::abs(marks[1] - BeatTimeline({{{0, kMovieSpeedDefault}}}, walk, video.fps).positionAt(0.5)) < 0.01);
            const int low = bottomRow(e);
            mouse(e, at(e, 1, low), Qt::LeftButton, Qt::ShiftModifier);
            const int index = 1;  // after the point at 0
            const auto markX = [&](double m) { return e.view().rect.left + 2 + e.view().screenX(float(m)); };
            for (const auto modifier : {Qt::NoModifier, Qt::AltModifier}) {
                const QPoint from(markX(e.source().current().colorDivisor.points[index].x), low), to(markX(marks[6]) + 5, low);
                drag(e, from, to, modifier);
                QCOMPARE(e.source().current().colorDivisor.points[index].x,
                         modifier == Qt::NoModifier ? float(marks[6]) : e.view().positionAt(to.x()));
            }
            e.undo();
            QCOMPARE(e.source().current().colorDivisor.points[index].x, float(marks[6]));
            e.reject();
        });
        f.run(kSpeedSetup, [&](CurveEditor& e) {
            const std::vector<double> before = e.beatMarks();
            QString shown;
            f.h.ui.drive([&](QDialog& d) {
                control<QSpinBox>(d, 1002)->setValue(2);
                shown = text(d, 1003);
                QTest::keyClick(control<QSpinBox>(d, 1002), Qt::Key_Return);
            });
            press(e, 1026);
            QVERIFY2(shown.contains(QStringLiteral("(240 frames)")), qPrintable(shown));  // 16 beats of 15 frames
            const BeatTimeline timeline(e.source().current().speed, walk, video.fps);
            for (int k = kStart + 1; k <= kEnd; ++k) QCOMPARE(timeline.arrivalFrame(float(k)), 30 * (k - kStart));
            QVERIFY(std::abs(e.beatMarks()[4] - (kStart + 2)) < 0.1);
            e.undo();  // one step
            QVERIFY(e.beatMarks() == before);
            e.reject();
        });
        f.run(kColorSetup, [&](CurveEditor& e) {
            f.h.ui.drive([&](QDialog& d) {
                control<QDoubleSpinBox>(d, 1002)->setValue(0.2), QTest::keyClick(control<QDoubleSpinBox>(d, 1002), Qt::Key_Return);
            });
            press(e, 1026);
            // Beside the point at 0, outside the selection, which stays.
            QCOMPARE(e.source().current().colorRotate.count(), static_cast<int>(e.beatMarks().size()) + 1);
            e.reject();
        });
    }

    // The preview window opens beside the editor, and each frame reaches it through the interface thread with its
    // position in the title, at the preview map's size.
    void framesReachTheWindowBesideTheEditor() {
        EditorFixture f;
        f.run(kSpeedSetup, [&](CurveEditor& e) {
            PreviewHost& host = *e.preview();
            QTRY_VERIFY(host.window() != nullptr && host.window()->isVisible());  // opened once the editor shows
            const QPoint at = host.window()->pos();  // beside the editor, or within the screen over its right edge
            QVERIFY(at.y() == e.frameGeometry().y() && (at.x() == e.frameGeometry().right() + 1 ||
                                                         at.x() + host.window()->width() <= e.screen()->geometry().right() + 1));
            host.requestPosition(5.5f);
            QTRY_COMPARE(host.window()->windowTitle(), QStringLiteral("Preview 5.50"));
            QCOMPARE(host.window()->size(), QSize(20, 12));
            PreviewRenderer renderer;
            QVERIFY(renderFramePreview(renderer, f.list, e.source().copy(), 5.5f).ok);
            QCOMPARE(host.window()->frame(), imageOf(renderer.frame));
            e.reject();
        });
    }

    // "Preview": without a video browser only the message; with one, "Abort" and Save and Cancel disabled while the
    // video is made, the codec asked for, then everything back, the frame preview running again and the browser
    // started on "preview.avi".
    void previewButtonMakesTheVideoAndRestoresTheEditor() {
        EditorFixture f(4, 0, 3);
        WindowHarness& h = f.h;
        const std::filesystem::path heard = h.work / "heard.txt";
        const std::filesystem::path player = h.work / "player";
        std::ofstream(player) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << heard.string() << ".part' && mv '"
                              << heard.string() << ".part' '" << heard.string() << "'\n";
        std::filesystem::permissions(player, std::filesystem::perms::owner_all);
        f.run(kSpeedSetup, [&](CurveEditor& e) {
            PreviewHost& host = *e.preview();
            auto* button = control<QPushButton>(e, kPreviewButton);
            const auto saveAndCancel = [&] {
                return control<QPushButton>(e, kSaveButton)->isEnabled() && control<QPushButton>(e, kCancelButton)->isEnabled();
            };
            press(e, kPreviewButton);
            QCOMPARE(h.messageTexts(), QStringList{"You must define a Video Browser\nUse menu Video->Video parameters..."});
            QCOMPARE(h.ui.messages.back().icon, BoxIcon::Information);
            QVERIFY(host.framePreview().running());

            VideoParameters video = h.state->video();
            video.videoBrowser = player.string();
            h.state->setVideo(video);
            bool askedWhileRunning = false;
            h.ui.dialogs.push_back([&](QDialog& dialog) {
                askedWhileRunning = button->text() == QStringLiteral("Abort") && !saveAndCancel();
                return dialog.windowTitle() == QStringLiteral("Choose Codec") ? int(QDialog::Accepted) : int(QDialog::Rejected);
            });
            press(e, kPreviewButton);
            QVERIFY(!host.framePreview().running());
            QTRY_VERIFY_WITH_TIMEOUT(button->text() == QStringLiteral("Preview"), 10000);
            QVERIFY(askedWhileRunning && saveAndCancel() && host.framePreview().running());
            QVERIFY(std::filesystem::file_size(h.work / "preview.avi") > 0);
            QTRY_VERIFY(std::filesystem::exists(heard));
            const std::vector<std::uint8_t> said = zoomreel::test::readBytes(heard);
            QCOMPARE(std::string(said.begin(), said.end()), (h.work / "preview.avi").string());
            QCOMPARE(h.ui.messages.size(), std::size_t{1});
            e.reject();
        });
    }
};

}  // namespace zoomreel::app::test

using zoomreel::app::test::SetupEditorsTest;
ZOOMREEL_APP_TEST(SetupEditorsTest)
#include "setup_editors_test.moc"
