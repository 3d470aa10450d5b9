#pragma once

#include "panel/watcher_name.h"

#include <QDBusConnection>
#include <QLatin1StringView>
#include <QObject>
#include <QString>

#include <functional>

class QDBusMessage;
class QDBusServiceWatcher;

/// Keeps a tray item registered with the panels' StatusNotifier watcher whenever one runs (a panel
/// started after the app, or restarted), and tells whether a panel is there to show the item.
class TrayHostWatch : public QObject {
    Q_OBJECT

public:
    /// `item` is the bus name the item is registered under.
    TrayHostWatch(QDBusConnection bus, QString item, QObject* parent = nullptr);

    /// Registers the item with the watcher now, if there is one, and with every watcher that comes.
    void start();

    /// True while a watcher has the item and a panel (a host) shows what the watcher lists.
    bool hostPresent() const { return m_hostPresent; }

Q_SIGNALS:
    void hostPresenceChanged(bool present);

private Q_SLOTS:
    // Also the receiver of the watcher's D-Bus signals, which need a slot by name.
    void askForHost();

private:
    void onWatcherOwnerChanged(const QString& owner);
    void registerItem(int attemptsLeft);
    void setHostPresent(bool present);
    // Sends `call` without starting anything; `answered` runs with the reply only while the watcher asked is current.
    void ask(QDBusMessage call, std::function<void(const QDBusMessage& reply)> answered);

    QDBusConnection m_bus;
    QString m_item;
    QDBusServiceWatcher* m_watcherWatch = nullptr;
    QString m_watcherOwner;
    bool m_registered = false;
    // Counts watcher owners, so that an answer meant for an earlier watcher is not taken for the current one.
    quint64 m_generation = 0;
    quint64 m_question = 0;  // counts the questions whether a host is there
    bool m_hostPresent = false;
};
