#pragma once

#include "notifier.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>

/// Notifications through the freedesktop notification service on the session bus.
class FreedesktopNotifier : public QObject, public Notifier {
    Q_OBJECT

public:
    /// `desktopEntry` names the app's desktop entry (no ".desktop"), so the desktop can tell whose
    /// notifications they are; `icon` is an icon-theme name.
    FreedesktopNotifier(QDBusConnection bus, QString appName, QString desktopEntry, QString icon,
                        QObject* parent = nullptr);

    Id notify(const Notification& notification, ActionHandler onAction) override;
    void close(Id id) override;

private Q_SLOTS:
    // The receivers of the service's D-Bus signals, which need slots by name.
    void onActionInvoked(uint serverId, const QString& key);
    void onNotificationClosed(uint serverId, uint reason);

private:
    struct Shown {
        uint serverId = 0;  // 0 until the service answers
        ActionHandler onAction;
    };

    void askCapabilities();

    QDBusConnection m_bus;
    QString m_appName;
    QString m_desktopEntry;
    QString m_icon;
    bool m_bodyMarkup = false;
    Id m_lastId = 0;
    QHash<Id, Shown> m_shown;
    QHash<uint, Id> m_byServerId;
    QSet<Id> m_closeWhenShown;  // closed before the service said which id it gave
};
