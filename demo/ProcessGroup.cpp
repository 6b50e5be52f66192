#include "ProcessGroup.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

ProcessGroup::ProcessGroup(QString logFolder, QStringList environment)
    : logFolder_(std::move(logFolder)), environment_(std::move(environment)) {}

ProcessGroup::~ProcessGroup() {
    stopAll();
}

QString ProcessGroup::logPath(const QString &name) const {
    return logFolder_ + '/' + name + ".log";
}

QProcess *ProcessGroup::start(const QString &name, const QString &program,
                              const QStringList &arguments, ReadyCheck ready, LineListener listener,
                              QString *error) {
    auto child = std::make_unique<Child>();
    child->name = name;
    child->listener = std::move(listener);
    child->readyCheck = std::move(ready);
    child->ready = !child->readyCheck;
    child->process = std::make_unique<QProcess>();
    QProcess *process = child->process.get();
    process->setProgram(program);
    process->setArguments(arguments);
    process->setEnvironment(environment_);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setStandardErrorFile(logPath(name + ".stderr"));
    const pid_t parent = ::getpid();
    process->setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(1);
    });
    Child *raw = child.get();
    connect(process, &QProcess::readyReadStandardOutput, this, [this, raw] { readFrom(*raw); });
    children_.push_back(std::move(child));

    process->start();
    if (!process->waitForStarted(5000)) {
        *error = name + ": cannot start " + program + " (" + process->errorString() + ")";
        return nullptr;
    }
    if (raw->ready)
        return process;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(process, &QProcess::readyReadStandardOutput, &loop, [&] {
        if (raw->ready)
            loop.quit();
    });
    connect(process, &QProcess::finished, &loop, &QEventLoop::quit);
    timeout.start(10000);
    if (!raw->ready)
        loop.exec();
    if (!raw->ready) {
        *error = name +
                 (process->state() == QProcess::NotRunning ? " ended before it was ready"
                                                           : " never printed \"ready\"") +
                 " (see " + logPath(name + ".stderr") + ")";
        return nullptr;
    }
    return process;
}

void ProcessGroup::setEnvironmentVariable(const QString &name, const QString &value) {
    const QString prefix = name + '=';
    environment_.erase(
        std::remove_if(environment_.begin(), environment_.end(),
                       [&](const QString &entry) { return entry.startsWith(prefix); }),
        environment_.end());
    environment_ << prefix + value;
}

void ProcessGroup::readFrom(Child &child) {
    const QByteArray chunk = child.process->readAllStandardOutput();
    QFile log(logPath(child.name));
    if (log.open(QIODevice::Append))
        log.write(chunk);
    child.pending += chunk;
    qsizetype end;
    while ((end = child.pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(child.pending.left(end));
        child.pending.remove(0, end + 1);
        if (!child.ready && child.readyCheck(line)) {
            child.ready = true;
            continue;
        }
        if (child.listener)
            child.listener(line);
    }
}

void ProcessGroup::stopAll() {
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        QProcess *process = (*it)->process.get();
        if (process->state() == QProcess::NotRunning)
            continue;
        ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(1000);
        }
    }
    children_.clear();
}
