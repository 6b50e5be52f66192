#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <string>
#include <vector>

// The in-process notification center: observers name a selector taking no argument, and are
// forgotten when they go away or remove themselves.
class NSNotificationCenter {
  public:
    static NSNotificationCenter &defaultCenter();

    // `object` null: any poster.
    void addObserver(QObject *observer, const std::string &selector, const QString &name,
                     const void *object);
    void removeObserver(QObject *observer);
    void postNotificationName(const QString &name, const void *object);

  private:
    struct Entry {
        QPointer<QObject> observer;
        const QObject *key;
        std::string selector;
        QString name;
        const void *object;
    };
    std::vector<Entry> entries_;
};
