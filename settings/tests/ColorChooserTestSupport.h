#pragma once

#include "NBRColorPickerController.h"
#include "QVColorMapView.h"
#include "QVColorPickerView.h"
#include "UIViewHost.h"

#include <QTest>
#include <QWidget>
#include <QWindow>

namespace nbrtest {

// The widget that shows the screen's picker.
inline UIViewHost *pickerHost(NBRColorPickerController *chooser) {
    for (QWidget *child : chooser->view()->findChildren<QWidget *>())
        if (auto *host = dynamic_cast<UIViewHost *>(child);
            host != nullptr && &host->rootView() == chooser->colorPicker().get())
            return host;
    return nullptr;
}

// Whether the picker's map is on screen: laid out at the first paint, its images rendered off the
// main thread, then faded in. Until then it is invisible and takes no touches.
inline bool mapShown(NBRColorPickerController *chooser) {
    QVColorPickerView &picker = *chooser->colorPicker();
    return picker.hasColorMapView() &&
           static_cast<QVColorMapView &>(picker.colorMapView()).isShown();
}

// A finger's tap on the picker's map, at fractions of its width and height, through the window
// (so the press lands on whatever widget is under it).
inline void tapMap(UIViewHost &host, QVColorPickerView &picker, double across, double down) {
    const CGRect map = picker.colorMapView().frame();
    const QPoint inHost(int(map.minX() + map.width() * across),
                        int(map.minY() + map.height() * down));
    QWidget *window = host.window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, host.mapTo(window, inHost));
}

} // namespace nbrtest
