// kivobar-tray: the resident tray process that `kivobar` becomes when it shows the tray. It speaks the
// panels' tray protocol over the session bus itself, so it loads QtCore and QtDBus and nothing more.

#include "control/remote_tray.h"
#include "control/tray_bus_address.h"
#include "panel/panel_tray.h"
#include "platform/memory.h"
#include "service/agent_home.h"
#include "state/instance_lock.h"
#include "tray/missing_tray_watch.h"
#include "tray/tray_handover.h"
#include "tray/tray_process.h"
#include "view/current_desktop.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

void say(const QString& line)
{
    std::fprintf(stderr, "kivobar: %s\n", qPrintable(line));
}

// Asks the widget tray program whether an XEmbed tray is there; `answer` runs on the event loop.
void probeXEmbedTray(QObject* context, std::function<void(bool)> answer)
{
    auto* probe = new QProcess(context);
    probe->setProgram(TrayProcess::helperPath(u"kivobar-xembed"_s));
    probe->setArguments({u"--probe"_s});
    probe->setStandardInputFile(QProcess::nullDevice());
    probe->setStandardOutputFile(QProcess::nullDevice());
    probe->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(probe, &QProcess::finished, context, [probe, answer](int code, QProcess::ExitStatus status) {
        probe->deleteLater();
        answer(status == QProcess::NormalExit && code == 0);
    });
    QObject::connect(probe, &QProcess::errorOccurred, context, [probe, answer](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            probe->deleteLater();
            answer(false);
        }
    });
    probe->start();
}

// Whether a new connection to the session bus can be made: the session is still there.
bool sessionBusReachable()
{
    const QString name = u"kivobar-probe"_s;
    const bool reachable = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name).isConnected();
    QDBusConnection::disconnectFromBus(name);
    return reachable;
}

// The session bus dropped our connection. When the session has ended, so does the tray. When the bus is
// still there, it refused something of ours and the session goes on: the tray starts again on a new
// connection, a few times at most, so that something it keeps doing wrong cannot make it start forever.
void rejoinOrQuit(char** argv)
{
    constexpr int kMostRejoins = 3;
    if (!sessionBusReachable()) {
        say(u"the session bus went away; quitting."_s);
        QCoreApplication::exit(0);
        return;
    }
    const int rejoins = qEnvironmentVariableIntValue("KIVOBAR_REJOINS");
    if (rejoins >= kMostRejoins) {
        say(u"lost its connection to the session bus %1 times; quitting."_s.arg(rejoins + 1));
        QCoreApplication::exit(1);
        return;
    }
    say(u"lost its connection to the session bus; starting again."_s);
    qputenv("KIVOBAR_REJOINS", QByteArray::number(rejoins + 1));
    const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
    ::execv(program.constData(), argv);
    say(u"cannot start again: %1"_s.arg(QString::fromLocal8Bit(std::strerror(errno))));
    QCoreApplication::exit(1);
}

void sayNoTray(CurrentDesktop desktop)
{
    say(u"no system tray is running, so the icon cannot be shown yet; it appears as soon as one starts. "_s
        + Alerts::trayAdvice(desktop));
}

