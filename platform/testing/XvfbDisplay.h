#pragma once

#include "ChildProcess.h"
#include "ScopedEnvironment.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::testing {

// An X server of one test's own: Xvfb on a display number it picks free itself, worked only as
// a person would work a screen. Input goes through the X server (XTest: the pointer, its first
// button, keys by their keysym names) and what the screen shows comes back from it (XGetImage
// of the root window), so a view that never asked to be repainted shows as it is on the screen.
// No window manager runs: a top-level window sits where its program puts it. While the object
// lives, DISPLAY names this server for the test and every process it starts, and Qt's offscreen
// platform is switched off for them; both are put back, and the server stopped, at the end.
class XvfbDisplay {
public:
    explicit XvfbDisplay(int width = 1024, int height = 768);
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay &) = delete;
    XvfbDisplay &operator=(const XvfbDisplay &) = delete;

    // False when Xvfb could not be started or reached (`error` says why).
    bool isReady() const { return connection_ != nullptr; }
    const std::string &error() const { return error_; }
    // ":N".
    const std::string &name() const { return name_; }
    QSize size() const { return {width_, height_}; }

    // What the screen shows now.
    QImage screenshot();
    // Takes screenshots until one satisfies `condition`, or the time is up (stretched by the
    // build's time scale); the last one taken is left in `last` when given.
    bool waitFor(const std::function<bool(const QImage &)> &condition,
                 std::chrono::milliseconds timeout, QImage *last = nullptr);

    void moveTo(QPoint point);
    void press();
    void release();
    void click(QPoint point);
    // Press at the first point, move through the others with `pause` between moves, release
    // where the last move went.
    void drag(const std::vector<QPoint> &path,
              std::chrono::milliseconds pause = std::chrono::milliseconds(30));
    // Presses and releases a key by its keysym name ("a", "Return", "Escape", "F5"), or keys
    // held together, joined by "+" ("Alt_L+Left"), released in the reverse order.
    void key(const std::string &keys);

    // The one top-level window on screen with that title: where it is, the smallest size its
    // program lets a window manager give it (empty when it names none), and a resize as a
    // window manager would make one (there is none here to hold it to that minimum).
    QRect windowGeometry(const std::string &title);
    QSize minimumWindowSize(const std::string &title);
    bool resizeWindow(const std::string &title, QSize size);

private:
    void sync();

    std::unique_ptr<ChildProcess> server_;
    void *connection_ = nullptr; // Display *
    std::string name_;
    std::string error_;
    int width_;
    int height_;
    ScopedEnvironment environment_;
};

// Probes of a screenshot.
// Pixels of `area` whose colour is within `tolerance` (per channel) of `colour`.
int countPixels(const QImage &image, const QRect &area, const QColor &colour, int tolerance = 0);
// Pixels of `area` that are not `colour` (within `tolerance`).
int countOtherPixels(const QImage &image, const QRect &area, const QColor &colour,
                     int tolerance = 0);
// The smallest rectangle holding every pixel of `area` that differs from `background`.
QRect boundsOfOtherPixels(const QImage &image, const QRect &area, const QColor &background,
                          int tolerance = 0);

} // namespace platform::testing
