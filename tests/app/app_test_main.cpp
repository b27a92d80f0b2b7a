// Runs the desktop program's Qt Test classes: all of them, or those named on the command line.
#include <QApplication>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "app/app_test.h"
#include "platform/text_image.h"

namespace zoomreel::app::test {

namespace {
std::map<std::string, std::function<QObject*()>>& registry() {
    static std::map<std::string, std::function<QObject*()>> tests;
    return tests;
}
}  // namespace

bool registerAppTest(const char* name, std::function<QObject*()> make) {
    registry().emplace(name, std::move(make));
    return true;
}

}  // namespace zoomreel::app::test

int main(int argc, char** argv) {
    using zoomreel::app::test::registry;
    const zoomreel::OffscreenGuiApplication gui(argc > 0 ? argv[0] : nullptr, [](int& n, char** v) {
        return std::unique_ptr<QGuiApplication>(new QApplication(n, v));
    });
    int failures = 0;
    bool ranAny = false;
    for (const auto& [name, make] : registry()) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; ++i) wanted = wanted || name == argv[i];
        if (!wanted) continue;
        ranAny = true;
        const std::unique_ptr<QObject> test(make());
        char* programName[] = {argv[0]};
        failures += QTest::qExec(test.get(), 1, programName);
    }
    if (!ranAny) {
        std::fprintf(stderr, "No test class of that name.\n");
        return 2;
    }
    return failures == 0 ? 0 : 1;
}
