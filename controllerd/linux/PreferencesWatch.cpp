#include "PreferencesWatch.h"

#include <QFileInfo>

namespace controllerd {
namespace {

bool same(const struct stat &a, const struct stat &b) {
    return a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

} // namespace

PreferencesWatch::PreferencesWatch(std::string path, QObject *parent)
    : QObject(parent), path_(std::move(path)) {
    ::stat(path_.c_str(), &seen_);
    // A burst of writes (a drag's colours) is read once it is over.
    settle_.setSingleShot(true);
    settle_.setInterval(50);
    connect(&settle_, &QTimer::timeout, this, &PreferencesWatch::look);
    const QString file = QString::fromStdString(path_);
    watcher_.addPath(QFileInfo(file).absolutePath());
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_,
            qOverload<>(&QTimer::start));
}

void PreferencesWatch::look() {
    struct stat now {};
    if (::stat(path_.c_str(), &now) != 0)
        now = {};
    if (same(now, seen_))
        return;
    seen_ = now;
    emit changed();
}

} // namespace controllerd
