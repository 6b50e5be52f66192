#pragma once

#include <QObject>
#include <initializer_list>
#include <vector>

namespace platform {

// Turns Unix signals into a Qt signal on the event loop, so a long-lived process can shut down
// cleanly (the handler only writes one byte; the work happens in `received`). Each watcher
// hears only the signals it was made for.
class UnixSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalWatcher(std::initializer_list<int> numbers, QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

    // Quits the application when any of `numbers` arrives.
    static void quitApplicationOn(std::initializer_list<int> numbers);

    bool watches(int number) const;

signals:
    void received(int signalNumber);

private:
    std::vector<int> numbers_;
};

} // namespace platform
