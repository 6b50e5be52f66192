#include "PSClassRegistry.h"

#include "PSListItemsController.h"
#include "PSTableCell.h"

#include <QHash>

namespace {
QHash<QString, PSClassRegistry::ControllerFactory> &controllers() {
    static QHash<QString, PSClassRegistry::ControllerFactory> classes{
        {"PSListItemsController", [] { return new PSListItemsController; }},
    };
    return classes;
}
QHash<QString, PSClassRegistry::CellFactory> &cells() {
    static QHash<QString, PSClassRegistry::CellFactory> classes;
    return classes;
}
} // namespace

void PSClassRegistry::registerControllerClass(const QString &name, ControllerFactory factory) {
    controllers().insert(name, std::move(factory));
}

void PSClassRegistry::registerCellClass(const QString &name, CellFactory factory) {
    cells().insert(name, std::move(factory));
}

bool PSClassRegistry::hasControllerClass(const QString &name) {
    return controllers().contains(name);
}

bool PSClassRegistry::hasCellClass(const QString &name) {
    return cells().contains(name);
}

PSListController *PSClassRegistry::createController(const QString &name) {
    auto found = controllers().constFind(name);
    return found == controllers().cend() ? nullptr : (*found)();
}

PSTableCell *PSClassRegistry::createCell(const QString &name, int style,
                                         const QString &reuseIdentifier, PSSpecifier *specifier) {
    auto found = cells().constFind(name);
    return found == cells().cend() ? nullptr : (*found)(style, reuseIdentifier, specifier);
}
