#pragma once

#include <QDBusConnection>
#include <QString>
#include <QTemporaryDir>

/// A session bus of the test's own: a dbus-daemon that lives as long as the object. Services for bus
/// activation are the `.service` files written into serviceDirectory().
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    /// False when no daemon could be started; the address is then empty.
    bool running() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }
    QString serviceDirectory() const { return m_dir.filePath(QStringLiteral("services")); }

    /// A new connection to the bus, known to QtDBus as `name`; each name is a connection of its own.
    QDBusConnection connect(const QString& name) const;

private:
    QTemporaryDir m_dir;
    qint64 m_pid = 0;
    QString m_address;
    mutable QStringList m_connections;
};
