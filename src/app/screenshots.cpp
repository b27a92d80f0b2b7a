// zoomreel-screenshots: pictures of the desktop program for the README, made by the program's own window on the
// offscreen platform, so that they always show the program as it is built.
//
//   zoomreel-screenshots FOLDER OUTDIR
//
// FOLDER holds converted keyframes (and the settings files to render with). OUTDIR receives main-window.png, the
// keyframe strip with a selection, speed-editor.png and color-editor.png, the editors with their preview window
// after a few gestures, palette-editor.png and 3d-dialog.png, and rendering.png, the window while a movie is being
// made.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>
#include <QSlider>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include <algorithm>
#include <deque>

#include "app/app_state.h"
#include "app/interaction.h"
#include "app/keyframe_strip.h"
#include "app/main_window.h"
#include "editors/editor_openers.h"
#include "editors/palette_editor.h"
#include "editors/setup_editors.h"
#include "platform/text_image.h"

namespace {

using namespace zoomreel::app;

/// Says yes to everything, as a user going straight ahead would.
class Yes final : public Interaction {
public:
    BoxAnswer message(QWidget*, const QString&, const QString& text, BoxIcon, BoxButtons) override {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        return BoxAnswer::Ok;
    }
    int runDialog(QDialog& dialog) override {
        if (auto* editor = dynamic_cast<CurveEditor*>(&dialog); editor != nullptr && editorShot) {
            editor->show();
            editorShot(*editor);
            editor->reject();
        } else if (dialogShot) {
            dialog.show();
            dialogShot(dialog);
            dialog.reject();
        } else {
            dialog.accept();
        }
        return dialog.result();
    }
    std::function<void(CurveEditor& editor)> editorShot;
    std::function<void(QDialog& dialog)> dialogShot;
    std::deque<QColor> colors;  ///< the colour chooser's answers
    QString chooseFolder(QWidget*, const QString&) override { return {}; }
    std::optional<QFont> chooseFont(QWidget*, const QFont&) override { return std::nullopt; }
    std::optional<QColor> chooseColor(QWidget*, const QColor&) override {
        if (colors.empty()) return std::nullopt;
        const QColor color = colors.front();
        colors.pop_front();
        return color;
    }
    QString chooseProgram(QWidget*) override { return {}; }
    QString chooseSoundFile(QWidget*) override { return {}; }
    QAction* popUp(QMenu&, const QPoint&) override { return nullptr; }
};

/// The window as a desktop shows it: a title bar with the window's title above its contents.
QImage framed(QWidget& window) {
    const QPixmap contents = window.grab();
    constexpr int kTitleHeight = 26;
    QImage shot(contents.width() + 2, contents.height() + kTitleHeight + 1, QImage::Format_RGB32);
    shot.fill(QColor(60, 64, 72));
    QPainter painter(&shot);
    painter.drawPixmap(1, kTitleHeight, contents);
    QFont font = painter.font();
    font.setPixelSize(12);
    painter.setFont(font);
    painter.setPen(QColor(235, 235, 235));
    const QRect titleBox(10, 0, shot.width() - 20, kTitleHeight);
    painter.drawText(titleBox, Qt::AlignVCenter | Qt::AlignLeft,
                     painter.fontMetrics().elidedText(window.windowTitle(), Qt::ElideRight, titleBox.width()));
    return shot;
}

/// The editor with its preview window beside it.
QImage withPreview(CurveEditor& editor) {
    const QImage dialog = framed(editor);
    PreviewWindow* preview = editor.preview()->window();
    if (preview == nullptr) return dialog;
    const QImage small = framed(*preview);
    const int x = dialog.width() + 8;  // beside the editor, as on a screen wide enough for both
    QImage shot(std::max(dialog.width(), x + small.width()), std::max(dialog.height(), small.height()),
                QImage::Format_RGB32);
    shot.fill(QColor(40, 40, 40));
    QPainter painter(&shot);
    painter.drawImage(0, 0, dialog);
    painter.drawImage(x, 0, small);
    return shot;
}

/// The mouse as a user moves and clicks it over an editor's graph: at keyframe offset j of the view, h pixels
/// above the graph's bottom.
void gesture(CurveEditor& editor, QEvent::Type type, double j, int h, Qt::KeyboardModifiers modifiers = {}) {
    const GraphView& view = editor.view();
    const QPoint at(view.rect.left + 4 + static_cast<int>(4 * view.zoom * j), view.rect.bottom - 2 - h);
    const QPoint local = at - editor.graph()->pos();
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, editor.graph()->mapToGlobal(local), button,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, modifiers);
    QApplication::sendEvent(editor.graph(), &event);
}

/// A click on the palette editor's band at palette position `a`.
void bandClick(PaletteEditorDialog& editor, int a, Qt::MouseButton button, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* band = editor.band();
    const QPoint local(2 + (a * (band->width() - 4) + 511) / 512, band->height() / 2);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, local, band->mapToGlobal(local), button,
                          type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton, modifiers);
        QApplication::sendEvent(band, &event);
    }
}

bool save(const QImage& image, const std::filesystem::path& path) {
    if (image.save(QString::fromStdString(path.string()), "PNG")) {
        std::printf("%s\n", path.string().c_str());
        return true;
    }
    std::fprintf(stderr, "Unable to write %s\n", path.string().c_str());
    return false;
}

