// The preview window and the preview video as the editors drive them, through a stand-in editor with the
// editors' three buttons.
#include <QPushButton>
#include <QSignalSpy>

#include <fstream>

#include "app/app_test.h"
#include "app/dialog_layout.h"
#include "app/window_harness.h"
#include "editors/preview_host.h"
#include "render/test_keyframes.h"

namespace zoomreel::app::test {

class PreviewTest : public QObject {
    Q_OBJECT

    struct Editor {
        QDialog dialog;
        QPushButton* preview;
        explicit Editor(QWidget* owner) : dialog(owner) {
            dialog.setGeometry(40, 60, 300, 200);
            for (int id : {kSaveButton, kCancelButton}) (new QPushButton(QStringLiteral("x"), &dialog))->setObjectName(controlName(id));
            preview = new QPushButton(QStringLiteral("Preview"), &dialog);
            preview->setObjectName(controlName(kPreviewButton));
            dialog.show();
        }
        bool saveAndCancelEnabled() const {
            return control<QPushButton>(dialog, kSaveButton)->isEnabled() &&
                   control<QPushButton>(dialog, kCancelButton)->isEnabled();
        }
    };

    /// Four keyframes selected, a stand-in editor, and its preview open on them.
    struct Opened {
        WindowHarness h;
        PreviewSource source;
        bool loaded = load(h, source);
        Editor editor{h.window.get()};
        PreviewHost host{editor.dialog, *h.state, h.ui, source};
        Opened() { host.open(); }

        static bool load(WindowHarness& h, PreviewSource& source) {
            KeyframeList& list = h.state->keyframes;
            list.folder = h.work / "maps";
            const bool ok = zoomreel::test::writeTestKeyframes(list.folder, 4, zoomreel::test::kKeyframeWidth,
                                                               zoomreel::test::kKeyframeHeight, 20, 12) &&
                            scanKeyframes(list).ok;
            list.selectionStart = 0;
            list.selectionEnd = 3;
            source.edit([&](PreviewSetup& s) { s = loadPreviewSetup(list); });
            return ok;
        }
    };

private slots:
    // The window opens beside the editor, and each frame reaches it through the interface thread with its
    // position in the title, at the preview map's size.
    void framesReachTheWindowBesideTheEditor() {
        Opened o;
        QVERIFY(o.loaded);
        auto& [h, source, loaded, editor, host] = o;
        QVERIFY(host.window()->isVisible());
        QCOMPARE(host.window()->pos(), editor.dialog.frameGeometry().topRight() + QPoint(1, 0));
        host.requestPosition(1.5f);
        QTRY_COMPARE(host.window()->windowTitle(), QStringLiteral("Preview 1.50"));
        QCOMPARE(host.window()->size(), QSize(20, 12));
        PreviewRenderer renderer;
        QVERIFY(renderFramePreview(renderer, h.state->keyframes, source.copy(), 1.5f).ok);
        QCOMPARE(host.window()->frame(), imageOf(renderer.frame));
    }

    // "Preview": without a video browser only the message; with one, "Abort" and Save and Cancel disabled while the
    // video is made, the codec asked for, then everything back, the frame preview running again and the browser
    // started on "preview.avi".
    void previewButtonMakesTheVideoAndRestoresTheEditor() {
        Opened o;
        QVERIFY(o.loaded);
        auto& [h, source, loaded, editor, host] = o;
        host.previewButton();
        QCOMPARE(h.messageTexts(), QStringList{QStringLiteral("You must define a Video Browser\nUse menu Video->Video parameters...")});
        QCOMPARE(h.ui.messages.back().icon, BoxIcon::Information);
        QVERIFY(host.framePreview().running());

        const std::filesystem::path heard = h.work / "heard.txt";
        const std::filesystem::path player = h.work / "player";
        std::ofstream(player) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << heard.string() << ".part' && mv '"
                              << heard.string() << ".part' '" << heard.string() << "'\n";
        std::filesystem::permissions(player, std::filesystem::perms::owner_all);
        VideoParameters video = h.state->video();
        video.videoBrowser = player.string();
        h.state->setVideo(video);
        bool askedWhileRunning = false;
        h.ui.dialogs.push_back([&](QDialog& dialog) {
            askedWhileRunning = editor.preview->text() == QStringLiteral("Abort") && !editor.saveAndCancelEnabled();
            return dialog.windowTitle() == QStringLiteral("Choose Codec") ? int(QDialog::Accepted) : int(QDialog::Rejected);
        });
        host.previewButton();
        QVERIFY(!host.framePreview().running());
        QTRY_VERIFY_WITH_TIMEOUT(editor.preview->text() == QStringLiteral("Preview"), 10000);
        QVERIFY(askedWhileRunning);
        QVERIFY(editor.saveAndCancelEnabled());
        QVERIFY(host.framePreview().running());
        QVERIFY(std::filesystem::file_size(h.work / "preview.avi") > 0);
        QTRY_VERIFY(std::filesystem::exists(heard));
        const std::vector<std::uint8_t> said = zoomreel::test::readBytes(heard);
        QCOMPARE(std::string(said.begin(), said.end()), (h.work / "preview.avi").string());
        QCOMPARE(h.ui.messages.size(), std::size_t{1});
    }
};

}  // namespace zoomreel::app::test

using zoomreel::app::test::PreviewTest;
ZOOMREEL_APP_TEST(PreviewTest)
#include "preview_window_test.moc"
