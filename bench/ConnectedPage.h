#pragma once

#include "ControllerDaemonProcess.h"
#include "NBRConstants.h"
#include "NSBundle.h"
#include "NavigationOnScreen.h"
#include "NimbrelListController.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"

#include <QCoreApplication>
#include <QSize>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A DualShock 4 for the daemon's Linux backend: the address the preferences file names and what
// points the daemon at the doubles that hold it paired and connected.
struct LinuxBackendController {
    std::vector<std::uint8_t> address;
    platform::testing::ChildSetup setup;
};

// The settings page of a DualShock 4 (colour ff8000) that the controller daemon stand-in holds
// connected, under a device root of its own.
struct ConnectedPage {
    platform::testing::TestDeviceRoot root;
    platform::testing::ControllerDaemonProcess daemon;
    NimbrelListController *page = nullptr;
    UINavigationController *navigation = nullptr; // once shown

    // The daemon logs into `logPath` and takes `options` besides; its controller is simulated, or
    // with `onLinux` the one its Linux backend finds connected. False when it did not start or
    // (Linux) never took the controller.
    bool start(std::string logPath, std::vector<std::string> options = {},
               const LinuxBackendController *onLinux = nullptr) {
        platform::PlistValue::Dictionary preferences{{NBRControllerTypeKey, 1},
                                                     {NBRLEDColorKey, "ff8000"}};
        if (onLinux)
            preferences[NBRBluetoothAddressKey] = onLinux->address;
        root.writePlist(NBRPreferencesPath, std::move(preferences), platform::PlistFormat::Binary);
        if (onLinux)
            options.insert(options.begin(), {"--backend", "linux"});
        else
            options.insert(options.begin(), {"--connected", "1"});
        if (!daemon.start(CONTROLLERD_PATH, std::move(logPath), std::move(options),
                          onLinux ? onLinux->setup : platform::testing::ChildSetup{}))
            return false;
        // The page asks at once whether a controller is connected; BlueZ's answer must be in.
        if (onLinux && !daemon.waitForLog("controller connected", std::chrono::seconds(10)))
            return false;
        page = new NimbrelListController;
        page->setBundle(NSBundle::bundleWithPath(BUNDLE_DIR));
        return true;
    }
    void show(QSize size) {
        navigation = platform::testing::showInNavigation(page, size);
        QCoreApplication::processEvents();
    }
};

// One page for the whole run, made by `start` at the first call; a page that cannot be made ends
// the run with `failure`.
template <class Start> ConnectedPage &sharedPage(Start start, const char *failure) {
    static ConnectedPage *shared = [&] {
        auto *made = new ConnectedPage;
        if (!start(*made)) {
            std::fprintf(stderr, "%s\n", failure);
            std::abort();
        }
        return made;
    }();
    return *shared;
}

// A light-bar update as a colour pick sends it, once an iteration: a connection of its own, one
// send, closed, nothing read back.
inline void sendColourUpdates(benchmark::State &state, NimbrelListController *page) {
    for (auto _ : state)
        page->updateDS4ColorWithSocket(-1);
}
