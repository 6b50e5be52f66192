#include "NBRDraggedColorSaver.h"

#include <utility>

NBRDraggedColorSaver::NBRDraggedColorSaver(std::function<void(const std::string &hex)> store)
    : store_(std::move(store)) {
    timer_.setSingleShot(true);
    timer_.setInterval(kInterval);
    QObject::connect(&timer_, &QTimer::timeout, [this] { save(); });
}

void NBRDraggedColorSaver::picked(const std::string &hex, bool dragging) {
    if (dragging) {
        unsaved_ = hex;
        if (!timer_.isActive())
            timer_.start();
        return;
    }
    timer_.stop();
    unsaved_.reset();
    store_(hex);
}

void NBRDraggedColorSaver::save() {
    timer_.stop();
    if (!unsaved_)
        return;
    const std::string hex = *std::exchange(unsaved_, std::nullopt);
    store_(hex);
}
