#include "Walkthrough.h"

#include "NBRConstants.h"
#include "PlistValue.h"
#include "UnixSignalWatcher.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <limits>

namespace {

const QString kControlService = QStringLiteral("platform.preferences");
const QString kControlPath = QStringLiteral("/Preferences");
const QString kControlInterface = QStringLiteral("platform.preferences.Control");
constexpr const char *kConnectionModeKey = "NBRConnectionMode";
constexpr int kStepTimeoutMs = 15000;

// "a\"b" -> a"b, as the recording server writes its fields.
QString unquote(const QString &field) {
    QString out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 1 < field.size()) {
            const QChar next = field[++i];
            out += next == 'n' ? QChar('\n') : next == 't' ? QChar('\t') : next;
        } else {
            out += field[i];
        }
    }
    return out;
}

QString oneLine(QString text) {
    return text.replace('\n', " / ");
}

void ignoreLine(const QString &) {}

// Processes that carry this run's device root, the pairing tool that the Settings app started
// among them.
// This run's processes (their environment carries its root), those of `program` only when given.
int processesUnder(const QString &root, const QString &program = {}) {
    const QByteArray mark = "NIMBREL_ROOT=" + root.toUtf8();
    int count = 0;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!pid.front().isDigit() ||
            (!program.isEmpty() && QFile::symLinkTarget("/proc/" + pid + "/exe") != program))
            continue;
        QFile environ("/proc/" + pid + "/environ");
        if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(mark))
            ++count;
    }
    return count;
}

} // namespace

Walkthrough::Walkthrough(WalkthroughPaths paths, QString outputFolder, bool verbose,
                         bool realController, std::optional<QByteArray> pairedAddress)
    : paths_(std::move(paths)), outputFolder_(std::move(outputFolder)),
      root_(QDir::tempPath() + "/nbr-walk.XXXXXX"),
      daemonLogPath_(outputFolder_ + "/logs/controller-daemon-received.log"), verbose_(verbose),
      realController_(realController), pairedAddress_(std::move(pairedAddress)) {
    auto *watcher = new platform::UnixSignalWatcher({SIGINT, SIGTERM}, this);
    connect(watcher, &platform::UnixSignalWatcher::received, this, [this] { interrupted_ = true; });
}

Walkthrough::~Walkthrough() {
    stop();
}

