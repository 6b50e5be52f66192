#include "XvfbDisplay.h"

#include "TestTimeScale.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

// After Qt's headers: Xlib's macros (None, Bool, Status...) would clash with them.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace platform::testing {
namespace {

Display *dpy(void *connection) {
    return static_cast<Display *>(connection);
}

bool near(QRgb pixel, const QColor &colour, int tolerance) {
    return std::abs(qRed(pixel) - colour.red()) <= tolerance &&
           std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

} // namespace

XvfbDisplay::XvfbDisplay(int width, int height) : width_(width), height_(height) {
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    try {
        // -displayfd: the server takes the first free display number and writes it to us.
        server_ = std::make_unique<ChildProcess>(
            "Xvfb", std::vector<std::string>{"-displayfd", "1", "-screen", "0", screen, "-nolisten",
                                             "tcp", "-noreset"});
    } catch (const std::exception &e) {
        error_ = std::string(e.what()) + " (is the xvfb package installed?)";
        return;
    }
    const std::string number = server_->readLine(std::chrono::seconds(15));
    if (number.empty()) {
        error_ = "Xvfb named no display";
        return;
    }
    name_ = ":" + number;
    connection_ = XOpenDisplay(name_.c_str());
    if (connection_ == nullptr) {
        error_ = "cannot open display " + name_;
        return;
    }
    int event = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy(connection_), &event, &errorBase, &major, &minor)) {
        error_ = "no XTest on " + name_;
        XCloseDisplay(dpy(connection_));
        connection_ = nullptr;
        return;
    }
    environment_.set("DISPLAY", name_);
    environment_.set("QT_QPA_PLATFORM", std::nullopt);
}

XvfbDisplay::~XvfbDisplay() {
    if (connection_ != nullptr) {
        XCloseDisplay(dpy(connection_));
        environment_.restore();
    }
    if (server_)
        server_->stop(SIGTERM);
}

QImage XvfbDisplay::screenshot() {
    if (connection_ == nullptr)
        return {};
    Display *d = dpy(connection_);
    XImage *shot = XGetImage(d, DefaultRootWindow(d), 0, 0, unsigned(width_), unsigned(height_),
                             AllPlanes, ZPixmap);
    if (shot == nullptr)
        return {};
    QImage image(width_, height_, QImage::Format_RGB32);
    for (int y = 0; y < height_; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width_; ++x) {
            const unsigned long pixel = XGetPixel(shot, x, y);
            row[x] = qRgb(int((pixel >> 16) & 0xff), int((pixel >> 8) & 0xff), int(pixel & 0xff));
        }
    }
    XDestroyImage(shot);
    return image;
}

bool XvfbDisplay::waitFor(const std::function<bool(const QImage &)> &condition,
                          std::chrono::milliseconds timeout, QImage *last) {
    const auto end = std::chrono::steady_clock::now() + scaled(timeout);
    for (;;) {
        QImage shot = screenshot();
        const bool met = !shot.isNull() && condition(shot);
        if (last != nullptr)
            *last = shot;
        if (met)
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void XvfbDisplay::sync() {
    XSync(dpy(connection_), False);
}

void XvfbDisplay::moveTo(QPoint point) {
    if (connection_ == nullptr)
        return;
    XTestFakeMotionEvent(dpy(connection_), 0, point.x(), point.y(), CurrentTime);
    sync();
}

void XvfbDisplay::press() {
    if (connection_ == nullptr)
        return;
    XTestFakeButtonEvent(dpy(connection_), 1, True, CurrentTime);
    sync();
}

void XvfbDisplay::release() {
    if (connection_ == nullptr)
        return;
    XTestFakeButtonEvent(dpy(connection_), 1, False, CurrentTime);
    sync();
}

void XvfbDisplay::click(QPoint point) {
    moveTo(point);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    press();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    release();
}

void XvfbDisplay::drag(const std::vector<QPoint> &path, std::chrono::milliseconds pause) {
    if (path.empty())
        return;
    moveTo(path.front());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    press();
    for (std::size_t i = 1; i < path.size(); ++i) {
        std::this_thread::sleep_for(pause);
        moveTo(path[i]);
    }
    std::this_thread::sleep_for(pause);
    release();
}

void XvfbDisplay::key(const std::string &keys) {
    if (connection_ == nullptr)
        return;
    Display *d = dpy(connection_);
    std::vector<KeyCode> chord;
    for (std::size_t from = 0; from <= keys.size();) {
        // "plus" is a keysym; a "+" that begins a name joins nothing.
        std::size_t to = keys.find('+', from + 1);
        if (to == std::string::npos)
            to = keys.size();
        const KeyCode code =
            XKeysymToKeycode(d, XStringToKeysym(keys.substr(from, to - from).c_str()));
        if (code == 0)
            return;
        chord.push_back(code);
        from = to + 1;
    }
    for (KeyCode code : chord) {
        XTestFakeKeyEvent(d, code, True, CurrentTime);
        sync();
        std::this_thread::sleep_for(std::chrono::milliseconds(chord.size() > 1 ? 20 : 30));
    }
    for (auto code = chord.rbegin(); code != chord.rend(); ++code) {
        XTestFakeKeyEvent(d, *code, False, CurrentTime);
        sync();
    }
}

namespace {
// The top-level windows on screen named `title`.
std::vector<Window> windowsNamed(Display *d, const std::string &title) {
    std::vector<Window> found;
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count))
        return found;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        char *name = nullptr;
        if (XGetWindowAttributes(d, children[i], &attributes) &&
            attributes.map_state == IsViewable && XFetchName(d, children[i], &name) && name) {
            if (title == name)
                found.push_back(children[i]);
            XFree(name);
        }
    }
    if (children != nullptr)
        XFree(children);
    return found;
}
} // namespace

QRect XvfbDisplay::windowGeometry(const std::string &title) {
    if (connection_ == nullptr)
        return {};
    Display *d = dpy(connection_);
    const auto windows = windowsNamed(d, title);
    XWindowAttributes a;
    if (windows.size() != 1 || !XGetWindowAttributes(d, windows.front(), &a))
        return {};
    return {a.x, a.y, a.width, a.height};
}

QSize XvfbDisplay::minimumWindowSize(const std::string &title) {
    if (connection_ == nullptr)
        return {};
    Display *d = dpy(connection_);
    const auto windows = windowsNamed(d, title);
    XSizeHints hints{};
    long supplied = 0;
    if (windows.size() != 1 || !XGetWMNormalHints(d, windows.front(), &hints, &supplied) ||
        !(hints.flags & PMinSize))
        return {};
    return {hints.min_width, hints.min_height};
}

bool XvfbDisplay::resizeWindow(const std::string &title, QSize size) {
    if (connection_ == nullptr)
        return false;
    Display *d = dpy(connection_);
    const auto windows = windowsNamed(d, title);
    if (windows.size() != 1)
        return false;
    XResizeWindow(d, windows.front(), unsigned(size.width()), unsigned(size.height()));
    sync();
    return true;
}

int countPixels(const QImage &image, const QRect &area, const QColor &colour, int tolerance) {
    int count = 0;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            count += near(image.pixel(x, y), colour, tolerance) ? 1 : 0;
    return count;
}

int countOtherPixels(const QImage &image, const QRect &area, const QColor &colour, int tolerance) {
    const QRect inside = area & image.rect();
    return inside.width() * inside.height() - countPixels(image, inside, colour, tolerance);
}

QRect boundsOfOtherPixels(const QImage &image, const QRect &area, const QColor &background,
                          int tolerance) {
    QRect bounds;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (!near(image.pixel(x, y), background, tolerance))
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

} // namespace platform::testing
