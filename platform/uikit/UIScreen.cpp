#include "UIScreen.h"

#include <atomic>

namespace {
std::atomic<double> screenScale{2.0};
}

UIScreen &UIScreen::mainScreen() {
    static UIScreen screen;
    return screen;
}

double UIScreen::scale() const {
    return screenScale.load();
}

void UIScreen::setScale(double scale) {
    screenScale.store(scale > 0 ? scale : 1.0);
}
