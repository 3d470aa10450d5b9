#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

class QDBusServiceWatcher;

/// Which program shows the tray, and how one hands it to the other. The panel protocol (kivobar-tray) is
/// preferred wherever a StatusNotifier watcher runs, however late its panel; the widget tray
/// (kivobar-xembed) is for X11 desktops whose tray knows XEmbed alone. Each becomes the other by exec, so that
/// the instance lock, which the caller lets through, is never free between.
namespace TrayHandover {

/// True in an X11 session, the only kind that can have a tray of the older XEmbed kind.
bool x11Session();

/// True when a StatusNotifier watcher is on the bus now, asked of the bus itself.
bool watcherRunning(const QDBusConnection& bus);

/// Becomes the tray program `name` (kivobar-tray or kivobar-xembed, beside this one) with `argv`; returns only
/// when that failed, with the reason.
QString become(const QString& name, char** argv);

}  // namespace TrayHandover

/// Tells when a StatusNotifier watcher is on the bus, so that the widget tray can hand the tray back.
class WatcherArrival : public QObject {
    Q_OBJECT

public:
    explicit WatcherArrival(QDBusConnection bus, QObject* parent = nullptr);

    /// Looks now, and from now on at every change of the watcher's owner.
    void start();

Q_SIGNALS:
    /// A watcher is there; said once.
    void arrived();

private:
    void found();

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watch = nullptr;
    bool m_said = false;
};
