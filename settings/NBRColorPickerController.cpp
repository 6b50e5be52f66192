#include "NBRColorPickerController.h"

#include "QVColorPickerView.h"
#include "UIViewHost.h"

#include <QVBoxLayout>

NBRColorPickerController::NBRColorPickerController(const platform::UIColor &color)
    : _colorPicker(std::make_shared<QVColorPickerView>()) {
    _colorPicker->setColor(color);
    _colorPicker->addTarget(
        this, [this](UIControl &sender) { colorPicked(sender); }, UIControlEventValueChanged);
    setTitle("LED Color");
}

NBRColorPickerController::~NBRColorPickerController() {
    // The view's host keeps the picker until the base class deletes the view.
    _colorPicker->removeTarget(this);
}

// The navigation stack shows a screen below its bar, never under it, so none of the view is
// hidden and the picker takes all of it, following the view's size.
void NBRColorPickerController::viewDidLoad() {
    UIViewController::viewDidLoad();
    auto *layout = new QVBoxLayout(view());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new UIViewHost(_colorPicker));
}

void NBRColorPickerController::colorPicked(UIControl &sender) {
    auto *picker = dynamic_cast<QVColorPickerView *>(&sender);
    if (picker == nullptr)
        return;
    _pickedColor = picker->color();
    report();
}

void NBRColorPickerController::viewWillDisappear(bool animated) {
    UIViewController::viewWillDisappear(animated);
    report();
}

void NBRColorPickerController::report() {
    if (_pickedColor && _delegate != nullptr)
        _delegate->colorPickerDidPickColor(this, *_pickedColor);
}