void Walkthrough::say(const QString &line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

bool Walkthrough::start(bool onScreen, QString *error) {
    byHand_ = onScreen;
    if (!prepareRoot(error))
        return false;
    clearOutput();
    processes_ = std::make_unique<ProcessGroup>(outputFolder_ + "/logs",
                                                environmentFor(onScreen).toStringList());
    if (!startBus(error))
        return false;
    const QString realServer = onScreen ? QStandardPaths::findExecutable("dunst") : QString();
    if (!startNotificationServer(realServer, error) || !startServices(error) ||
        !startSettings(error))
        return false;
    say("Started: session bus, " +
        QString(realServer.isEmpty() ? "recording notification server" : "dunst") +
        ", SpringBoard with NBRSBSupport, " +
        (realController_ ? QString("BTstack on BlueZ (nbr-btstackd), controller daemon on BlueZ "
                                   "and the kernel")
                         : QString("BTstack simulator (a DualShock 4 in range), controller daemon")) +
        ", Settings with Nimbrel.bundle");
    return true;
}

bool Walkthrough::prepareRoot(QString *error) {
    if (!root_.isValid()) {
        *error = "cannot make a device root under " + QDir::tempPath();
        return false;
    }
    const QString root = root_.path();
    for (const char *folder :
         {"/tmp", "/var/mobile/Library/Preferences", "/usr/bin",
          "/Library/MobileSubstrate/DynamicLibraries", "/Library/PreferenceBundles", "/run"})
        QDir().mkpath(root + folder);
    QFile::setPermissions(root + "/run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const bool placed =
        QFile::copy(paths_.bannerPlugin, root + "/Library/MobileSubstrate/DynamicLibraries/" +
                                             QFileInfo(paths_.bannerPlugin).fileName()) &&
        QFile::link(paths_.bundle, root + "/Library/PreferenceBundles/Nimbrel.bundle") &&
        QFile::link(paths_.discoveryTool, root + NBRDiscoveryToolPath);
    if (!placed) {
        *error = "cannot install the deliverables under " + root;
        return false;
    }
    if (pairedAddress_) {
        const platform::PlistValue::Data address(pairedAddress_->begin(), pairedAddress_->end());
        const platform::PlistValue preferences(platform::PlistValue::Dictionary{
            {NBRControllerTypeKey, std::int32_t{NBRControllerTypeDualShock4}},
            {NBRBluetoothAddressKey, address}});
        if (!platform::writePlistAtomically((root + NBRPreferencesPath).toStdString(),
                                            preferences, platform::PlistFormat::Binary)) {
            *error = "cannot store the controller's address under " + root;
            return false;
        }
    }
    return true;
}

void Walkthrough::clearOutput() {
    QDir output(outputFolder_);
    output.mkpath("logs");
    for (const QString &old : output.entryList({"*.png"}, QDir::Files))
        output.remove(old);
    for (const QString &old : QDir(outputFolder_ + "/logs").entryList({"*.log"}, QDir::Files))
        QFile::remove(outputFolder_ + "/logs/" + old);
}

QProcessEnvironment Walkthrough::environmentFor(bool onScreen) const {
    const QString root = root_.path();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NIMBREL_ROOT", root);
    environment.remove("DBUS_SESSION_BUS_ADDRESS");
    if (!environment.contains("XDG_RUNTIME_DIR"))
        environment.insert("XDG_RUNTIME_DIR", root + "/run");
    if (!onScreen)
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    return environment;
}

bool Walkthrough::startBus(QString *error) {
    QString address;
    if (!processes_->start(
            "dbus-daemon", "dbus-daemon", {"--session", "--nofork", "--print-address=1"},
            [&address](const QString &line) {
                address = line;
                return line.startsWith("unix:");
            },
            nullptr, error))
        return false;
    processes_->setEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS", address);
    bus_ = QDBusConnection::connectToBus(address, "walkthrough");
    if (!bus_->isConnected()) {
        *error = "cannot reach the private session bus at " + address;
        return false;
    }
    say("Device root " + root_.path() + ", private session bus " + address);
    return true;
}

bool Walkthrough::startNotificationServer(const QString &realServer, QString *error) {
    if (!realServer.isEmpty()) {
        if (!processes_->start("notification-server", realServer, {}, nullptr, nullptr, error))
            return false;
        waitUntil(
            [this] {
                return bus_->interface()
                    ->isServiceRegistered("org.freedesktop.Notifications")
                    .value();
            },
            5000);
        return true;
    }
    static const QRegularExpression fields(
        R"re( summary="((?:[^"\\]|\\.)*)" body="((?:[^"\\]|\\.)*)")re");
    auto banner = [this](const QString &line) {
        const auto match = fields.match(line);
        const QString text = match.hasMatch() ? unquote(match.captured(2)) : line;
        banners_ << text;
        say("  banner: \"" + oneLine(text) + '"');
    };
    return processes_->start("notification-server", paths_.notificationRecorder, {},
                             ProcessGroup::saysReady, banner, error);
}

bool Walkthrough::startServices(QString *error) {
    const QStringList observed = {NBRPreferencesChangedNotification,
                                  NBRInitBluetoothNotification,
                                  NBRFailureNotification,
                                  NBRSearchingNotification,
                                  NBRControllerDetectedNotification,
                                  NBRDisconnectedNotification};
    auto notification = [this](const QString &name) {
        notifications_ << name;
        say("  notification: " + name);
    };
    return processes_->start("springboard", paths_.springboard, {}, ProcessGroup::saysReady,
                             ignoreLine, error) &&
           (realController_
                ? processes_->start("btstack-bridge", paths_.btstackBridge, {},
                                    ProcessGroup::saysReady, ignoreLine, error)
                : processes_->start("btstack-simulator", paths_.btstackSimulator,
                                    {"--scenario", paths_.scenario}, ProcessGroup::saysReady,
                                    ignoreLine, error)) &&
           processes_->start("controller-daemon", paths_.controllerDaemon,
                             realController_
                                 ? QStringList{"--log", daemonLogPath_, "--backend", "linux"}
                                 : QStringList{"--log", daemonLogPath_, "--connect-delay", "800"},
                             ProcessGroup::saysReady, ignoreLine, error) &&
           processes_->start("notifications", paths_.notifyutil, QStringList{"-w"} + observed,
                             ProcessGroup::saysReady, notification, error);
}

bool Walkthrough::startSettings(QString *error) {
    QProcess *settings = processes_->start("settings", paths_.preferences, {"--open", "Nimbrel"},
                                           ProcessGroup::saysReady, ignoreLine, error);
    if (settings == nullptr)
        return false;
    connect(settings, &QProcess::finished, this, [this] { preferencesEnded_ = true; });
    return true;
}

void Walkthrough::stop() {
    if (!processes_)
        return;
    processes_->stopAll();
    processes_.reset();
    // An interrupted pairing tool takes its 2 s to shut down; the root goes only after it.
    QElapsedTimer clock;
    clock.start();
    while (processesUnder(root_.path()) > 0 && clock.elapsed() < 5000)
        QThread::msleep(50);
}

bool Walkthrough::waitUntil(const std::function<bool()> &condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        pollDaemonLog();
        if (condition())
            return true;
        if (interrupted_ || clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void Walkthrough::pollDaemonLog() {
    QFile log(daemonLogPath_);
    if (!log.open(QIODevice::ReadOnly) || !log.seek(daemonLogOffset_))
        return;
    const QByteArray chunk = log.readAll();
    const qsizetype end = chunk.lastIndexOf('\n');
    if (end < 0)
        return;
    daemonLogOffset_ += end + 1;
    for (const QByteArray &line : chunk.left(end).split('\n')) {
        daemonLines_ << QString::fromUtf8(line);
        // By hand, a person wants the controller's state, not the bytes that led to it.
        const bool stateChange = line.startsWith("controller ") || line.startsWith("light bar ");
        if (!byHand_ || verbose_ || stateChange)
            say("  controller daemon: " + daemonLines_.last());
    }
}

void Walkthrough::reportWindow() {
    const QString text = hud();
    if (text != toldHud_ && !text.isEmpty())
        say("  HUD: \"" + oneLine(text) + '"');
    toldHud_ = text;
    const QStringList shown = alerts();
    for (const QString &alert : shown)
        if (!toldAlerts_.contains(alert))
            say("  alert: \"" + oneLine(alert.section('\t', 0, 0)) + "\": \"" +
                oneLine(alert.section('\t', 1)) + '"');
    toldAlerts_ = shown;
}

QVariant Walkthrough::call(const QString &method, const QVariantList &arguments) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(kControlService, kControlPath, kControlInterface, method);
    message.setArguments(arguments);
    const QDBusMessage reply = bus_->call(message, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
               ? reply.arguments().first()
               : QVariant();
}

bool Walkthrough::tap(const QString &row) {
    return call("Tap", {row}).toBool();
}

QString Walkthrough::title() {
    return call("Title").toString();
}

QStringList Walkthrough::rows() {
    return call("Rows").toStringList();
}

bool Walkthrough::hasRow(const QString &identifier, const QString &name) {
    for (const QString &row : rows()) {
        const QStringList parts = row.split('\t');
        if (parts.size() == 3 && parts[0] == identifier && (name.isEmpty() || parts[1] == name) &&
            parts[2] == "1")
            return true;
    }
    return false;
}

QString Walkthrough::hud() {
    return call("Hud").toString();
}

QStringList Walkthrough::alerts() {
    return call("Alerts").toStringList();
}

QString Walkthrough::hudReading() {
    return "the HUD reads \"" + oneLine(hud()) + '"';
}

bool Walkthrough::awaitHud(const QString &prefix, QString &why) {
    if (!waitUntil([&] { return hud().startsWith(prefix); }, kStepTimeoutMs)) {
        why = hudReading();
        return false;
    }
    say("  HUD: \"" + oneLine(hud()) + '"');
    return true;
}

bool Walkthrough::screenshot(const QString &name, QString &why) {
    const QString path = outputFolder_ + '/' + name + ".png";
    if (!call("Screenshot", {path}).toBool() || !QFileInfo(path).isFile()) {
        why = "no screenshot";
        return false;
    }
    say("  screenshot: " + path);
    return true;
}

std::optional<qint64> Walkthrough::storedInteger(const char *key) {
    auto file = platform::readPlistDictionary((root_.path() + NBRPreferencesPath).toStdString());
    if (!file || !file->count(key))
        return std::nullopt;
    const std::optional<std::int64_t> value = file->at(key).integer();
    return value ? std::optional<qint64>(*value) : std::nullopt;
}

QByteArray Walkthrough::storedData(const char *key) {
    auto file = platform::readPlistDictionary((root_.path() + NBRPreferencesPath).toStdString());
    const platform::PlistValue::Data *bytes =
        file && file->count(key) ? file->at(key).data() : nullptr;
    if (bytes == nullptr)
        return {};
    return QByteArray(reinterpret_cast<const char *>(bytes->data()),
                      static_cast<qsizetype>(bytes->size()));
}

// Another run's tool (tests run side by side) is not this one's.
bool Walkthrough::toolRunning() {
    return processesUnder(root_.path(), QFileInfo(paths_.discoveryTool).canonicalFilePath()) > 0;
}

bool Walkthrough::choose(const char *listRow, const QString &listTitle, const QString &choice,
                         const char *key, qint64 value, QString &why) {
    const qsizetype changes = notifications_.count(NBRPreferencesChangedNotification);
    if (!tap(listRow) || !waitUntil([&] { return title() == listTitle; }, kStepTimeoutMs)) {
        why = "the \"" + listTitle + "\" list did not open";
        return false;
    }
    if (!tap(choice) || !waitUntil([&] { return storedInteger(key) == value; }, kStepTimeoutMs)) {
        why = QString("the preferences file never held %1 = %2").arg(key).arg(value);
        return false;
    }
    say(QString("  preferences file: %1 = %2").arg(key).arg(value));
    if (!waitUntil(
            [&] { return notifications_.count(NBRPreferencesChangedNotification) > changes; },
            kStepTimeoutMs)) {
        why = QString("no %1 after the choice").arg(NBRPreferencesChangedNotification);
        return false;
    }
    return true;
}

bool Walkthrough::step(int number, const QString &title,
                       const std::function<bool(QString &)> &body) {
    say(QString("\n[%1/8] %2").arg(number).arg(title));
    QElapsedTimer clock;
    clock.start();
    QString why;
    const bool passed = !interrupted_ && body(why) && !interrupted_;
    records_ << StepRecord{number, title, clock.elapsed(), passed};
    if (passed)
        say(QString("  passed in %1 s").arg(clock.elapsed() / 1000.0, 0, 'f', 2));
    else
        say("  FAILED: " + (interrupted_ ? QString("interrupted") : why));
    return passed;
}

int Walkthrough::runScripted() {
    struct ScriptedStep {
        const char *title;
        bool (Walkthrough::*body)(QString &why);
    };
    static constexpr ScriptedStep kSteps[] = {
        {"Set the controller type to 1, PS4 Controller (DualShock 4)",
         &Walkthrough::chooseControllerType},
        {"The page shows \"Pair Controller\" and the DualShock 4 group", &Walkthrough::checkPage},
        {"Tap \"Pair Controller\": the HUD asks to wait for Bluetooth, nbrdiscovery runs",
         &Walkthrough::tapPair},
        {"Bluetooth is on, the inquiry is set up (state 4): prepare the controller",
         &Walkthrough::awaitStartingSearch},
        {"The inquiry runs (state 0): the search prompt for a DualShock 4",
         &Walkthrough::awaitSearching},
        {"The DualShock 4 answers: its address is stored and the tool pairs with it",
         &Walkthrough::awaitStoredAddress},
        {"The success alert names the PS button; the page interrupts nbrdiscovery",
         &Walkthrough::checkSuccessAlert},
        {"Connection mode Manual, tap \"Connect Controller\": connect, then the light bar",
         &Walkthrough::connectManually},
    };
    bool passed = true;
    for (int i = 0; passed && i < int(std::size(kSteps)); ++i)
        passed = step(i + 1, kSteps[i].title,
                      [&](QString &why) { return (this->*kSteps[i].body)(why); });
    printSummary();
    if (interrupted_)
        return 130;
    say(passed ? "  All 8 steps passed." : "  The run stopped at a failed step.");
    return passed ? 0 : 1;
}

bool Walkthrough::chooseControllerType(QString &why) {
    if (!choose(NBRControllerTypeSpecifierID, "Controller Type", "PS4 Controller (DualShock 4)",
                NBRControllerTypeKey, NBRControllerTypeDualShock4, why) ||
        !screenshot("1-controller-type", why))
        return false;
    call("Back");
    return waitUntil([&] { return title() == "Nimbrel"; }, kStepTimeoutMs) ||
           (why = "the page did not come back", false);
}

bool Walkthrough::checkPage(QString &why) {
    const bool shown = waitUntil(
        [&] {
            return hasRow(NBRPairSpecifierID, "Pair Controller") &&
                   hasRow(NBRDS4GroupID, "DualShock 4") &&
                   hasRow(NBRAmbientColorID, "Ambient LED Color") &&
                   hasRow(NBRLEDColorID, "Choose LED Color");
        },
        kStepTimeoutMs);
    if (!shown) {
        why = "rows on the page: " + rows().join(" | ");
        return false;
    }
    say("  rows: Pair Controller; DualShock 4: Ambient LED Color, Choose LED Color");
    return screenshot("2-page", why);
}

bool Walkthrough::tapPair(QString &why) {
    if (!tap(NBRPairSpecifierID)) {
        why = hudReading();
        return false;
    }
    if (!awaitHud("Activating Bluetooth", why) || !screenshot("3-activating-bluetooth", why))
        return false;
    return waitUntil([&] { return toolRunning(); }, kStepTimeoutMs) ||
           (why = "no nbrdiscovery process", false);
}

bool Walkthrough::awaitStartingSearch(QString &why) {
    // A radio that answers at once may have the search running before the prompt is seen.
    const auto shown = [&] {
        const QString text = hud();
        return text.startsWith("Starting Search") || text.startsWith("Searching...");
    };
    if (!waitUntil(shown, kStepTimeoutMs)) {
        why = hudReading();
        return false;
    }
    say("  HUD: \"" + oneLine(hud()) + '"');
    return screenshot("4-starting-search", why);
}

bool Walkthrough::awaitSearching(QString &why) {
    return awaitHud("Searching...", why) && screenshot("5-searching", why);
}

bool Walkthrough::awaitStoredAddress(QString &why) {
    if (!waitUntil([&] { return storedData(NBRBluetoothAddressKey).size() == 6; },
                   kStepTimeoutMs)) {
        why = "no address in the preferences file";
        return false;
    }
    say("  preferences file: PS4BluetoothAddress = " +
        QString(storedData(NBRBluetoothAddressKey).toHex(':')));
    return screenshot("6-paired", why);
}

bool Walkthrough::checkSuccessAlert(QString &why) {
    if (!waitUntil([&] { return !alerts().isEmpty() && hud().isEmpty(); }, kStepTimeoutMs)) {
        why = "no alert with the HUD hidden";
        return false;
    }
    if (!waitUntil([&] { return !toolRunning(); }, kStepTimeoutMs)) {
        why = "nbrdiscovery is still running";
        return false;
    }
    say("  nbrdiscovery has ended");
    const QStringList shown = alerts();
    for (const QString &alert : shown)
        say("  alert: \"" + oneLine(alert.section('\t', 0, 0)) + "\": \"" +
            oneLine(alert.section('\t', 1)) + '"');
    if (!shown.first().contains("press PS when prompted")) {
        why = "the alert does not name the PS button";
        return false;
    }
    if (!screenshot("7-success-alert", why))
        return false;
    while (call("DismissAlert").toBool())
        waitUntil([] { return false; }, 50);
    return alerts().isEmpty() || (why = "an alert stays", false);
}

bool Walkthrough::connectManually(QString &why) {
    if (!choose(NBRConnectionModeSpecifierID, "Connection Mode", "Manual", kConnectionModeKey,
                NBRConnectionModeManual, why))
        return false;
    call("Back");
    if (!waitUntil([&] { return hasRow(NBRConnectID, "Connect Controller"); }, kStepTimeoutMs)) {
        why = "no \"Connect Controller\" button";
        return false;
    }
    if (!tapConnect(why))
        return false;
    waitUntil([&] { return banners_.size() >= 2; }, 2000);
    return screenshot("8-connected", why);
}

bool Walkthrough::tapConnect(QString &why) {
    const qsizetype received = daemonLines_.size();
    if (!tap(NBRConnectID)) {
        why = "the connect button cannot be tapped";
        return false;
    }
    const bool connected =
        waitUntil([&] { return hasRow(NBRConnectID, "Disconnect Controller"); }, 25000);
    // The button's title turns with the connect's answer; the colour follows on that connection
    // a moment later.
    waitUntil(
        [&] {
            return daemonLines_.mid(received)
                       .filter(QRegularExpression("set-light-color"))
                       .size() >= 1;
        },
        3000);
    const QStringList exchange = daemonLines_.mid(received);
    const bool sentConnect =
        exchange.filter(QRegularExpression("recv=20 .* connect type=1")).size() == 1;
    const bool sentColour =
        exchange.filter(QRegularExpression("recv=16 .* set-light-color")).size() == 1;
    if (!connected || !sentConnect || !sentColour ||
        !notifications_.contains(NBRInitBluetoothNotification)) {
        why = QString("connected: %1, connect sent: %2, colour sent: %3, %4 posted: %5")
                  .arg(connected)
                  .arg(sentConnect)
                  .arg(sentColour)
                  .arg(NBRInitBluetoothNotification)
                  .arg(notifications_.contains(NBRInitBluetoothNotification));
        return false;
    }
    return true;
}

void Walkthrough::printSummary() {
    say("\nSummary");
    for (const StepRecord &record : records_)
        say(QString("  %1  %2  %3 s  %4")
                .arg(record.number)
                .arg(record.passed ? "passed" : "FAILED")
                .arg(record.milliseconds / 1000.0, 5, 'f', 2)
                .arg(record.title));
    say("  The controller daemon received:");
    for (const QString &line : daemonLines_)
        if (line.contains(" recv="))
            say("    " + line);
    say(QString("  Banners: %1; notifications: %2; screenshots and logs: %3")
            .arg(banners_.size())
            .arg(notifications_.size())
            .arg(QDir(outputFolder_).absolutePath()));
}

int Walkthrough::runByHand() {
    const QString pairing =
        realController_ ? "hold the controller's Share and PS buttons until its light bar "
                          "flashes, tap Pair Controller and follow the texts"
                        : "tap Pair Controller and follow the texts";
    const QString steps =
        pairedAddress_
            ? "The DualShock 4 " + pairedAddress_->toHex(':') +
                  " is stored as paired. Set Connection Mode to Manual, press the controller's "
                  "PS button and tap Connect Controller; then tap Choose LED Color and drag on "
                  "the map: the light bar follows."
            : "Set Controller Type to PS4 Controller (DualShock 4), " + pairing +
                  "; then set Connection Mode to Manual and tap Connect Controller" +
                  (realController_ ? " (Choose LED Color and a drag on the map: the light bar "
                                     "follows)."
                                   : ".");
    say("\nThe Settings window shows the Nimbrel page. Do the run by hand. " + steps +
        " What the window shows (progress "
        "texts, alerts), notifications and the controller's connection and light-bar colour "
        "appear here" +
        QString(verbose_ ? ", with every message the controller daemon receives" : "") +
        ". Close the window or press Ctrl-C to end.");
    // The window is asked twenty times a second: a progress text may last only a moment.
    QElapsedTimer sinceLook;
    waitUntil(
        [&] {
            if (preferencesEnded_)
                return true;
            if (!sinceLook.isValid() || sinceLook.elapsed() >= 50) {
                sinceLook.start();
                reportWindow();
            }
            return false;
        },
        std::numeric_limits<int>::max());
    return interrupted_ ? 130 : 0;
}
