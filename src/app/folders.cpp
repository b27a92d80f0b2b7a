// Opening and leaving folders, the recent folders, and the conversion of a folder of maps.
#include <QAction>
#include <QApplication>
#include <QMenu>

#include "app/dialogs.h"
#include "app/keyframe_strip.h"
#include "app/main_window.h"
#include "platform/worker_pool.h"

namespace zoomreel::app {

namespace {
const QString kFolderBrowserTitle = QStringLiteral("Dossier contenant les fichiers QVB ou QVY");

QString pathText(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }
}  // namespace

bool MainWindow::chooseFolder(QString& folder) {
    folder = interaction_.chooseFolder(this, kFolderBrowserTitle);
    return !folder.isEmpty();
}

void MainWindow::openFolderAt(const QString& folder) { openFolder(folder); }

void MainWindow::setLoadedTitle() {
    const KeyframeList& list = state_.keyframes;
    setTitle(QStringLiteral("Zoomreel - %1 - %2 x [%3 / %4]")
                 .arg(pathText(list.folder), QString::number(list.keyframeCount()), QString::number(list.width),
                      QString::number(list.height)));
}

void MainWindow::rememberFolder() {
    if (Status saved = addRecentFolder(state_.recentFolders, state_.keyframes.folder.string(), state_.workingDirectory);
        !saved) {
        // The list keeps the folder for this run; the file stays as it was.
        say(QString::fromUtf8(kRecentFoldersWriteError) + "\n" + QString::fromStdString(saved.message),
            BoxIcon::None, BoxButtons::Ok, QStringLiteral("ZOR"));
    }
}

void MainWindow::openFolder(const QString& folder) {
    VideoParameters video = state_.video();
    LoadVideoParameters(state_.workingDirectory, video);
    state_.setVideo(video);

    KeyframeList& list = state_.keyframes;
    closeFolder(list);
    state_.disagreeingPairs.clear();
    command(kCheckKeyframes)->setEnabled(false);
    strip_->keyframesChanged();
    list.folder = std::filesystem::path(folder.toStdString());
    setTitle(QStringLiteral("Zoomreel - ") + folder);

    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Status loaded = scanKeyframes(list);
    QApplication::restoreOverrideCursor();
    if (!loaded) {
        // A damaged keyframe file: the folder cannot be shown, and converting it again would overwrite work.
        strip_->keyframesChanged();
        say(QString::fromStdString(loaded.message), BoxIcon::Error);
        command(kFolderOpen)->setEnabled(true);
        command(kFolderClose)->setEnabled(false);
        setTitle(kCaption);
        return;
    }

    if (list.keyframeCount() != 0) {
        state_.subtractMinimum.subtract = 0;
        strip_->resetScroll();
        strip_->keyframesChanged();
        rememberFolder();
        setLoadedTitle();
        command(kCheckKeyframes)->setEnabled(true);
    } else {
        say(QStringLiteral("This folder do not contain any QVY files!"), BoxIcon::None);
        scanMaps(list);
        if (list.qvbCount() == 0) {
            say(QStringLiteral("This folder do not contain any QVB files!"), BoxIcon::None);
            command(kFolderOpen)->setEnabled(true);
            command(kFolderClose)->setEnabled(false);
            command(kColorPalette)->setEnabled(false);
            command(kAccelerate)->setEnabled(false);
            setTitle(kCaption);
            return;
        }
        const QString question =
            QString::asprintf("This folder contains %d QVB files\nDo you want to convert them to QVY files?",
                              list.qvbCount());
        if (say(question, BoxIcon::None, BoxButtons::OkCancel) != BoxAnswer::Ok) return;
        if (Status planned = planConversion(list); !planned) {
            say(QString::fromStdString(planned.message), BoxIcon::Error);
            return;
        }
        startConversion();
        state_.subtractMinimum.subtract = 0;
        strip_->resetScroll();
        rememberFolder();
    }
    command(kFolderOpen)->setEnabled(false);
    command(kFolderClose)->setEnabled(true);
    command(kColorPalette)->setEnabled(true);
    command(kAccelerate)->setEnabled(true);
}

void MainWindow::leaveFolder() {
    if (say(QStringLiteral("Do you want to leave this folder?"), BoxIcon::Question, BoxButtons::OkCancel) !=
        BoxAnswer::Ok) {
        return;
    }
    closeFolder(state_.keyframes);
    state_.disagreeingPairs.clear();
    strip_->keyframesChanged();
    command(kFolderOpen)->setEnabled(true);
    command(kFolderClose)->setEnabled(false);
    command(kColorPalette)->setEnabled(true);
    command(kCheckKeyframes)->setEnabled(false);
    setTitle(kCaption);
}

int MainWindow::askPreviewBlock(int mapWidth, int mapHeight) {
    PreviewFrameSizeDialog dialog(this, mapWidth, mapHeight);
    interaction_.runDialog(dialog);
    const PreviewChoice choice = dialog.choice();
    state_.preview = choice;
    return choice.block;
}

void MainWindow::setWorkMenus(bool enabled) {
    for (int position : {kFileMenu, kSetupMenu, kVideoMenu}) menus_[position]->menuAction()->setEnabled(enabled);
}

void MainWindow::startConversion() {
    setWorkMenus(false);
    stopConversion_.store(false);
    // The thread converts into a list of its own; the window keeps showing the planned one (its count makes a
    // close ask first) until the thread hands the loaded keyframes over at its end.
    conversionThread_ = std::thread([this, list = state_.keyframes]() mutable {
        ConversionCallbacks callbacks;
        callbacks.progress = [this](int index, int count) {
            bridge_.post([this, index, count] {
                setTitle(QString::asprintf("Files Conversion QVB -> QVY %d/%d", index, count));
            });
        };
        callbacks.choosePreviewBlock = [this](int mapWidth, int mapHeight) {
            return bridge_.ask<int>([this, mapWidth, mapHeight] { return askPreviewBlock(mapWidth, mapHeight); }, 0);
        };
        callbacks.publishImage = [this](const Raster* image, const Raster* thumbnail) {
            state_.publishedImage = image;
            state_.publishedThumbnail = thumbnail;
        };
        callbacks.imageChanged = [this] { bridge_.post([this] { strip_->viewport()->update(); }); };
        callbacks.stopRequested = [this] { return stopConversion_.load(); };
        WorkerPool pool;
        ConversionResult result = runConversion(list, callbacks, pool, state_.frameLock);
        bridge_.post([this, result = std::move(result), list = std::move(list)]() mutable {
            finishConversion(result, std::move(list));
        });
    });
}

void MainWindow::finishConversion(const ConversionResult& result, KeyframeList converted) {
    if (conversionThread_.joinable()) conversionThread_.join();
    KeyframeList& list = state_.keyframes;
    if (result.status) {
        converted.selectionStart = -1;
        converted.selectionEnd = -1;
        list = std::move(converted);
        setLoadedTitle();
        setWorkMenus(true);
        command(kCheckKeyframes)->setEnabled(true);
        strip_->keyframesChanged();
        // A fresh conversion is the moment to find a map out of order or damaged, before any render.
        startCheck();
        return;
    }
    // The keyframes written so far stay in the folder, each one whole. Opening the folder again shows them as
    // they are, so the message says how far the conversion got. The user can go on: open another folder or quit;
    // the title still tells which map the conversion stopped at.
    const int planned = list.keyframeCount();
    closeFolder(list);
    strip_->keyframesChanged();
    setWorkMenus(true);
    command(kFolderOpen)->setEnabled(true);
    command(kFolderClose)->setEnabled(false);
    QString message = QString::fromStdString(result.status.message);
    if (result.keyframesWritten > 0) {
        message += QString::asprintf("\n%d of the %d keyframes were written; delete them to convert the folder again.",
                                     result.keyframesWritten, planned);
    }
    say(message, BoxIcon::Error);
}

}  // namespace zoomreel::app
