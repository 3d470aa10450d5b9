#pragma once

#include "tray/tray_bus_address.h"
#include "view/action_request.h"

#include <QDBusConnection>
#include <QString>

#include <chrono>

/// The tray that runs for an agent home, as another process reaches it over the session bus: to show the
/// state, and to hand it an action and hear how it ended. Every call blocks; meant for short-lived programs.
class RemoteTray {
public:
    /// How long a tray has to answer before it counts as not answering. An action itself may take longer.
    static constexpr std::chrono::milliseconds kAnswerTime{5'000};

    /// What the tray answered.
    struct Answer {
        enum class Kind {
            Done,           ///< it applies (Check), it was shown (Activate), it succeeded (Perform)
            Failed,         ///< the action ran and failed; `text` is its last line
            NotApplicable,  ///< the menu does not offer it now; `text` says why
            Refused,        ///< the tray refused the call otherwise; `text` says why
            NoAnswer,       ///< no answer within kAnswerTime
            Gone,           ///< no tray holds the name (any more)
        };
        Kind kind = Kind::Gone;
        QString text;
    };

    RemoteTray(QDBusConnection bus, const QString& agentHome);

    /// Whether a process holds the home's name now.
    bool running() const;

    /// Asks the tray to show the state (org.freedesktop.Application.Activate).
    Answer activate() const;
    /// Asks whether the action applies now.
    Answer check(const ActionRequest& request) const;
    /// Hands the action over and waits until it has ended, however long that takes, or the tray goes away.
    Answer perform(const ActionRequest& request) const;

private:
    Answer call(const QString& interface, const QString& method, const QVariantList& arguments, int timeoutMs) const;

    QDBusConnection m_bus;
    TrayBusAddress m_address;
};
