#pragma once

// The Settings app on an X display of the test's own (Xvfb), opened on the Nimbrel page under a
// fresh device root that holds the bundle and the pairing tool; worked only through the X server
// and judged by what the screen shows and what the preferences file holds. The build gives the
// test BUNDLE_DIR, TOOL_PATH, PREFERENCES_PATH and SHOTS_DIR.
#include "ChildProcess.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "SettingsWindowProbes.h"
#include "TestDeviceRoot.h"
#include "XvfbDisplay.h"

#include <QDir>
#include <QImage>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>

class SettingsWindowOnScreen : public ::testing::Test {
protected:
    static constexpr QPoint kBackButton{50, 21};

    SettingsWindowOnScreen() = default;
    SettingsWindowOnScreen(int width, int height) : display_(width, height) {}

    void SetUp() override {
        ASSERT_TRUE(display_.isReady()) << display_.error();
        root_.addPreferenceBundle(BUNDLE_DIR);
        std::filesystem::create_directories(root_.path("/usr/bin"));
        std::filesystem::create_symlink(TOOL_PATH, root_.path(NBRDiscoveryToolPath));
        QDir().mkpath(kShots);
    }

    void TearDown() override {
        if (HasFailure())
            saveShot(display_.screenshot(),
                     std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                         "-failed");
    }

    void seed(platform::PlistValue::Dictionary values) {
        ASSERT_TRUE(
            root_.writePlist(NBRPreferencesPath, std::move(values), platform::PlistFormat::Binary));
    }

    std::optional<platform::PlistValue::Dictionary> stored() {
        return root_.readPlist(NBRPreferencesPath);
    }

    std::string storedColour() {
        auto file = stored();
        if (!file || !file->count(NBRLEDColorKey) || !file->at(NBRLEDColorKey).string())
            return {};
        return *file->at(NBRLEDColorKey).string();
    }

    // Starts the Settings app on the Nimbrel page and waits until the page is on screen with
    // `rows` rows (0: any, once the page stands still).
    void openSettings(std::size_t rows) {
        using namespace std::chrono_literals;
        settings_ = std::make_unique<platform::testing::ChildProcess>(
            PREFERENCES_PATH, std::vector<std::string>{"--open", "Nimbrel"});
        ASSERT_TRUE(settings_->waitForLine("ready", 20s)) << settings_->output();
        if (rows > 0) {
            ASSERT_TRUE(waitForRows(rows)) << rowsOn(display_.screenshot()).size() << " rows";
        } else {
            QImage last;
            ASSERT_TRUE(display_.waitFor(
                [&](const QImage &shot) {
                    const bool still = !rowsOn(shot).empty() && shot == last;
                    last = shot;
                    return still;
                },
                10s));
        }
        display_.moveTo(pointerRest_);
    }

    std::vector<QRect> rowsOn(const QImage &shot) const {
        return platform::testing::tableRowsOn(shot, window_);
    }

    bool waitForRows(std::size_t count,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return display_.waitFor([&](const QImage &shot) { return rowsOn(shot).size() == count; },
                                timeout);
    }

    // A click on the row, where its title is, and the pointer back where it rests.
    void tapRow(std::size_t index) {
        const auto rows = rowsOn(display_.screenshot());
        ASSERT_LT(index, rows.size());
        display_.click({window_.left() + 100, rows[index].center().y()});
        display_.moveTo(pointerRest_);
    }

    void back() {
        display_.click(kBackButton);
        display_.moveTo(pointerRest_);
    }

    void saveShot(const QImage &shot, const std::string &name) {
        shot.save(kShots + '/' + QString::fromStdString(name) + ".png", "PNG");
    }

    const QString kShots = QStringLiteral(SHOTS_DIR);
    platform::testing::XvfbDisplay display_;
    // Where the window sits on the display: no window manager places it, so at the top left.
    QRect window_{0, 0, 390, 720};
    // Off the window, so no hover changes what a screenshot shows.
    QPoint pointerRest_{1000, 740};
    platform::testing::TestDeviceRoot root_;
    std::unique_ptr<platform::testing::ChildProcess> settings_;
};
