#pragma once

#include "NBRColorPickerControllerDelegate.h"
#include "UIColor.h"
#include "UIViewController.h"

#include <memory>
#include <optional>

class QVColorPickerView;
class UIControl;

// The "LED Color" screen: one colour picker under the navigation bar, started on a colour,
// reporting every colour the user picks. The delegate is not owned and must outlive the screen.
class NBRColorPickerController : public UIViewController {
    Q_OBJECT
public:
    explicit NBRColorPickerController(const platform::UIColor &color);
    ~NBRColorPickerController() override;

    NBRColorPickerControllerDelegate *delegate() const { return _delegate; }
    void setDelegate(NBRColorPickerControllerDelegate *delegate) { _delegate = delegate; }
    const std::shared_ptr<QVColorPickerView> &colorPicker() const { return _colorPicker; }
    // Nothing until the user first changes the colour: the starting colour is never reported.
    const std::optional<platform::UIColor> &pickedColor() const { return _pickedColor; }
    void setPickedColor(std::optional<platform::UIColor> color) { _pickedColor = color; }

    void viewDidLoad() override;
    void viewWillDisappear(bool animated) override;
    void colorPicked(UIControl &sender);

private:
    void report();

    NBRColorPickerControllerDelegate *_delegate = nullptr;
    std::shared_ptr<QVColorPickerView> _colorPicker;
    std::optional<platform::UIColor> _pickedColor;
};
