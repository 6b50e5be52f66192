#include "Selector.h"

#include <QByteArray>
#include <QMetaMethod>
#include <QMetaObject>
#include <algorithm>

namespace platform {
namespace {

QByteArray methodName(std::string_view selector) {
    return QByteArray(selector.data(), static_cast<qsizetype>(selector.find(':') == selector.npos
                                                                  ? selector.size()
                                                                  : selector.find(':')));
}

int argumentCount(std::string_view selector) {
    return static_cast<int>(std::count(selector.begin(), selector.end(), ':'));
}

} // namespace

bool respondsToSelector(const QObject *target, std::string_view selector) {
    if (target == nullptr || selector.empty())
        return false;
    const QByteArray name = methodName(selector);
    const int count = argumentCount(selector);
    const QMetaObject *meta = target->metaObject();
    for (int i = 0; i < meta->methodCount(); ++i) {
        QMetaMethod method = meta->method(i);
        if (method.name() == name && method.parameterCount() == count)
            return true;
    }
    return false;
}

bool performSelector(QObject *target, std::string_view selector, QGenericReturnArgument result,
                     QGenericArgument first, QGenericArgument second) {
    if (!respondsToSelector(target, selector))
        return false;
    const QByteArray name = methodName(selector);
    switch (argumentCount(selector)) {
    case 0:
        return QMetaObject::invokeMethod(target, name.constData(), Qt::DirectConnection, result);
    case 1:
        return QMetaObject::invokeMethod(target, name.constData(), Qt::DirectConnection, result,
                                         first);
    case 2:
        return QMetaObject::invokeMethod(target, name.constData(), Qt::DirectConnection, result,
                                         first, second);
    default:
        return false;
    }
}

} // namespace platform
