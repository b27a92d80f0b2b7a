#pragma once

#include <QMainWindow>

#include <atomic>
#include <map>
#include <optional>
#include <thread>

#include "app/app_state.h"
#include "app/editor_openers.h"
#include "app/interaction.h"
#include "app/ui_bridge.h"
#include "keyframes/conversion.h"
#include "keyframes/keyframe_check.h"

class QAction;
class QMenu;

namespace zoomreel::app {

class KeyframeStrip;

/// Menu command identifiers.
enum Command : int {
    kAbout = 104,
    kExit = 105,
    kFolderOpen = 106,
    kFolderClose = 107,
    kColorSetup = 108,
    kSpeedSetup = 109,
    kVideoParameters = 110,
    kMakeVideo = 111,
    kAbortVideo = 112,
    kAccelerate = 113,
    kColorPalette = 114,
    kRelief = 115,
    k3D = 116,
    kFlipHorizontal = 117,
    kComputeOneFrame = 118,
    kFlipVertical = 119,
    kKeyframeByKeyframe = 120,
    kCheckKeyframes = 121,
    kRecentFolder = 2000,  ///< + the entry's place in the list
};

/// The pop-up menus of the menu bar, by position.
enum MenuPosition : int { kFileMenu = 0, kSetupMenu = 1, kVideoMenu = 2 };

/// The first title, shown until a folder is opened.
inline const QString kFirstTitle = QStringLiteral("Zoomreel - deep zoom movies from iteration maps");

/// The program's one window: the menus, the keyframe strip, and the hosting of the conversion and movie threads.
class MainWindow final : public QMainWindow {
public:
    /// `editors` opens the setup editors and settings dialogs of the Setup menu (see editors/editor_openers.h).
    MainWindow(AppState& state, Interaction& interaction, EditorOpeners editors);
    ~MainWindow() override;

    /// The menu item of a command, or nullptr.
    QAction* command(int id) const;
    QMenu* popUp(int position) const;
    KeyframeStrip* strip() const { return strip_; }

    /// Carries out a menu command, as choosing its item does.
    void runCommand(int id);

    /// Opens `folder` as the recent-folder items do, without the folder browser.
    void openFolderAt(const QString& folder);

    bool converting() const { return conversionThread_.joinable(); }
    bool checking() const { return checkThread_.joinable(); }

    /// Stops what runs on worker threads, so that the window can go: questions from them are answered with
    /// "no", a movie is aborted and its files finished, a conversion stops after the keyframe it is writing, a
    /// keyframe check after the pair it is comparing.
    void shutDown();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    QAction* addCommand(QMenu* menu, const QString& text, int id);
    void addRecentFolderItems();
    void setTitle(QString title);
    BoxAnswer say(const QString& text, BoxIcon icon, BoxButtons buttons = BoxButtons::Ok,
                  const QString& caption = QString());
    bool confirmQuit();
    bool hasSelectionEnd();
    void openEditor(int id);
    void toggle(int id, bool& flag);

    // Folders
    bool chooseFolder(QString& folder);
    void openFolder(const QString& folder);
    void leaveFolder();
    void setLoadedTitle();
    void rememberFolder();

    // Conversion
    void startConversion();
    void finishConversion(const ConversionResult& result, KeyframeList converted);
    int askPreviewBlock(int mapWidth, int mapHeight);

    // Keyframe check
    void startCheck();
    void finishCheck(const KeyframeCheck& check);
    void setWorkMenus(bool enabled);

    // Movie
    void makeVideo();
    void computeOneFrame();
    /// With `resume`, the stopped movie goes on from its record instead of starting from the first frame.
    void startMovie(std::optional<MovieResume> resume = std::nullopt);
    void setMovieMenus(bool running);

    AppState& state_;
    Interaction& interaction_;
    const EditorOpeners editors_;
    UiBridge bridge_;
    KeyframeStrip* strip_ = nullptr;
    std::map<int, QAction*> commands_;
    QMenu* menus_[3] = {nullptr, nullptr, nullptr};

    std::thread conversionThread_;
    std::atomic<bool> stopConversion_{false};
    std::thread checkThread_;
    std::atomic<bool> stopCheck_{false};
    KeyframeList movieKeyframes_;  ///< the running movie's own copy of the folder's keyframes
    bool shutDown_ = false;
};

}  // namespace zoomreel::app