bool waitFor(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > milliseconds) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zoomreel-screenshots FOLDER OUTDIR\n");
        return 2;
    }
    const std::filesystem::path folder = std::filesystem::absolute(argv[1]);
    const std::filesystem::path out = argv[2];
    const zoomreel::OffscreenGuiApplication gui(argv[0], [](int& n, char** v) {
        return std::unique_ptr<QGuiApplication>(new QApplication(n, v));
    });
    std::error_code error;
    std::filesystem::create_directories(out, error);

    auto state = std::make_unique<AppState>();
    // A working directory of its own, so that no recent-folder list or video setting of the user is touched.
    const std::filesystem::path work = out / ".screenshot-work";
    std::filesystem::create_directories(work, error);
    state->workingDirectory = work;
    Yes yes;
    MainWindow window(*state, yes, editorOpeners());
    window.resize(5 * kCellWidth + 2 + 18, 3 * kCellHeight + 2 + 30);
    window.show();
    window.openFolderAt(QString::fromStdString(folder.string()));
    const int count = state->keyframes.keyframeCount();
    if (count == 0) {
        std::fprintf(stderr, "No keyframes in %s\n", folder.string().c_str());
        return 1;
    }
    state->keyframes.selectionStart = std::min(8, count - 1);
    state->keyframes.selectionEnd = std::min(12, count - 1);
    window.strip()->verticalScrollBar()->setValue(1);
    QApplication::processEvents();
    bool ok = save(framed(window), out / "main-window.png");

    // The editors, shaped by a few clicks and with the mouse over the graph, the preview following it.
    const auto shootEditor = [&](int command, const std::vector<std::pair<double, int>>& points, const char* name) {
        yes.editorShot = [&](CurveEditor& editor) {
            if (!waitFor([&] { return editor.preview()->window() != nullptr; }, 5000)) {
                ok = false;
                return;
            }
            // The zoom that spreads the selection over the graph, as a user would set it.
            const GraphView& view = editor.view();
            const int spread = (view.rect.width() - 4) / (4 * std::max(1, view.selectionEnd - view.selectionStart));
            editor.findChild<QSlider*>(controlName(1013))->setValue(std::clamp(spread, 1, 21));
            for (const auto& [j, h] : points) {
                gesture(editor, QEvent::MouseButtonPress, j, h, Qt::ShiftModifier);
                gesture(editor, QEvent::MouseButtonRelease, j, h, Qt::ShiftModifier);
            }
            gesture(editor, QEvent::MouseMove, 5.3, 150);
            waitFor([&] { return editor.preview()->window()->windowTitle() == QStringLiteral("Preview 7.30"); }, 5000);
            QApplication::processEvents();
            ok = save(withPreview(editor), out / name) && ok;
        };
        window.runCommand(command);
        yes.editorShot = nullptr;
    };
    state->keyframes.selectionStart = std::min(2, count - 1);
    state->keyframes.selectionEnd = std::min(13, count - 1);
    shootEditor(kSpeedSetup, {{1.5, 120}, {4.2, 300}, {7.6, 170}, {9.4, 60}}, "speed-editor.png");
    shootEditor(kColorSetup, {{2.0, 140}, {6.5, 300}, {9.0, 200}}, "color-editor.png");
    state->keyframes.selectionStart = std::min(8, count - 1);
    state->keyframes.selectionEnd = std::min(12, count - 1);

    // The palette editor with a few colour points set, rounded; and the 3D dialog as it opens. Both are cancelled.
    yes.dialogShot = [&](QDialog& dialog) {
        auto* palette = dynamic_cast<PaletteEditorDialog*>(&dialog);
        if (palette == nullptr) return;
        // The middle point of the default palette is recoloured; the others are inserted first.
        const std::pair<int, QColor> points[] = {{70, QColor(20, 50, 160)},    {150, QColor(120, 190, 250)},
                                                 {230, QColor(250, 245, 225)}, {255, QColor(245, 160, 30)},
                                                 {330, QColor(150, 30, 20)},   {430, QColor(20, 150, 190)}};
        for (const auto& [position, color] : points) {
            bandClick(*palette, position, Qt::LeftButton, Qt::ShiftModifier);
            yes.colors.push_back(color);
            bandClick(*palette, position, Qt::RightButton);
        }
        palette->findChild<QAbstractButton*>(controlName(1001))->click();
        QApplication::processEvents();
        ok = save(framed(dialog), out / "palette-editor.png") && ok;
    };
    window.runCommand(kColorPalette);
    yes.dialogShot = [&](QDialog& dialog) {
        QApplication::processEvents();
        ok = save(framed(dialog), out / "3d-dialog.png") && ok;
    };
    window.runCommand(k3D);
    yes.dialogShot = nullptr;

    // A movie under way: wait for a few frames, take the picture, stop the movie.
    zoomreel::VideoParameters video = state->video();
    video.finalWidth = 640;
    video.height3D = 360;
    state->setVideo(video);
    // The frame is stretched over the whole client area: give it the frame's shape.
    QWidget* client = window.strip()->viewport();
    window.resize(window.size() + QSize(video.finalWidth, video.height3D) - client->size());
    std::set<std::filesystem::path> existing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) existing.insert(entry.path());
    window.runCommand(kMakeVideo);
    const bool rendering = waitFor(
        [&] { return window.windowTitle().contains(QStringLiteral("Frame:")) && window.windowTitle().contains("-005"); },
        120000);
    QApplication::processEvents();
    window.strip()->viewport()->repaint();
    if (rendering) ok = save(framed(window), out / "rendering.png") && ok;
    window.runCommand(kAbortVideo);
    waitFor([&] { return !state->movie.running.load(); }, 120000);
    window.shutDown();
    // The movie was only made for its picture; files that were there before are left alone.
    for (const auto& file : state->movie.lastOutcome.files) {
        if (!existing.contains(file)) std::filesystem::remove(file, error);
    }
    std::filesystem::remove_all(work, error);
    return ok && rendering ? 0 : 1;
}
