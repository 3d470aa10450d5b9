#pragma once

#include "platform/notifier.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <deque>
#include <optional>

class QDBusMessage;
class QDBusServiceWatcher;

/// What a notification server does with what it is sent, as it says of itself.
struct NotificationServerTraits {
    bool actions = false;           ///< shows buttons at all
    bool bodyMarkup = false;        ///< reads the body as markup
    bool defaultIsButton = false;   ///< draws the "default" action as a button, not as the click on the bubble
};

/// The traits of a server from its answers to GetServerInformation (its name) and GetCapabilities.
NotificationServerTraits notificationServerTraits(const QString& serverName, const QStringList& capabilities);

/// The action list the server is sent for `notification`: the click as "default", then the buttons; where
/// the server draws "default" as a button, the button the click picks goes as "default", so it shows once.
QStringList wireActions(const Notification& notification, const NotificationServerTraits& server);

/// Notifications through the freedesktop notification service on the session bus. A server that is
/// started on demand is started by the first notification; a server that comes or is replaced later is
/// asked afresh what it can do, and what the one before it showed is forgotten. A notification that takes
/// the place of one the server has not yet answered for waits for that answer, and the next one in its place
/// takes over its wait: however many come meanwhile, one shows.
class FreedesktopNotifier : public QObject, public Notifier {
    Q_OBJECT

public:
    /// Notifications waiting for a server to say what it can do; beyond this, the oldest are dropped.
    static constexpr size_t kMaxWaiting = 8;

    /// `desktopEntry` names the app's desktop entry (no ".desktop"), so the desktop can tell whose
    /// notifications they are; `icon` is an icon-theme name.
    FreedesktopNotifier(QDBusConnection bus, QString appName, QString desktopEntry, QString icon,
                        QObject* parent = nullptr);

    Id notify(const Notification& notification, ActionHandler onAction) override;
    void close(Id id) override;
    bool settled() const override;

private Q_SLOTS:
    // The receivers of the service's D-Bus signals, which need slots by name.
    void onActionInvoked(uint serverId, const QString& key, const QDBusMessage& message);
    void onNotificationClosed(uint serverId, uint reason, const QDBusMessage& message);

private:
    struct Shown {
        uint serverId = 0;  // 0 until the server answers
        QString server;     // the connection that gave serverId
        QSet<QString> keys; // the keys the server was sent
        QString clickAction;
        ActionHandler onAction;
        bool acted = false;  // an action ran; no other will
    };

    void onOwnerChanged(const QString& owner);
    void inquire();
    void send(Id id, const Notification& notification);
    void forget(Id id);
    // Sends what waited for `id` to be answered for, if anything did.
    void releaseFollower(Id id);
    // The notification of ours that the server knows as `serverId`, when `message` comes from that server.
    std::optional<Id> ours(uint serverId, const QDBusMessage& message) const;

    QDBusConnection m_bus;
    QString m_appName;
    QString m_desktopEntry;
    QString m_icon;
    QDBusServiceWatcher* m_ownerWatch = nullptr;
    QString m_owner;                               // the service's owner as last heard of
    std::optional<NotificationServerTraits> m_traits;  // of m_owner; empty until it has answered
    quint64 m_generation = 0;                      // counts owners, so a late answer from an earlier one is dropped
    bool m_inquiring = false;
    int m_sending = 0;  // Notify calls not yet answered
    std::deque<std::pair<Id, Notification>> m_waiting;
    Id m_lastId = 0;
    QHash<Id, Shown> m_shown;
    QHash<uint, Id> m_byServerId;  // of the current server only
    QSet<Id> m_closeWhenShown;     // closed before the server said which id it gave
    // Notifications to take the place of one sent but not yet answered for, keyed by that one: at most one each.
    QHash<Id, std::pair<Id, Notification>> m_followers;
};
