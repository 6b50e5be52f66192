#pragma once

#include <QHash>
#include <QString>
#include <QVariantMap>
#include <memory>

// A bundle folder: its Info property list, its resources and its shared library, which
// registers the bundle's classes when it loads.
class NSBundle {
  public:
    // Null when the folder has no readable Info.plist.
    static std::shared_ptr<NSBundle> bundleWithPath(const QString &path);

    QString bundlePath() const { return path_; }
    QVariantMap infoDictionary() const { return info_; }
    QVariant objectForInfoDictionaryKey(const QString &key) const { return info_.value(key); }
    QString executablePath() const;
    // The path of "<name>.<type>" inside the bundle, empty when there is none.
    QString pathForResource(const QString &name, const QString &type) const;

    // The dictionary of the property-list resource "<name>.plist", read once: a bundle's
    // resources do not change while it is in use. Empty when missing or unreadable.
    QVariantMap propertyListResource(const QString &name);

    // Loads the library once; false (with loadError) when it cannot be loaded.
    bool load();
    bool isLoaded() const { return handle_ != nullptr; }
    QString loadError() const { return error_; }
    QString principalClassName() const { return info_.value("NSPrincipalClass").toString(); }

    ~NSBundle();

  private:
    QString path_;
    QVariantMap info_;
    QHash<QString, QVariantMap> resources_;
    void *handle_ = nullptr;
    QString error_;
};
