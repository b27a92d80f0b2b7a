#include "app/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenuBar>
#include <QShortcut>

#include <utility>

#include "app/dialogs.h"
#include "app/keyframe_strip.h"
#include "app/program_icon.h"
#include "app/video_parameters_dialog.h"

namespace zoomreel::app {

MainWindow::MainWindow(AppState& state, Interaction& interaction, EditorOpeners editors)
    : state_(state), interaction_(interaction), editors_(std::move(editors)), bridge_(this) {
    setTitle(kFirstTitle);
    setWindowIcon(programIcon());
    strip_ = new KeyframeStrip(state_, interaction_, this);
    strip_->showProperties = [this](int k) {
        KeyFramePropertiesDialog dialog(this, state_.keyframes, k);
        interaction_.runDialog(dialog);
    };
    setCentralWidget(strip_);
    buildMenus();
    state_.recentFolders = loadRecentFolders(state_.workingDirectory);
    addRecentFolderItems();
    // Alt with "?" or "/" opens About, whichever the keyboard needs Shift for.
    for (const char* keys : {"Alt+?", "Alt+/"}) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(keys)), this);
        connect(shortcut, &QShortcut::activated, this, [this] { runCommand(kAbout); });
    }
    resize(800, 600);
}

MainWindow::~MainWindow() { shutDown(); }

QAction* MainWindow::command(int id) const {
    const auto it = commands_.find(id);
    return it == commands_.end() ? nullptr : it->second;
}

QMenu* MainWindow::popUp(int position) const {
    return position >= 0 && position < 3 ? menus_[position] : nullptr;
}

QAction* MainWindow::addCommand(QMenu* menu, const QString& text, int id) {
    QAction* action = menu != nullptr ? menu->addAction(text) : menuBar()->addAction(text);
    action->setObjectName(QStringLiteral("command%1").arg(id));
    connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
    commands_[id] = action;
    return action;
}

void MainWindow::buildMenus() {
    QMenu* file = menus_[kFileMenu] = menuBar()->addMenu(QStringLiteral("&File"));
    addCommand(file, QStringLiteral("Folder open.."), kFolderOpen);
    addCommand(file, QStringLiteral("Folder close"), kFolderClose)->setEnabled(false);
    file->addSeparator();
    addCommand(file, QStringLiteral("&Exit"), kExit);
    file->addSeparator();

    QMenu* setup = menus_[kSetupMenu] = menuBar()->addMenu(QStringLiteral("Setup"));
    addCommand(setup, QStringLiteral("Speed Setup..."), kSpeedSetup);
    addCommand(setup, QStringLiteral("Color Setup..."), kColorSetup);
    addCommand(setup, QStringLiteral("Relief..."), kRelief);
    addCommand(setup, QStringLiteral("3D..."), k3D);
    addCommand(setup, QStringLiteral("Color Palette..."), kColorPalette)->setEnabled(false);
    setup->addSeparator();
    addCommand(setup, QStringLiteral("Compute One Frame ..."), kComputeOneFrame);
    setup->addSeparator();
    addCommand(setup, QStringLiteral("Key frame by key frame"), kKeyframeByKeyframe)->setCheckable(true);
    setup->addSeparator();
    addCommand(setup, QStringLiteral("Flip Horizontal"), kFlipHorizontal)->setCheckable(true);
    addCommand(setup, QStringLiteral("Flip Vertical"), kFlipVertical)->setCheckable(true);
    setup->addSeparator();
    addCommand(setup, QStringLiteral("Accelerate ..."), kAccelerate);
    setup->addSeparator();
    addCommand(setup, QStringLiteral("Check Key Frames..."), kCheckKeyframes)->setEnabled(false);

    QMenu* video = menus_[kVideoMenu] = menuBar()->addMenu(QStringLiteral("Video"));
    addCommand(video, QStringLiteral("Video Parameters..."), kVideoParameters);
    addCommand(video, QStringLiteral("Make Video"), kMakeVideo);
    addCommand(video, QStringLiteral("Abort Video"), kAbortVideo)->setEnabled(false);

    addCommand(nullptr, QStringLiteral("&About ..."), kAbout);
}

