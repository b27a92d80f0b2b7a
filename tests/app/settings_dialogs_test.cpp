// The palette editor, the Relief and 3D dialogs and the Accelerate dialog, driven through their real controls from
// the main window's menu, and what they write checked byte for byte.
#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>

#include <cstring>
#include <numbers>

#include "app/app_test.h"
#include "app/editor_fixture.h"
#include "editors/palette_editor.h"
#include "settings/palette.h"
#include "settings/render_settings.h"

namespace zoomreel::app::test {
namespace {

using zoomreel::test::ByteWriter;
using zoomreel::test::readBytes;

const QColor kGrey(120, 120, 120);


/// A mouse event over palette position `a` of the band, halfway down it.
void mouse(PaletteEditorDialog& e, QEvent::Type type, int a, Qt::MouseButton button = Qt::LeftButton,
           Qt::KeyboardModifiers modifiers = {}) {
    QWidget* band = e.band();
    const QPoint at(2 + (a * (band->width() - 4) + kColorTableSize - 1) / kColorTableSize, band->height() / 2);
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, at, band->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : button, held,
                      modifiers);
    QApplication::sendEvent(band, &event);
}
void click(PaletteEditorDialog& e, int a, Qt::KeyboardModifiers modifiers = {}, Qt::MouseButton button = Qt::LeftButton) {
    mouse(e, QEvent::MouseButtonPress, a, button, modifiers);
    mouse(e, QEvent::MouseButtonRelease, a, button, modifiers);
}
void drag(PaletteEditorDialog& e, int from, std::initializer_list<int> via) {
    mouse(e, QEvent::MouseButtonPress, from);
    for (int a : via) mouse(e, QEvent::MouseMove, a);
    mouse(e, QEvent::MouseButtonRelease, *(via.end() - 1));
}
std::vector<int> positions(const Palette& palette) {
    std::vector<int> at;
    for (const ColorPoint& p : palette.points) at.push_back(p.position);
    return at;
}

}  // namespace

