#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

/// Notices when no panel shows the tray for a while: after start, and after a panel went away and no
/// other came. A session that has just begun is given until it is kSessionStart old before the user hears
/// of it: its panel may still be starting, and the notice would be proved wrong seconds later.
class MissingTrayWatch : public QObject {
    Q_OBJECT

public:
    /// How long the tray may go unseen before it counts as missing.
    static constexpr std::chrono::seconds kGrace{10};
    /// How old a session must be before a missing tray is said: the time a slow login takes to show its panel.
    static constexpr std::chrono::seconds kSessionStart{30};

    /// Starts as if no panel were there yet. `sessionAge` is how long the desktop session has run now; empty
    /// when that cannot be told, which counts as a session long begun.
    explicit MissingTrayWatch(std::optional<std::chrono::milliseconds> sessionAge, std::chrono::milliseconds grace = kGrace,
                              std::chrono::milliseconds sessionStart = kSessionStart, QObject* parent = nullptr);

    /// Tells the watch whether a panel shows the tray now.
    void setHostPresent(bool present);

Q_SIGNALS:
    /// No panel has shown the tray for the grace period since start; once, and never after one did.
    void unseenSinceStart();
    /// The user should hear that no panel shows the tray: unseen for the grace period, and the session past
    /// its start. Once for each absence.
    void missing();

private:
    void arm();

    QTimer m_graceTimer;
    QTimer m_noticeTimer;
    std::chrono::steady_clock::time_point m_sessionStarted;
    std::chrono::milliseconds m_sessionStart;
    bool m_present = false;
    bool m_everShown = false;
};

/// How long the session bus at `address` (a DBUS_SESSION_BUS_ADDRESS value, or empty for the default in
/// `runtimeDirectory`) has listened, as its socket file tells when it was made, at `now`; empty for a bus
/// without a socket file (an abstract one) or one that cannot be read.
std::optional<std::chrono::milliseconds> sessionBusAge(const QString& address, const QString& runtimeDirectory,
                                                       std::chrono::system_clock::time_point now);
