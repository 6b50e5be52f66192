#include "KeyboardController.h"

#include "KeyboardGamepad.h"
#include "KeyboardReader.h"
#include "UinputGamepad.h"

namespace controllerd {

KeyboardController::KeyboardController(QObject *parent)
    : QObject(parent), keymap_(std::make_unique<KeyboardKeymap>()) {}

KeyboardController::~KeyboardController() {
    stop();
}

bool KeyboardController::start(std::string &error) {
    if (running())
        return true;
    error.clear();
    auto device = UinputGamepad::create(error);
    if (!device)
        return false;
    auto reader = std::make_unique<KeyboardReader>();
    reader->setExclusive(exclusive_);
    if (!reader->start(error))
        return false; // the device goes with `device`
    device_ = std::move(device);
    pad_ = std::make_unique<KeyboardGamepad>(*device_);
    pad_->setKeymap(*keymap_);
    reader_ = std::move(reader);
    connect(reader_.get(), &KeyboardReader::keyEvent, this,
            [this](std::uint16_t code, std::int32_t value) { pad_->key(code, value); });
    connect(reader_.get(), &KeyboardReader::problem, this, &KeyboardController::problem);
    return true;
}

void KeyboardController::stop() {
    if (!running())
        return;
    reader_->stop(); // its last releases still reach the pad
    reader_.reset();
    pad_->releaseAll();
    pad_.reset();
    device_.reset();
}

void KeyboardController::setKeymap(const KeyboardKeymap &keymap) {
    *keymap_ = keymap;
    if (pad_)
        pad_->setKeymap(keymap);
}

std::string KeyboardController::gamepadNode() const {
    return device_ ? device_->devnode() : std::string();
}

std::vector<std::string> KeyboardController::keyboards() const {
    return reader_ ? reader_->keyboards() : std::vector<std::string>{};
}

} // namespace controllerd