class SettingsDialogsTest : public QObject {
    Q_OBJECT

private slots:
    // Every dialog of the menus: its title, nothing clipped or overlapping, Return for button 1, Escape for 2.
    void dialogsFitAndAnswerTheirKeys_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("returnToo");  // false where Return would start work the test does not wait for
        QTest::newRow("palette") << int(kColorPalette) << "Color palette" << true;
        QTest::newRow("relief") << int(kRelief) << "Relief" << true;
        QTest::newRow("3D") << int(k3D) << "3D" << true;
        QTest::newRow("accelerate") << int(kAccelerate) << "Accelerate or deccelerate the movie" << true;
        QTest::newRow("video parameters") << int(kVideoParameters) << "Video Parameters" << true;
        QTest::newRow("speed") << int(kSpeedSetup) << "Speed Setup" << false;
        QTest::newRow("colour") << int(kColorSetup) << "Color Setup" << false;
        QTest::newRow("about") << int(kAbout) << "About ZOR3D" << false;
    }
    void dialogsFitAndAnswerTheirKeys() {
        QFETCH(int, command);
        QFETCH(QString, title);
        QFETCH(bool, returnToo);
        for (const auto& [key, result] : {std::pair{Qt::Key_Escape, 2}, std::pair{Qt::Key_Return, 1}}) {
            if (key == Qt::Key_Return && !returnToo) continue;
            EditorFixture f;
            f.run<QDialog>(command, [&](QDialog& dialog) {
                QCOMPARE(dialog.windowTitle(), title);
                checkLayoutFits(dialog);
                QTest::keyClick(dialog.focusWidget() ? dialog.focusWidget() : &dialog, key);
                QCOMPARE(dialog.result(), result);
            });
        }
    }

    // A save that fails says which file and leaves the dialog open.
    void aFailedSaveIsToldAndKeepsTheDialogOpen_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("inFolder");  // beside the keyframes, or in the working directory
        QTest::newRow("colour curves") << int(kColorSetup) << "colordiv.qvs" << true;
        QTest::newRow("palette") << int(kColorPalette) << "palette.qvs" << true;
        QTest::newRow("video parameters") << int(kVideoParameters) << "VFS.qvs" << false;
    }
    void aFailedSaveIsToldAndKeepsTheDialogOpen() {
        QFETCH(int, command);
        QFETCH(QString, file);
        QFETCH(bool, inFolder);
        EditorFixture f;
        const std::string name = file.toStdString();
        std::filesystem::create_directory(inFolder ? f.file(name.c_str()) : f.h.work / name);  // no file can go there
        f.run<QDialog>(command, [&](QDialog& d) {
            press(d, 1);
            QVERIFY(d.isVisible());
            QCOMPARE(f.h.ui.messages.size(), std::size_t{1});
            QCOMPARE(f.h.ui.messages.back().icon, BoxIcon::Error);
            QVERIFY2(f.h.ui.messages.back().text.contains(file), qPrintable(f.h.ui.messages.back().text));
            press(d, 2);
            QCOMPARE(d.result(), 2);
        });
    }

    // A fresh program's values; 90 degrees stored as pi/2 with its sine and cosine; a text that is no number keeps
    // the value, "%d" takes the leading integer; a value left as shown keeps every digit; "Annuler" changes nothing.
    void threeDDialogShowsAndStoresTheSettings() {
        EditorFixture f;
        f.run<QDialog>(k3D, [&](QDialog& d) {
            QVERIFY(checked(d, 1043) && checked(d, 1057) && !checked(d, 1045) && !checked(d, 1046));
            QStringList shown;
            for (int id : {1047, 1049, 1050, 1052, 1053, 1058, 1059}) shown << text(d, id);
            QCOMPARE(shown, QStringList({"50.000", "70.00000", "700.0", "10", " 8.00", " 0.80", "45.00"}));
            type(d, 1047, "90");
            type(d, 1050, "abc");
            type(d, 1052, "12.7");
            press(d, 1045);
            press(d, 1);
        });
        QCOMPARE(readBytes(f.file("3D.qvs")), ByteWriter().i32(1).i32(1).i32(0).f64(std::numbers::pi / 2).f64(70).f64(700)
                                                  .i32(12).f64(8).i32(1).f64(0.8).f64(45).bytes());
        QVERIFY(f.h.state->projection.sinAngle == 1.0 && std::abs(f.h.state->projection.cosAngle) < 1e-15);

        Projection3DSettings exact;
        exact.setProjectionAngle(0.5);
        exact.zScale = 70.123456789;
        QVERIFY(save3D(f.file("3D.qvs"), exact).ok);
        const std::vector<std::uint8_t> written = readBytes(f.file("3D.qvs"));
        for (const bool cancel : {false, true}) {  // a value left as shown keeps every digit; Cancel changes nothing
            f.run<QDialog>(k3D, [&](QDialog& d) {
                QCOMPARE(text(d, 1049), QStringLiteral("70.12346"));
                if (cancel) type(d, 1049, "5"), press(d, 1043);
                press(d, cancel ? 2 : 1);
            });
            QCOMPARE(readBytes(f.file("3D.qvs")), written);
        }
        QCOMPARE(f.h.state->projection.zScale, exact.zScale);
    }

    // The distance estimator's buttons: "None" keeps the wrap mode, and each choice comes back checked.
    void reliefDistanceEstimatorModes() {
        const struct {
            std::int32_t estimator, wrap;
            int choice;
            std::int32_t storedEstimator, storedWrap;
        } cases[] = {{1, 1, 1004, 0, 1}, {0, 0, 1005, 1, 1}, {1, 1, 1006, 1, 0}};
        for (const auto& c : cases) {
            EditorFixture f;
            ReliefSettings relief;
            relief.distanceEstimator = c.estimator;
            relief.deWrapToZero = c.wrap;
            QVERIFY(saveRelief(f.file("Relief.qvs"), relief).ok);
            f.run<QDialog>(kRelief, [&](QDialog& d) { press(d, c.choice), press(d, 1); });
            const std::vector<std::uint8_t> bytes = readBytes(f.file("Relief.qvs"));
            QCOMPARE(std::vector<std::uint8_t>(bytes.begin() + 28, bytes.begin() + 36),
                     ByteWriter().i32(c.storedEstimator).i32(c.storedWrap).bytes());
            f.run<QDialog>(kRelief, [&](QDialog& d) {
                QVERIFY(checked(d, c.choice));
                press(d, c.choice == 1004 ? 1005 : 1004);
                type(d, 1001, "1");
                press(d, 2);
            });
            QVERIFY(readBytes(f.file("Relief.qvs")) == bytes && f.h.state->relief.distanceEstimator == c.storedEstimator);
        }
    }

    // The default palette's band and three markers, then every gesture, and Save's bytes.
    void paletteEditorShowsAndEditsThePalette() {
        EditorFixture f;
        Palette& palette = f.h.state->palette;
        const ColorTable& table = f.h.state->colorTable;
        f.run<PaletteEditorDialog>(kColorPalette, [&](PaletteEditorDialog& e) {
            QCOMPARE(text(e, 1002), QStringLiteral("1.000000"));
            const QImage band = e.band()->grab().toImage();
            const int n = e.band()->width() - 4;
            const int y = 2 + (e.band()->height() - 4) / 2;
            for (int i : {0, n / 4, n / 2, n - 1}) {
                const TableColor c = table.entries[static_cast<std::size_t>(kColorTableSize * i / n)];
                QCOMPARE(band.pixelColor(2 + i, 4), QColor(c.red, c.green, c.blue));
            }
            QCOMPARE(band.pixelColor(2 + n / 2, 4), QColor(0, 0, 255));
            for (int x : {1, n * 255 / kColorTableSize, n - 2}) QCOMPARE(band.pixelColor(2 + x, y - 2), kGrey);
            QVERIFY(band.pixelColor(2 + n / 4, y - 2) != kGrey);
            QCOMPARE(band.pixelColor(2 + n / 4, y), kGrey);

            press(e, 1001);  // rounded: the band changes at once
            QCOMPARE(table.entries[64].blue, 37);
            QCOMPARE(e.band()->grab().toImage().pixelColor(2 + (64 * n + 511) / 512, 4).blue(), 37);
            const ColorTable before = table;
            click(e, 255, Qt::ShiftModifier);  // on a point: nothing
            click(e, 100, Qt::ShiftModifier);  // the colour the band shows there, nothing expanded again
            QCOMPARE(positions(palette), (std::vector<int>{0, 100, 255, 511}));
            QVERIFY(palette.points[1].blue == before.entries[100].blue && std::memcmp(&table, &before, sizeof table) == 0);

            drag(e, 100, {254, 255});  // onto its neighbour: stops one step before it
            drag(e, 0, {50});          // the first point stays
            QCOMPARE(positions(palette), (std::vector<int>{0, 254, 255, 511}));

            f.h.ui.colors = {QColor(10, 20, 30), std::nullopt};
            click(e, 261, {}, Qt::RightButton);  // 6 away from 255: just within reach
            click(e, 0, {}, Qt::RightButton);    // the chooser cancelled
            QVERIFY(palette.points[2].red == 10 && palette.points[0].red + palette.points[0].blue == 0);
            const std::uint8_t end = table.entries[400].blue;
            click(e, 511, Qt::ControlModifier);  // an end point goes too; the table's end stays as it was
            click(e, 140, Qt::ControlModifier);  // hits nothing
            QCOMPARE(table.entries[400].blue, end);
            click(e, 300, Qt::ShiftModifier);  // beyond the last point: nothing
            QCOMPARE(positions(palette), (std::vector<int>{0, 254, 255}));

            press(e, 1000);
            type(e, 1002, "2.5");
            QTest::keyClick(control<QLineEdit>(e, 1002), Qt::Key_Return);
        });
        ByteWriter expected;
        expected.i32(1).i32(1).f64(2.5).i32(3).i32(0).u8(0).u8(0).u8(0).u8(0).i32(254);
        const ColorPoint& p = palette.points[1];
        expected.u8(p.blue).u8(p.green).u8(p.red).u8(0).i32(255).u8(30).u8(20).u8(10).u8(0);
        QCOMPARE(readBytes(f.file("palette.qvs")), expected.bytes());

        palette.colorSensitivity = 1;  // as a program that has not read the file yet: the field shows the file's
        f.run<PaletteEditorDialog>(kColorPalette, [&](PaletteEditorDialog& e) {
            QCOMPARE(text(e, 1002), QStringLiteral("2.500000"));
            press(e, 2);
        });
    }

    // 900 frames at 30 per second; each factor's new duration or the reason it is refused; OK scales the points
    // from selection start - 1 to selection end + 1, and Cancel writes nothing.
    void accelerateScalesTheSelection() {
        EditorFixture f(20, 2, 17);
        VideoParameters video = f.h.state->video();
        video.fps = 30;
        f.h.state->setVideo(video);
        QVERIFY(saveCurve(f.file("speed.qvs"), {{{0.5f, 60}, {1, 60}, {18, 60}, {18.5f, 60}}}).ok);
        const struct {
            const char* factor;
            const char* duration;
        } factors[] = {{"1e-300", "Too small"}, {"1e300", "Too large"}, {"0", "Must be above 0"},
                       {"-1", "Must be above 0"}, {"abc", "Not a number"}, {"2", "00:15.00"}};
        f.run<QDialog>(kAccelerate, [&](QDialog& d) {
            QCOMPARE(QStringList({text(d, 1000), text(d, 1001), text(d, 1002)}),
                     QStringList({"1.00", "00:30.00", "00:30.00"}));
            for (const auto& row : factors) {
                type(d, 1000, row.factor);
                QCOMPARE(text(d, 1002), QString::fromLatin1(row.duration));
                QCOMPARE(control<QPushButton>(d, 1)->isEnabled(), row.duration[0] == '0');
                d.accept();
                QCOMPARE(d.isVisible(), row.duration[0] != '0');
            }
        });
        const std::vector<std::uint8_t> scaled = curveBytes({{0.5f, 60}, {1, 30}, {18, 30}, {18.5f, 60}});
        QCOMPARE(readBytes(f.file("speed.qvs")), scaled);
        f.run<QDialog>(kAccelerate, [&](QDialog& d) {
            QCOMPARE(text(d, 1000), QStringLiteral("1.00"));
            type(d, 1000, "4"), press(d, 2);
        });
        QCOMPARE(readBytes(f.file("speed.qvs")), scaled);
    }
};

}  // namespace zoomreel::app::test

using zoomreel::app::test::SettingsDialogsTest;
ZOOMREEL_APP_TEST(SettingsDialogsTest)
#include "settings_dialogs_test.moc"
