#pragma once

#include <QString>

// Posted on the default notification center when the application leaves the screen.
inline const QString UIApplicationDidEnterBackgroundNotification =
    QStringLiteral("UIApplicationDidEnterBackgroundNotification");
