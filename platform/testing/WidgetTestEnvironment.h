#pragma once

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

namespace platform::testing {

// One application object for a widget test binary, made when the tests run (not when CTest
// lists them), on the offscreen platform unless another is asked for.
template <class Application = QApplication>
class WidgetTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "tests";
        static char *argv[] = {name, nullptr};
        app_ = new Application(argc, argv);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    Application *app_ = nullptr;
};

} // namespace platform::testing

#define NBR_WIDGET_TEST_ENVIRONMENT()                                                              \
    static ::testing::Environment *const widgetTestEnvironment =                                   \
        ::testing::AddGlobalTestEnvironment(new platform::testing::WidgetTestEnvironment<>)

// The same with the given application class (a QApplication subclass).
#define NBR_WIDGET_TEST_ENVIRONMENT_WITH(Application)                                              \
    static ::testing::Environment *const widgetTestEnvironment =                                   \
        ::testing::AddGlobalTestEnvironment(                                                       \
            new platform::testing::WidgetTestEnvironment<Application>)
