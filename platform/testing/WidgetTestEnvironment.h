#pragma once

#include <QApplication>
#include <cstdlib>
#include <gtest/gtest.h>

namespace platform::testing {

// One QApplication for a widget test binary, made when the tests run (not when CTest lists
// them), on the offscreen platform unless another is asked for.
class WidgetTestEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "tests";
        static char *argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication *app_ = nullptr;
};

} // namespace platform::testing

#define NBR_WIDGET_TEST_ENVIRONMENT()                                                              \
    static ::testing::Environment *const widgetTestEnvironment =                                   \
        ::testing::AddGlobalTestEnvironment(new platform::testing::WidgetTestEnvironment)
