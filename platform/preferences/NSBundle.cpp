#include "NSBundle.h"

#include "PSDefaultsDomain.h"
#include "PlistValue.h"

#include <QDir>
#include <QFileInfo>
#include <dlfcn.h>

std::shared_ptr<NSBundle> NSBundle::bundleWithPath(const QString &path) {
    const auto info =
        platform::readPlistDictionary(QDir(path).filePath("Info.plist").toStdString());
    if (!info)
        return nullptr;
    auto bundle = std::shared_ptr<NSBundle>(new NSBundle);
    bundle->path_ = QDir(path).absolutePath();
    bundle->info_ = PSDefaultsDomain::variantFromPlist(platform::PlistValue(*info)).toMap();
    return bundle;
}

NSBundle::~NSBundle() = default; // a loaded library stays: its classes may still be in use

QString NSBundle::executablePath() const {
    const QString name = info_.value("CFBundleExecutable").toString();
    if (name.isEmpty() || name.contains('/'))
        return {};
    return QDir(path_).filePath(name);
}

QString NSBundle::pathForResource(const QString &name, const QString &type) const {
    if (name.contains('/') || type.contains('/'))
        return {};
    const QString file = QDir(path_).filePath(type.isEmpty() ? name : name + "." + type);
    return QFileInfo(file).isFile() ? file : QString();
}

bool NSBundle::load() {
    if (handle_ != nullptr)
        return true;
    const QString executable = executablePath();
    if (executable.isEmpty()) {
        error_ = "no executable named in Info.plist";
        return false;
    }
    handle_ = ::dlopen(QFile::encodeName(executable).constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char *reason = ::dlerror();
        error_ = reason != nullptr ? QString::fromLocal8Bit(reason) : QString("cannot load");
        return false;
    }
    return true;
}

QVariantMap NSBundle::propertyListResource(const QString &name) {
    auto cached = resources_.constFind(name);
    if (cached != resources_.cend())
        return *cached;
    QVariantMap contents;
    const QString path = pathForResource(name, "plist");
    if (!path.isEmpty())
        if (const auto root = platform::readPlistDictionary(path.toStdString()))
            contents = PSDefaultsDomain::variantFromPlist(platform::PlistValue(*root)).toMap();
    resources_.insert(name, contents);
    return contents;
}
