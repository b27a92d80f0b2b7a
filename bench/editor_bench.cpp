// The speed editor on the standard workload (1920 x 1080 keyframes, preview block 4), its real widgets on the
// offscreen platform: from a mouse move over the graph until the graph is repainted and the move's preview frame
// is painted in the preview window. Goal: within one 60 Hz frame, 16 ms, for every move.
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/app_state.h"
#include "app/interaction.h"
#include "editors/setup_editors.h"
#include "platform/text_image.h"
#include "standard_workload.h"

int main(int argc, char** argv) {
    using namespace zoomreel;
    using namespace zoomreel::app;
    const OffscreenGuiApplication gui(argc > 0 ? argv[0] : nullptr, [](int& n, char** v) {
        return std::unique_ptr<QGuiApplication>(new QApplication(n, v));
    });
    AppState state;
    state.keyframes = bench::workload().list;
    state.keyframes.selectionStart = 0;
    state.keyframes.selectionEnd = bench::kKeyframes - 1;
    ModalInteraction interaction;
    SpeedSetupDialog editor(nullptr, state, interaction);
    editor.show();
    QApplication::processEvents();
    PreviewWindow* window = editor.preview()->window();
    GraphControl* graph = editor.graph();
    const GraphView& view = editor.view();

    // Sweeps right across the graph, a few pixels a move, so that some moves enter another keyframe.
    constexpr int kMoves = 400;
    std::vector<double> milliseconds;
    QElapsedTimer timer;
    for (int i = 0; i < kMoves; ++i) {
        const QPoint at(view.rect.left + 5 + (i * 7) % (4 * view.zoom * (bench::kKeyframes - 1)), view.rect.top + 200);
        const QPoint local = at - graph->pos();
        const QString title = QString::asprintf("Preview %4.2f", static_cast<double>(view.positionAt(at.x())));
        timer.start();
        QMouseEvent move(QEvent::MouseMove, local, graph->mapToGlobal(local), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(graph, &move);
        graph->repaint();
        while (window->windowTitle() != title && timer.elapsed() < 1000) {
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 1);
        }
        window->repaint();
        milliseconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    double total = 0;
    for (double ms : milliseconds) total += ms;
    std::printf("editor_bench: %d mouse moves over the speed graph, %d x %d preview frames, %d processors\n", kMoves,
                state.keyframes.layout.previewWidth, state.keyframes.layout.previewHeight,
                WorkerPool::processorCount());
    std::printf("  move to repainted graph and preview frame on screen: mean %.2f ms, median %.2f ms, "
                "95th percentile %.2f ms, worst %.2f ms (goal: at most 16 ms)\n",
                total / kMoves, milliseconds[kMoves / 2], milliseconds[kMoves * 95 / 100], milliseconds.back());
    editor.reject();
    return 0;
}
