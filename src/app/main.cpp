// zoomreel: the desktop program. It takes no command line; everything it keeps lives in the working directory
// and in the folders it opens.
#include <QApplication>

#include <clocale>
#include <filesystem>
#include <memory>

#include "app/app_state.h"
#include "app/interaction.h"
#include "app/main_window.h"
#include "app/program_icon.h"
#include "editors/editor_openers.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Qt takes the user's locale for the C library; numbers in titles and files keep the decimal point.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Zoomreel"));
    QApplication::setWindowIcon(zoomreel::app::programIcon());

    // The movie driver and its renderer are large; they live beside the window for the whole run.
    auto state = std::make_unique<zoomreel::app::AppState>();
    std::error_code error;
    state->workingDirectory = std::filesystem::current_path(error);
    zoomreel::app::ModalInteraction interaction;
    zoomreel::app::MainWindow window(*state, interaction, zoomreel::app::editorOpeners());
    window.show();
    return QApplication::exec();
}
