#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <vector>

/// A notification server on a test's bus that records what it is asked, counts its ids from 1 as real
/// servers do, and sends the signals a user's clicks would.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        uint id = 0;
        uint replaces = 0;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };

    /// Serves on `connection` under the notification service's name; `name` and `capabilities` are what it
    /// says of itself.
    FakeNotificationServer(QDBusConnection connection, QString name, QStringList capabilities);
    ~FakeNotificationServer() override;

    bool serving() const { return m_serving; }
    /// Lets go of the name and the object, as a server that ends.
    void stop();

    void invoke(uint id, const QString& key) { Q_EMIT ActionInvoked(id, key); }

    std::vector<Call> notified;
    std::vector<uint> closed;

public Q_SLOTS:
    QStringList GetCapabilities() { return m_capabilities; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion);
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int expireTimeout);
    void CloseNotification(uint id);

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    QDBusConnection m_connection;
    QString m_name;
    QStringList m_capabilities;
    uint m_nextId = 1;
    bool m_serving = false;
};
