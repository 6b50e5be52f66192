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
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The settings page of a DualShock 4 (colour ff8000) that the controller daemon stand-in holds
// connected, under a device root of its own.
struct ConnectedPage {
    platform::testing::TestDeviceRoot root;
    platform::testing::ControllerDaemonProcess daemon;
    NimbrelListController *page = nullptr;
    UINavigationController *navigation = nullptr; // once shown

    // The daemon logs into `logPath` and takes `options` besides; false when it did not start.
    bool start(std::string logPath, std::vector<std::string> options = {}) {
        root.writePlist(NBRPreferencesPath, {{NBRControllerTypeKey, 1}, {NBRLEDColorKey, "ff8000"}},
                        platform::PlistFormat::Binary);
        options.insert(options.begin(), {"--connected", "1"});
        if (!daemon.start(CONTROLLERD_PATH, std::move(logPath), std::move(options)))
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
