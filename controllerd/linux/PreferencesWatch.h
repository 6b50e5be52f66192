#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <string>
#include <sys/stat.h>

namespace controllerd {

// Tells when the preferences file changed, whoever wrote it: the keymap editor posts no
// notification, and every writer replaces the file by a rename, so its folder is watched.
class PreferencesWatch : public QObject {
    Q_OBJECT
public:
    explicit PreferencesWatch(std::string path, QObject *parent = nullptr);

signals:
    void changed();

private:
    void look();

    std::string path_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
    struct stat seen_ {};
};

} // namespace controllerd
