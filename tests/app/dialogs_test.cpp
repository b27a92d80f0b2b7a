// The small dialogs, Video Parameters and Choose Codec, driven through their real controls.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/app_state.h"
#include "app/app_test.h"
#include "app/choose_codec_dialog.h"
#include "app/dialog_layout.h"
#include "app/dialogs.h"
#include "app/layout_check.h"
#include "app/scripted_interaction.h"
#include "app/video_parameters_dialog.h"

namespace zoomreel::app::test {

namespace {

QByteArray fileBytes(const std::filesystem::path& path) {
    QFile file(QString::fromStdString(path.string()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

}  // namespace

class SmallDialogsTest : public QObject {
    Q_OBJECT

private slots:
    void previewFrameSizeOffersAndStoresBlocks() {
        PreviewFrameSizeDialog dialog(nullptr, 1920, 1080);
        dialog.show();
        auto* list = control<QListWidget>(dialog, 1001);
        QVERIFY(list);
        QCOMPARE(list->count(), 39);
        QCOMPARE(list->item(0)->text(), QStringLiteral("48x27"));
        QCOMPARE(list->item(38)->text(), QStringLiteral("960x540"));

        // Nothing selected, Escape and the close button: the conversion is still waiting for an answer.
        press(dialog, 1);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.close();
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.choice().block, 0);

        list->item(38)->setSelected(true);
        press(dialog, 1);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), 1);
        const PreviewChoice choice = dialog.choice();
        QCOMPARE(std::tuple(choice.block, choice.width, choice.height), std::tuple(2, 960, 540));
    }

    void keyFramePropertiesTexts() {
        KeyframeList list;
        list.names = {"00000.qvy", std::string(60, 'n') + ".qvy"};
        KeyframeSummary summary;
        summary.minimum = 0.5;
        summary.average = 1234.5678;
        summary.maximum = 99999.125;
        summary.zoomMantissa = 1.25f;
        summary.zoomExponent = 27;
        summary.colorDivisor = 7;
        list.summaries = {KeyframeSummary{}, summary};

        KeyFramePropertiesDialog dialog(nullptr, list, 1);
        QCOMPARE(text(dialog, 1002), QStringLiteral("1"));
        QCOMPARE(text(dialog, 1003), QString(50, QLatin1Char('n')));
        QCOMPARE(text(dialog, 1004), QStringLiteral("     0.500"));
        QCOMPARE(text(dialog, 1005), QStringLiteral("  1234.568"));
        QCOMPARE(text(dialog, 1006), QStringLiteral(" 99999.125"));
        QCOMPARE(text(dialog, 1007), QStringLiteral(" 1.250e027"));
        QCOMPARE(text(dialog, 1008), QStringLiteral("7"));

        dialog.show();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        press(dialog, 1);
        QCOMPARE(dialog.result(), 1);

        // A keyframe the list does not hold (yet) leaves its texts blank.
        KeyFramePropertiesDialog beyond(nullptr, list, 5);
        QCOMPARE(text(beyond, 1002), QStringLiteral("5"));
        QCOMPARE(text(beyond, 1004), QString());
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
        QCOMPARE(control<QLineEdit>(dialog, 1000)->text(), QStringLiteral("  2.25"));
        control<QLineEdit>(dialog, 1000)->setText(typed);
        press(dialog, 1);

        QCOMPARE(kept, position);
        QCOMPARE(target.has_value(), started);
        QCOMPARE(dialog.isVisible(), !started);
        if (started) {
            QCOMPARE(*target, static_cast<float>(position));
            QCOMPARE(dialog.result(), 1);
            QVERIFY(interaction.messages.empty());
        } else {
            QCOMPARE(interaction.messages.size(), std::size_t{1});
            QCOMPARE(interaction.messages[0].caption, QStringLiteral("Zoomreel"));
            QCOMPARE(interaction.messages[0].text, QStringLiteral("Frame must be in selection!"));
            QCOMPARE(interaction.messages[0].icon, BoxIcon::Error);
        }
    }

