// "Check Key Frames...", also run at the end of a conversion: the keyframe check on a thread of its own.
#include <QAction>

#include "app/keyframe_strip.h"
#include "app/main_window.h"

namespace zoomreel::app {

namespace {
// A folder of many damaged pairs would make a box taller than the screen; the command line lists them all.
constexpr std::size_t kMostPairsShown = 12;

QString findingsText(const KeyframeCheck& check) {
    QStringList lines;
    for (std::size_t i = 0; i < check.disagreeing.size() && i < kMostPairsShown; ++i) {
        lines << QString::fromStdString(describePair(check.disagreeing[i]));
    }
    if (check.disagreeing.size() > kMostPairsShown) {
        lines << QStringLiteral("... and %1 more.").arg(check.disagreeing.size() - kMostPairsShown);
    }
    if (!lines.isEmpty()) lines << QString();
    lines << QString::fromStdString(describeCheck(check));
    return lines.join(QLatin1Char('\n'));
}
}  // namespace

void MainWindow::startCheck() {
    if (checkThread_.joinable() || !state_.keyframes.loaded) return;
    // The menus stay off while the check reads the folder, so that the folder it reports on stays open.
    setWorkMenus(false);
    stopCheck_.store(false);
    checkThread_ = std::thread([this, list = state_.keyframes] {
        CheckCallbacks callbacks;
        callbacks.progress = [this](int pair, int pairs) {
            bridge_.post([this, pair, pairs] { setTitle(QString::asprintf("Checking Key Frames %d/%d", pair, pairs)); });
        };
        callbacks.stopRequested = [this] { return stopCheck_.load(); };
        KeyframeCheck check = checkKeyframes(list, callbacks);
        bridge_.post([this, check = std::move(check)] { finishCheck(check); });
    });
}

void MainWindow::finishCheck(const KeyframeCheck& check) {
    if (checkThread_.joinable()) checkThread_.join();
    setWorkMenus(true);
    setLoadedTitle();
    state_.disagreeingPairs.clear();
    for (const PairCheck& pair : check.disagreeing) state_.disagreeingPairs.push_back(pair.first);
    strip_->viewport()->update();
    if (check.stopped) return;
    const BoxIcon icon = !check.status ? BoxIcon::Error : check.allAgree() ? BoxIcon::Information : BoxIcon::Warning;
    say(findingsText(check), icon);
}

}  // namespace zoomreel::app