// Says that a tray runs for the home, and has it show the state: started again from a launcher, most
// likely because no icon shows. Only the tray itself is asked, never another holder of its name.
int alreadyRunning(const QString& home)
{
    std::optional<ScriptDirectory> folder = InstanceLock::userDirectory();
    const std::optional<qint64> holder = folder ? InstanceLock::holder(*folder, home) : std::nullopt;
    const RemoteTray running(QDBusConnection::sessionBus(), home, std::move(folder));
    const RemoteTray::Standing standing = running.standing();
    say(u"already running for the agent home %1%2; not starting another."_s.arg(
        home, holder.has_value() || standing.owner ? u" (process %1)"_s.arg(holder.value_or(*standing.owner)) : QString()));
    if (!standing.trusted) {
        say(u"the running tray cannot be reached on the session bus to show its state%1."_s.arg(
            standing.owner ? u": process %1 holds its name"_s.arg(*standing.owner) : QString()));
    } else if (running.activate().kind != RemoteTray::Answer::Kind::Done) {
        say(u"the running tray did not show its state."_s);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    tuneMemoryForLongRuns();
    QCoreApplication application(argc, argv);
    TrayProcess::prepareApplication();

    const QString home = QDir(agentHomeFromEnvironment()).absolutePath();
    const std::optional<ScriptDirectory> lockDirectory = InstanceLock::userDirectory();
    InstanceLock lock(lockDirectory, home);
    if (!lock.held() && !lock.heldElsewhere()) {
        say(u"cannot take the lock that keeps one tray per agent home (%1); starting without it."_s.arg(
            lockDirectory ? u"the lock file in %1 cannot be opened"_s.arg(lockDirectory->path())
                          : u"neither /run/user/%1 nor ~/.cache/kivobar is a folder only this user can reach"_s.arg(
                                ::geteuid())));
    }
    if (lock.heldElsewhere())
        return alreadyRunning(home);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        say(u"cannot show the tray: no session bus (%1). Start it from a desktop session, or use "
            "kivobar --status."_s.arg(bus.lastError().message()));
        return 1;
    }
    // Where the lock file could not be taken, the home's own name on the session bus is the lock: whoever owns
    // it is the tray of this home in this session. Where the lock is ours, we are the tray, whoever holds the
    // name: the service on the bus waits in line for it and says who has it.
    if (!lock.held()) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> claimed = bus.interface()->registerService(
            trayBusAddress(home).service, QDBusConnectionInterface::DontQueueService,
            QDBusConnectionInterface::DontAllowReplacement);
        if (claimed.isValid() && claimed.value() != QDBusConnectionInterface::ServiceRegistered)
            return alreadyRunning(home);
    }
    const CurrentDesktop desktop = currentDesktop(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    PanelTray tray(bus, TrayProcess::iconThemePath(), iconSourceFor(desktop));
    if (const std::optional<QString> refusal = tray.start()) {
        say(u"cannot show the tray on the session bus: %1"_s.arg(*refusal));
        return 1;
    }
    // A tray whose session has ended has nobody to show anything to, and must not hold the instance lock.
    QObject::connect(&tray, &PanelTray::busLost, &application, [argv] { rejoinOrQuit(argv); });
    MissingTrayWatch missingTray(sessionBusAge(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                               qEnvironmentVariable("XDG_RUNTIME_DIR"), std::chrono::system_clock::now()));
    QObject::connect(&tray, &PanelTray::hostPresenceChanged, &missingTray, &MissingTrayWatch::setHostPresent);
    TrayProcess app(tray, home);
    QObject::connect(&tray, &PanelTray::hostPresenceChanged, &application, [&app](bool present) {
        if (present)
            app.controller().trayShown();
    });
    QObject::connect(&missingTray, &MissingTrayWatch::missing, &application, [&app, desktop] {
        sayNoTray(desktop);
        app.controller().trayMissing(desktop);
    });
    QObject::connect(&missingTray, &MissingTrayWatch::unseenSinceStart, &application, [&application, &tray, &bus, &lock, argv] {
        // Wherever a watcher runs, the panel protocol shows the item, however late its panel. Only a desktop with
        // none may have a tray that knows XEmbed alone, and should a watcher come after all, the widget tray hands
        // the tray back. Only at start, while no action of ours can be under way.
        if (!TrayHandover::x11Session() || TrayHandover::watcherRunning(bus))
            return;
        probeXEmbedTray(&application, [&tray, &bus, &lock, argv](bool found) {
            // Looked at again: a panel may have come while the probe ran.
            if (!found || tray.hostPresent() || TrayHandover::watcherRunning(bus))
                return;
            lock.keepAcrossExec(true);
            say(TrayHandover::become(u"kivobar-xembed"_s, argv));
            lock.keepAcrossExec(false);
        });
    });
    return QCoreApplication::exec();
}
