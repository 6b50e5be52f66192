#include "UIApplication.h"

#include <QDesktopServices>

UIApplication &UIApplication::sharedApplication() {
    static UIApplication application;
    return application;
}

bool UIApplication::openURL(const QUrl &url) {
    if (!url.isValid())
        return false;
    opened_.append(url);
    return recordsOnly_ || QDesktopServices::openUrl(url);
}
