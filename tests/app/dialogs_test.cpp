// The small dialogs, Video Parameters and Choose Codec, driven through their real controls.
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QSlider>
#include <QSpinBox>

#include <optional>

#include "app/app_test.h"
#include "app/choose_codec_dialog.h"
#include "app/dialogs.h"
#include "app/layout_check.h"
#include "app/video_parameters_dialog.h"
#include "app/window_harness.h"

namespace zoomreel::app::test {

class SmallDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void previewFrameSizeOffersAndStoresBlocks() {
        PreviewFrameSizeDialog dialog(nullptr, 1920, 1080);
        dialog.show();
        auto* list = control<QListWidget>(dialog, 1001);
        QCOMPARE(list->count(), 39);
        QCOMPARE(list->item(0)->text() + list->item(38)->text(), QStringLiteral("48x27960x540"));
        // Nothing selected, Escape and the close button: the conversion is still waiting for an answer.
        press(dialog, 1);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.close();
        QVERIFY(dialog.isVisible());
        list->item(38)->setSelected(true);
        press(dialog, 1);
        QVERIFY(!dialog.isVisible() && dialog.result() == 1);
        const PreviewChoice choice = dialog.choice();
        QCOMPARE(std::tuple(choice.block, choice.width, choice.height), std::tuple(2, 960, 540));
    }

    // The figures in their fixed widths, the name cut at 50; a keyframe the list does not hold (yet) left blank.
    void keyFramePropertiesTexts() {
        KeyframeList list;
        list.names = {"00000.qvy", std::string(60, 'n') + ".qvy"};
        list.summaries = {{}, {.minimum = 0.5, .maximum = 99999.125, .average = 1234.5678, .zoomMantissa = 1.25f,
                               .zoomExponent = 27, .thumbnail = {}, .colorDivisor = 7}};
        for (const auto& [k, texts] : {std::pair{1, QStringList{"1", QString(50, 'n'), "     0.500", "  1234.568",
                                                                 " 99999.125", " 1.250e027", "7"}},
                                       std::pair{5, QStringList{"5", "", "", "", "", "", ""}}}) {
            KeyFramePropertiesDialog dialog(nullptr, list, k);
            QStringList shown;
            for (int id = 1002; id <= 1008; ++id) shown << text(dialog, id);
            QCOMPARE(shown, texts);
        }
        KeyFramePropertiesDialog dialog(nullptr, list, 1);
        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        press(dialog, 1);
        QCOMPARE(dialog.result(), 1);
    }

    void computeOneFrameChecksTheSelection_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("selectionEnd");
        QTest::addColumn<bool>("started");
        QTest::addColumn<double>("position");

