#pragma once

#include <QString>
#include <functional>

class PSListController;
class PSTableCell;
class PSSpecifier;

// Classes found by name: a bundle's principal class, a specifier's "cellClass" or "detail".
// Bundles register their classes while they load (see PS_REGISTER_CONTROLLER_CLASS).
class PSClassRegistry {
  public:
    using ControllerFactory = std::function<PSListController *()>;
    using CellFactory =
        std::function<PSTableCell *(int style, const QString &reuseIdentifier, PSSpecifier *)>;

    static void registerControllerClass(const QString &name, ControllerFactory factory);
    static void registerCellClass(const QString &name, CellFactory factory);
    static bool hasControllerClass(const QString &name);
    static bool hasCellClass(const QString &name);

    // Null when no class of that name is known.
    static PSListController *createController(const QString &name);
    static PSTableCell *createCell(const QString &name, int style, const QString &reuseIdentifier,
                                   PSSpecifier *specifier);
};

#define PS_REGISTER_CONTROLLER_CLASS(Class)                                                        \
    static const bool Class##Registered = [] {                                                     \
        PSClassRegistry::registerControllerClass(#Class, [] { return new Class; });                \
        return true;                                                                               \
    }()

#define PS_REGISTER_CELL_CLASS(Class)                                                              \
    static const bool Class##Registered = [] {                                                     \
        PSClassRegistry::registerCellClass(                                                        \
            #Class, [](int style, const QString &reuse, PSSpecifier *specifier) {                  \
                return new Class(style, reuse, specifier);                                         \
            });                                                                                    \
        return true;                                                                               \
    }()
