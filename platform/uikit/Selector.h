#pragma once

#include <QGenericArgument>
#include <QObject>
#include <string_view>

namespace platform {

// Sends a message named the platform's way ("connectController:", "setPreferenceValue:specifier:")
// to `target`: the part before the first colon names an invokable method, and one argument is
// passed per colon. False when the target is gone or has no such method, which is how an action
// that a page does not implement stays harmless.
bool performSelector(QObject *target, std::string_view selector,
                     QGenericReturnArgument result = QGenericReturnArgument(),
                     QGenericArgument first = QGenericArgument(),
                     QGenericArgument second = QGenericArgument());

// Whether `target` answers `selector`.
bool respondsToSelector(const QObject *target, std::string_view selector);

} // namespace platform
