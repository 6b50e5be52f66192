#pragma once

#include <QObject>
#include <initializer_list>

class QSocketNotifier;

namespace platform {

// Turns Unix signals into a Qt signal on the event loop, so a long-lived process can shut down
// cleanly (handlers only write one byte; the work happens in `received`).
class UnixSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalWatcher(std::initializer_list<int> numbers, QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

    // Quits the application when any of `numbers` arrives.
    static void quitApplicationOn(std::initializer_list<int> numbers);

signals:
    void received(int signalNumber);

private:
    void drain();
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace platform
