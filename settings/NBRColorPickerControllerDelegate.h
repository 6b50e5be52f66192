#pragma once

#include "UIColor.h"

class NBRColorPickerController;

// What the colour screen tells the page that opened it: each colour the user picks, and the
// last one again when the screen goes away.
class NBRColorPickerControllerDelegate {
public:
    virtual ~NBRColorPickerControllerDelegate() = default;
    virtual void colorPickerDidPickColor(NBRColorPickerController *picker,
                                         const platform::UIColor &color) = 0;
};
