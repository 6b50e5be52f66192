#pragma once

#include "PSListController.h"

#include <QHash>
#include <memory>

// The Settings app's first page: one row per bundle in "/Library/PreferenceBundles/" under the
// device root; a tap loads the bundle and pushes its principal page.
class SettingsRootController : public PSListController {
    Q_OBJECT
public:
    SettingsRootController();

    QList<PSSpecifierRef> specifiers() override;
    void tableCellTapped(PSSpecifier *specifier) override;

    // Loads "<name>.bundle" and makes its page; null (with `error`) when that fails.
    static PSListController *controllerForBundleNamed(const QString &name, QString *error);
};
