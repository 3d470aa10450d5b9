#pragma once

#include "platform/notifier.h"
#include "service/status.h"
#include "view/current_desktop.h"
#include "view/menu_row.h"
#include "view/tray_state.h"

#include <QCoreApplication>
#include <QHash>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

/// Which waiting sessions came and which went between two readings of the list. An entry is its whole
/// value, so duplicates in a list count once; each list keeps the order of the later reading.
struct WaitingNews {
    std::vector<NeedsYou> arrived;
    std::vector<NeedsYou> left;

    friend bool operator==(const WaitingNews&, const WaitingNews&) = default;
};

/// The news from `before` to `now`.
WaitingNews waitingNews(const std::vector<NeedsYou>& before, const std::vector<NeedsYou>& now);

/// Tells the user through desktop notifications what they would otherwise see only by opening the menu:
/// sessions that start waiting, a failed action, a missing terminal, a missing tray, and the state when
/// asked for it. Main thread only.
class Alerts {
    Q_DECLARE_TR_FUNCTIONS(Alerts)

public:
    using Perform = std::function<void(const Intent&)>;

    /// How many new sessions get a notification each; more than that share one.
    static constexpr size_t kSessionsEach = 3;
    /// How many buttons the state's notification offers at most.
    static constexpr size_t kStatusActions = 3;

    /// `perform` carries out what a picked button does, as picking the same menu row would.
    Alerts(Notifier& notifier, Perform perform);

    /// Off silences every notification the user did not ask for; those already shown stay until they go.
    void setEnabled(bool on) { m_enabled = on; }

    /// Takes a new reading of the waiting sessions; with `hasRecord` false there was no status record to
    /// read, which says nothing about the sessions. The first reading only tells what was already waiting.
    void onWaiting(const std::vector<NeedsYou>& waiting, bool hasRecord);

    /// A run of the agent tool that `intent` started failed; `line` is its failure line.
    void onRunFailed(const Intent& intent, const QString& line);

    /// A row needed a terminal and none was found.
    void onTerminalMissing();

    /// No panel has shown the tray for a while on `desktop`: says so, with how that desktop gets a tray.
    void onTrayMissing(CurrentDesktop desktop);

    /// A panel shows the tray: takes back what onTrayMissing said, if it still shows.
    void onTrayShown();

    /// How the user of `desktop` gets a tray, in a sentence or two.
    static QString trayAdvice(CurrentDesktop desktop);

    /// Launchers and scripts cannot reach the tray on the bus; `why` says so in a sentence.
    void onUnreachable(const QString& why);

    /// Shows the state in place of the last one shown, with buttons for the menu's `rows` that fit it.
    void showStatus(const TrayState& tray, const std::vector<MenuRow>& rows);

    /// How many waiting sessions it remembers from the last reading with a record.
    size_t remembered() const { return m_waiting ? m_waiting->size() : 0; }

private:
    void show(const Notification& notification);

    Notifier& m_notifier;
    Perform m_perform;
    bool m_enabled = true;
    std::optional<std::vector<NeedsYou>> m_waiting;  // the last reading with a record
    QHash<NeedsYou, Notifier::Id> m_sessionNotes;
    std::vector<std::pair<std::vector<NeedsYou>, Notifier::Id>> m_groupNotes;  // "N more", with whom they count
    Notifier::Id m_statusNote = 0;
    Notifier::Id m_trayNote = 0;  // the missing tray's, until a tray shows
};
