#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

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

    /// True while a watcher has the item and reports a panel (a host).
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

    QDBusConnection m_bus;
    QString m_item;
    QDBusServiceWatcher* m_watcherWatch = nullptr;
    bool m_registered = false;
    // Counts watcher owners, so that an answer meant for an earlier watcher is not taken for the current one.
    quint64 m_generation = 0;
    bool m_hostPresent = false;
};
