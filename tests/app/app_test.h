#pragma once

// The desktop program's tests: Qt Test classes run on the offscreen platform, each registered here so that
// ctest can run them one by one.

#include <QObject>
#include <QTest>

#include <functional>

namespace zoomreel::app::test {

bool registerAppTest(const char* name, std::function<QObject*()> make);

}  // namespace zoomreel::app::test

#define ZOOMREEL_APP_TEST(Class) \
    static const bool registered##Class = ::zoomreel::app::test::registerAppTest(#Class, [] { return new Class; });