    void closingCodes() {
        ScriptedInteraction interaction;
        double position = 1.0;
        ComputeOneFrameDialog compute(nullptr, interaction, position, 0, 3, [](float) { QFAIL("started"); });
        compute.show();
        press(compute, 2);
        QCOMPARE(compute.result(), 2);

        AboutDialog about(nullptr);
        about.show();
        QTest::keyClick(&about, Qt::Key_Escape);
        QCOMPARE(about.result(), 2);
    }
};

class VideoParametersDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        state_.workingDirectory = dir_->path().toStdString();
        state_.setVideo(VideoParameters{});
    }

    // The face, empty in a fresh program, is filled with the default before saving; typed values are read as their
    // leading number, or kept when there is none.
    void savingFillsTheFaceAndReadsTheTypedValues() {
        ScriptedInteraction interaction;
        VideoParametersDialog dialog(nullptr, interaction, state_);
        QCOMPARE(text(dialog, 1005), QStringLiteral("Arial"));
        checkLayoutFits(dialog);
        control<QLineEdit>(dialog, 1012)->setText(QStringLiteral("lots"));
        control<QLineEdit>(dialog, 1002)->setText(QStringLiteral("25 fps"));
        control<QLineEdit>(dialog, 1009)->setText(QStringLiteral("-5"));
        control<QCheckBox>(dialog, 1003)->setChecked(true);
        dialog.show();
        press(dialog, 1);
        QCOMPARE(dialog.result(), 1);
        QCOMPARE(fileBytes(state_.workingDirectory / "VFS.qvs"),
                 QByteArray("-5\n720\n25\n1000\n1\n8\n0\n255\n255\nArial\n"));
        QCOMPARE(fileBytes(state_.workingDirectory / "VBr.qvs"), QByteArray());
    }

    void choicesApplyAtOnceEvenWhenCancelled() {
        ScriptedInteraction interaction;
        interaction.colors.push_back(QColor(10, 20, 30));
        const QString longFace = QStringLiteral("Zoomreel Test Face With A Long Name");
        interaction.fonts.push_back(QFont(longFace, 14));
        interaction.programs.push_back(QStringLiteral("/opt/some player/bin/play"));
        VideoParametersDialog dialog(nullptr, interaction, state_);
        dialog.show();

        press(dialog, 1013);
        press(dialog, 1004);
        press(dialog, 1007);
        VideoParameters video = state_.video();
        QVERIFY(video.textColor.red == 10 && video.textColor.green == 20 && video.textColor.blue == 30);
        QCOMPARE(video.fontName, longFace.left(31).toStdString());
        QCOMPARE(video.fontSize, 14);
        QCOMPARE(video.videoBrowser, std::string("/opt/some player/bin/play"));
        QCOMPARE(text(dialog, 1006), QStringLiteral("14"));
        QCOMPARE(text(dialog, 1010), QStringLiteral("/opt/some player/bin/play"));
        QWidget* swatch = dialog.findChild<QWidget*>(controlName(1014));
        QCOMPARE(swatch->grab().toImage().pixelColor(swatch->width() / 2, swatch->height() / 2), QColor(10, 20, 30));

        // Choosers that are cancelled change nothing.
        press(dialog, 1013);
        press(dialog, 1004);
        press(dialog, 1007);
        press(dialog, 2);
        QCOMPARE(dialog.result(), 2);
        video = state_.video();
        QCOMPARE(video.textColor.red, std::uint8_t{10});
        QCOMPARE(video.fontSize, 14);
        QCOMPARE(video.videoBrowser, std::string("/opt/some player/bin/play"));
        QVERIFY(!std::filesystem::exists(state_.workingDirectory / "VFS.qvs"));
    }

    void saveFailureIsReported() {
        std::filesystem::create_directory(state_.workingDirectory / "VFS.qvs");
        ScriptedInteraction interaction;
        VideoParametersDialog dialog(nullptr, interaction, state_);
        dialog.show();
        press(dialog, 1);

        QVERIFY(dialog.isVisible());
        QCOMPARE(interaction.messages.size(), std::size_t{1});
        QCOMPARE(interaction.messages[0].icon, BoxIcon::Error);
        QVERIFY2(interaction.messages[0].text.contains(QStringLiteral("VFS.qvs")),
                 qPrintable(interaction.messages[0].text));
        press(dialog, 2);
        QCOMPARE(dialog.result(), 2);
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    AppState state_;
};

class ChooseCodecDialogTest : public QObject {
    Q_OBJECT

private slots:
    void preselectsAndReturnsTheChoice() {
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
        auto* every = dialog.findChild<QSpinBox*>(QStringLiteral("keyFrameEvery"));
        auto* quality = dialog.findChild<QSlider*>(QStringLiteral("quality"));
        QVERIFY(compressor->currentIndex() == 2 && everyOn->isChecked());
        QVERIFY(every->value() == 15 && quality->value() == 85);
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("qualityValue"))->text(), QStringLiteral("85"));
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("frameSize"))->text(),
                 QStringLiteral("1280 x 720, 30 frames per second"));

        compressor->setCurrentIndex(1);
        quality->setValue(42);
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("qualityValue"))->text(), QStringLiteral("42"));
        everyOn->setChecked(false);
        dialog.show();
        press(dialog, 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const CompressorChoice choice = dialog.choice();
        QVERIFY(choice.compressor == makeFourCC("DIB ") && choice.keyFrameEvery == 0 && choice.quality == 4200);
    }
};

}  // namespace zoomreel::app::test

using zoomreel::app::test::ChooseCodecDialogTest;
using zoomreel::app::test::SmallDialogsTest;
using zoomreel::app::test::VideoParametersDialogTest;
ZOOMREEL_APP_TEST(SmallDialogsTest)
ZOOMREEL_APP_TEST(VideoParametersDialogTest)
ZOOMREEL_APP_TEST(ChooseCodecDialogTest)

#include "dialogs_test.moc"
