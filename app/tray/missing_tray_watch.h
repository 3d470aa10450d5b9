#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

/// Notices when no panel shows the tray for a while: after start, and after a panel went away and no
/// other came. Says so once for each such time.
class MissingTrayWatch : public QObject {
    Q_OBJECT

public:
    /// How long the tray may go unseen before it counts as missing.
    static constexpr std::chrono::seconds kGrace{10};

    /// Starts as if no panel were there yet.
    explicit MissingTrayWatch(std::chrono::milliseconds grace = kGrace, QObject* parent = nullptr);

    /// Tells the watch whether a panel shows the tray now.
    void setHostPresent(bool present);

Q_SIGNALS:
    /// No panel has shown the tray for the grace period; `sinceStart` when none ever did.
    void missing(bool sinceStart);

private:
    QTimer m_timer;
    bool m_present = false;
    bool m_everShown = false;
};
