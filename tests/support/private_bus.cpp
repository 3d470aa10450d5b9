#include "private_bus.h"

#include "test_files.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

extern char** environ;

PrivateBus::PrivateBus()
{
    QDir(m_dir.path()).mkpath(u"services"_s);
    const QString config = m_dir.filePath(u"bus.conf"_s);
    writeFile(config, uR"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=%1/socket</listen>
  <auth>EXTERNAL</auth>
  <servicedir>%1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)"_s.arg(m_dir.path()).toUtf8());

    int fds[2];
    if (::pipe(fds) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    const QByteArray configArgument = "--config-file=" + QFile::encodeName(config);
    const char* argv[] = {"dbus-daemon", configArgument.constData(), "--nofork", "--print-address=3", nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned == 0) {
        m_pid = pid;
        QByteArray address;
        pollfd readable{fds[0], POLLIN, 0};
        char buffer[512];
        // The daemon prints its address once it accepts connections.
        while (!address.endsWith('\n') && ::poll(&readable, 1, 20'000) > 0) {
            const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
            if (got <= 0)
                break;
            address.append(buffer, got);
        }
        m_address = QString::fromUtf8(address.trimmed());
    }
    ::close(fds[0]);
}

PrivateBus::~PrivateBus()
{
    for (const QString& name : std::as_const(m_connections))
        QDBusConnection::disconnectFromBus(name);
    if (m_pid > 0) {
        ::kill(pid_t(m_pid), SIGTERM);
        ::waitpid(pid_t(m_pid), nullptr, 0);
    }
}

QDBusConnection PrivateBus::connect(const QString& name) const
{
    m_connections += name;
    return QDBusConnection::connectToBus(m_address, name);
}
