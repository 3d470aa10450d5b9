#pragma once

#include "control/tray_bus_address.h"
#include "service/terminal_script.h"
#include "view/action_request.h"

#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <optional>

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
            NoAnswer,       ///< no answer within kAnswerTime; the call may have reached the tray
            Lost,           ///< the tray went away after the call reached it, without answering
            Gone,           ///< no tray holds the name: the call reached nobody
        };
        Kind kind = Kind::Gone;
        QString text;
    };

    /// Who answers for the tray of the home on the bus, and whether that is the tray itself.
    struct Standing {
        std::optional<qint64> owner;  ///< the process that holds the home's name; empty when none does
        /// The owner is the tray of the home: it also holds the home's instance lock, or no lock can be kept in
        /// this user's folder, and then whoever holds the name is the tray.
        bool trusted = false;
    };

    /// The tray of `agentHome` on `bus`, whose instance lock is kept in `lockFolder` (InstanceLock::userDirectory
    /// for this user); without a folder, no lock can be kept, and the home's name is the lock.
    RemoteTray(QDBusConnection bus, const QString& agentHome, std::optional<ScriptDirectory> lockFolder);

    /// Who holds the home's name now, and whether it may be trusted as the tray.
    Standing standing() const;

    /// Asks the tray to show the state (org.freedesktop.Application.Activate).
    Answer activate() const;
    /// Asks whether the action applies now.
    Answer check(const ActionRequest& request) const;
    /// Hands the action over and waits until it has ended, however long that takes, or the tray goes away.
    Answer perform(const ActionRequest& request) const;

private:
    Answer call(const QString& interface, const QString& method, const QVariantList& arguments, int timeoutMs) const;

    QDBusConnection m_bus;
    QString m_home;
    std::optional<ScriptDirectory> m_lockFolder;
    TrayBusAddress m_address;
};