        QTest::newRow("start") << "2" << 5 << true << 2.0;
        QTest::newRow("inside") << "3.5" << 5 << true << 3.5;
        QTest::newRow("end") << "5" << 5 << true << 5.0;
        QTest::newRow("past the end") << "5.01" << 5 << false << 5.01;
        QTest::newRow("before the start") << "1.99" << 5 << false << 1.99;
        QTest::newRow("no selection") << "3" << -1 << false << 3.0;
        QTest::newRow("no selection, -1") << "-1" << -1 << false << -1.0;
        QTest::newRow("leading number") << " 4.5 frames" << 5 << true << 4.5;
        QTest::newRow("decimal point only") << "3,75" << 5 << true << 3.0;
        QTest::newRow("junk keeps the value") << "abc" << 5 << true << 2.25;
    }

    void computeOneFrameChecksTheSelection() {
        QFETCH(QString, typed);
        QFETCH(int, selectionEnd);
        QFETCH(bool, started);
        QFETCH(double, position);

        ScriptedInteraction interaction;
        double kept = 2.25;
        std::optional<float> target;
        ComputeOneFrameDialog dialog(nullptr, interaction, kept, 2, selectionEnd, [&](float t) { target = t; });
        dialog.show();
        QCOMPARE(text(dialog, 1000), QStringLiteral("  2.25"));
        type(dialog, 1000, typed);
        press(dialog, 1);

        QCOMPARE(kept, position);
        QVERIFY(target == (started ? std::optional(static_cast<float>(position)) : std::nullopt));
        QCOMPARE(dialog.isVisible(), !started);
        QCOMPARE(dialog.result(), started ? 1 : 0);
        QCOMPARE(interaction.messages.size(), std::size_t{started ? 0u : 1u});
        if (!started) QCOMPARE(interaction.messages[0].text, QStringLiteral("Frame must be in selection!"));
        if (!started) QCOMPARE(interaction.messages[0].icon, BoxIcon::Error);
    }

    // The face, empty in a fresh program, is filled with the default before saving; typed values are read as their
    // leading number, or kept when there is none.
    void videoParametersFillTheFaceAndReadTheTypedValues() {
        WindowHarness h;
        h.state->setVideo(VideoParameters{});
        VideoParametersDialog dialog(nullptr, h.ui, *h.state);
        QCOMPARE(text(dialog, 1005), QStringLiteral("Arial"));
        for (const auto& [id, typed] : {std::pair{1012, "lots"}, std::pair{1002, "25 fps"}, std::pair{1009, "-5"}}) {
            type(dialog, id, typed);
        }
        control<QCheckBox>(dialog, 1003)->setChecked(true);
        dialog.show();
        press(dialog, 1);
        QCOMPARE(dialog.result(), 1);
        const auto bytes = [&](const char* name) {
            const auto all = zoomreel::test::readBytes(h.work / name);
            return std::string(all.begin(), all.end());
        };
        QCOMPARE(bytes("VFS.qvs"), std::string("-5\n720\n25\n1000\n1\n8\n0\n255\n255\nArial\n"));
        QVERIFY(bytes("VBr.qvs").empty() && std::filesystem::exists(h.work / "VBr.qvs"));
    }

    // The colour, font and program choosers apply at once, even when the dialog is cancelled afterwards; cancelled
    // choosers change nothing.
    void videoParametersChoicesApplyAtOnce() {
        WindowHarness h;
        const QString longFace = QStringLiteral("Zoomreel Test Face With A Long Name");
        const QString player = QStringLiteral("/opt/some player/bin/play");
        h.ui.colors = {QColor(10, 20, 30)};
        h.ui.fonts = {QFont(longFace, 14)};
        h.ui.programs = {player};
        VideoParametersDialog dialog(nullptr, h.ui, *h.state);
        dialog.show();
        for (int round = 0; round < 2; ++round) {
            for (int chooser : {1013, 1004, 1007}) press(dialog, chooser);
            const VideoParameters video = h.state->video();
            QVERIFY(video.textColor.red == 10 && video.textColor.green == 20 && video.textColor.blue == 30);
            QCOMPARE(video.fontName, longFace.left(31).toStdString());
            QCOMPARE(video.fontSize, 14);
            QCOMPARE(QString::fromStdString(video.videoBrowser), player);
            QCOMPARE(text(dialog, 1006) + text(dialog, 1010), QStringLiteral("14") + player);
        }
        QWidget* swatch = dialog.findChild<QWidget*>(controlName(1014));
        QCOMPARE(swatch->grab().toImage().pixelColor(swatch->width() / 2, swatch->height() / 2), QColor(10, 20, 30));
        press(dialog, 2);
        QVERIFY(!std::filesystem::exists(h.work / "VFS.qvs"));
    }

    void chooseCodecPreselectsAndReturnsTheChoice() {
        CompressorRequest request;
        request.compressors = {{makeFourCC("MSVC"), "Microsoft Video 1", {}},
                               {makeFourCC("DIB "), "Full frames", {}},
                               {makeFourCC("MJPG"), "Motion JPEG", {}}};
        request.initial = {makeFourCC("MJPG"), 15, 8500};
        request.width = 1280;
        request.height = 720;
        request.frameRate = 30;
        ChooseCodecDialog dialog(nullptr, request);
        checkLayoutFits(dialog);
        auto* compressor = dialog.findChild<QComboBox*>(QStringLiteral("compressor"));
        auto* everyOn = dialog.findChild<QCheckBox*>(QStringLiteral("keyFrameEveryOn"));
        auto* quality = dialog.findChild<QSlider*>(QStringLiteral("quality"));
        const auto label = [&](const char* name) { return dialog.findChild<QLabel*>(QLatin1String(name))->text(); };
        QVERIFY(compressor->currentIndex() == 2 && everyOn->isChecked() && quality->value() == 85);
        QCOMPARE(dialog.findChild<QSpinBox*>(QStringLiteral("keyFrameEvery"))->value(), 15);
        QCOMPARE(label("qualityValue"), QStringLiteral("85"));
        QCOMPARE(label("frameSize"), QStringLiteral("1280 x 720, 30 frames per second"));

        compressor->setCurrentIndex(1);
        quality->setValue(42);
        QCOMPARE(label("qualityValue"), QStringLiteral("42"));
        everyOn->setChecked(false);
        dialog.show();
        press(dialog, 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const CompressorChoice choice = dialog.choice();
        QVERIFY(choice.compressor == makeFourCC("DIB ") && choice.keyFrameEvery == 0 && choice.quality == 4200);
    }
};

ZOOMREEL_APP_TEST(SmallDialogsTest)

}  // namespace zoomreel::app::test

#include "dialogs_test.moc"
