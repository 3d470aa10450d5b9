#include "tray/tray_handover.h"

#include "panel/watcher_name.h"
#include "tray/tray_process.h"

#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QFile>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

using namespace Qt::StringLiterals;

bool TrayHandover::x11Session()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariable("XDG_SESSION_TYPE") != u"wayland"_s;
}

bool TrayHandover::watcherRunning(const QDBusConnection& bus)
{
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kWatcherService);
    return registered.isValid() && registered.value();
}

QString TrayHandover::become(const QString& name, char** argv)
{
    const QByteArray program = QFile::encodeName(TrayProcess::helperPath(name));
    ::execv(program.constData(), argv);
    return u"cannot start %1: %2"_s.arg(QString::fromLocal8Bit(program), QString::fromLocal8Bit(std::strerror(errno)));
}

WatcherArrival::WatcherArrival(QDBusConnection bus, QObject* parent) : QObject(parent), m_bus(std::move(bus)) {}

void WatcherArrival::start()
{
    m_watch = new QDBusServiceWatcher(kWatcherService, m_bus,
                                      QDBusServiceWatcher::WatchForRegistration, this);
    connect(m_watch, &QDBusServiceWatcher::serviceRegistered, this, &WatcherArrival::found);
    // After connecting: a watcher that comes between the two is still seen.
    if (TrayHandover::watcherRunning(m_bus))
        found();
}

void WatcherArrival::found()
{
    if (!std::exchange(m_said, true))
        Q_EMIT arrived();
}
