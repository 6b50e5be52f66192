#include "SettingsRootController.h"

#include "DevicePath.h"
#include "NSBundle.h"
#include "PSClassRegistry.h"
#include "UINavigationController.h"

#include <QDir>

namespace {
QString bundlesFolder() {
    return QString::fromStdString(platform::devicePath("/Library/PreferenceBundles"));
}
} // namespace

SettingsRootController::SettingsRootController() {
    setTitle("Settings");
}

QList<PSSpecifierRef> SettingsRootController::specifiers() {
    if (!_specifiers) {
        _specifiers.emplace();
        _specifiers->append(PSSpecifier::emptyGroupSpecifier());
        const QStringList names =
            QDir(bundlesFolder()).entryList({"*.bundle"}, QDir::Dirs, QDir::Name);
        for (const QString &folder : names) {
            const QString name = folder.chopped(7);
            auto row = PSSpecifier::preferenceSpecifierNamed(name, this, nullptr, nullptr, nullptr,
                                                             PSLinkCell, nullptr);
            row->setProperty(name, "bundle");
            _specifiers->append(row);
        }
    }
    return *_specifiers;
}

PSListController *SettingsRootController::controllerForBundleNamed(const QString &name,
                                                                   QString *error) {
    auto bundle = NSBundle::bundleWithPath(QDir(bundlesFolder()).filePath(name + ".bundle"));
    if (!bundle) {
        *error = "no bundle " + name;
        return nullptr;
    }
    if (!bundle->load()) {
        *error = bundle->loadError();
        return nullptr;
    }
    PSListController *page = PSClassRegistry::createController(bundle->principalClassName());
    if (page == nullptr) {
        *error = "no class " + bundle->principalClassName();
        return nullptr;
    }
    page->setBundle(bundle);
    if (page->title().isEmpty())
        page->setTitle(name);
    return page;
}

void SettingsRootController::tableCellTapped(PSSpecifier *specifier) {
    if (specifier == nullptr || navigationController() == nullptr)
        return;
    QString error;
    if (PSListController *page =
            controllerForBundleNamed(specifier->propertyForKey("bundle").toString(), &error))
        navigationController()->pushViewController(page, true);
}
