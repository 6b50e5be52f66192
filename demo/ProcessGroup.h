#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

// The processes of a run, each with its output kept in a log file of its own and its stdout
// lines handed to a listener as they come. Children die with this process (also on SIGKILL of
// it), and `stopAll` ends them newest first.
class ProcessGroup : public QObject {
    Q_OBJECT
public:
    using LineListener = std::function<void(const QString &line)>;
    // True for the line that says the process is ready; its own line is not passed on.
    using ReadyCheck = std::function<bool(const QString &line)>;
    static bool saysReady(const QString &line) { return line == "ready"; }

    ProcessGroup(QString logFolder, QStringList environment);
    ~ProcessGroup() override;

    // Starts `program` and, unless `ready` is empty, waits up to 10 s for its ready line; null
    // (with `error`) when it cannot start, ends early or never gets ready.
    QProcess *start(const QString &name, const QString &program, const QStringList &arguments,
                    ReadyCheck ready, LineListener listener, QString *error);
    // For the processes started after this.
    void setEnvironmentVariable(const QString &name, const QString &value);
    // SIGTERM to each, newest first, then SIGKILL to any still running after 3 s.
    void stopAll();

    QString logPath(const QString &name) const;

private:
    struct Child {
        QString name;
        std::unique_ptr<QProcess> process;
        QByteArray pending;
        LineListener listener;
        ReadyCheck readyCheck;
        bool ready = false;
    };
    void readFrom(Child &child);

    QString logFolder_;
    QStringList environment_;
    std::vector<std::unique_ptr<Child>> children_;
};