void MainWindow::addRecentFolderItems() {
    const auto& entries = state_.recentFolders.entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // The item opens the folder it shows, wherever that entry has moved in the list since.
        const QString folder = QString::fromStdString(entries[i]);
        QString text = folder;
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));  // a path's "&" is no shortcut marker
        QAction* item = addCommand(menus_[kFileMenu], text, kRecentFolder + static_cast<int>(i));
        item->setData(folder);
    }
}

void MainWindow::setTitle(QString title) {
    // Titles carry folder paths, in which Qt's "[*]" placeholder must stay text.
    setWindowTitle(title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]")));
}

BoxAnswer MainWindow::say(const QString& text, BoxIcon icon, BoxButtons buttons, const QString& caption) {
    return interaction_.message(this, caption.isEmpty() ? kCaption : caption, text, icon, buttons);
}

void MainWindow::openEditor(int id) {
    if (const auto it = editors_.find(id); it != editors_.end()) it->second(this, state_, interaction_);
}

void MainWindow::runCommand(int id) {
    switch (id) {
        case kAbout: {
            AboutDialog dialog(this);
            interaction_.runDialog(dialog);
            return;
        }
        case kExit:
            close();
            return;
        case kFolderOpen: {
            QString folder;
            if (chooseFolder(folder)) openFolder(folder);
            return;
        }
        case kFolderClose:
            leaveFolder();
            return;
        case kSpeedSetup:
        case kColorSetup:
        case kAccelerate:
            if (hasSelectionEnd()) openEditor(id);
            return;
        case kColorPalette:
        case kRelief:
        case k3D:
            openEditor(id);
            return;
        case kVideoParameters: {
            VideoParametersDialog dialog(this, interaction_, state_);
            interaction_.runDialog(dialog);
            return;
        }
        case kMakeVideo:
            makeVideo();
            return;
        case kAbortVideo:
            AbortMovie(state_.movie);
            return;
        case kComputeOneFrame:
            computeOneFrame();
            return;
        case kCheckKeyframes:
            startCheck();
            return;
        case kFlipHorizontal:
            toggle(id, state_.flipHorizontal);
            return;
        case kFlipVertical:
            toggle(id, state_.flipVertical);
            return;
        case kKeyframeByKeyframe:
            toggle(id, state_.keyframeByKeyframe);
            return;
        default:
            break;
    }
    if (id >= kRecentFolder && command(id) != nullptr) openFolderAt(command(id)->data().toString());
}

void MainWindow::toggle(int id, bool& flag) {
    flag = !flag;
    command(id)->setChecked(flag);
}

bool MainWindow::hasSelectionEnd() {
    if (state_.keyframes.selectionEnd != -1) return true;
    say(kSelectKeyframesText, BoxIcon::Warning);
    return false;
}

bool MainWindow::confirmQuit() {
    if (state_.keyframes.keyframeCount() == 0) return true;
    return say(QStringLiteral("Do you want to quit?"), BoxIcon::Question, BoxButtons::OkCancel) == BoxAnswer::Ok;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!shutDown_ && !confirmQuit()) {
        event->ignore();
        return;
    }
    shutDown();
    event->accept();
}

void MainWindow::shutDown() {
    if (shutDown_) return;
    shutDown_ = true;
    // The abort comes first: a movie whose codec question is answered by the closing bridge then writes nothing.
    AbortMovie(state_.movie);
    stopConversion_.store(true);
    stopCheck_.store(true);
    bridge_.close();
    if (conversionThread_.joinable()) conversionThread_.join();
    if (checkThread_.joinable()) checkThread_.join();
    WaitForMovie(state_.movie);
}

}  // namespace zoomreel::app
