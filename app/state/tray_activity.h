#pragma once

#include "service/release_manifest.h"
#include "service/terminal_script.h"
#include "view/tray_state.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

/// What only a running tray knows of its agent home, besides what the home itself tells: the progress line
/// of an action under way, the failure line of the last one, and the newer releases it found.
struct TrayActivity {
    std::optional<QString> busy;
    std::optional<QString> message;
    std::optional<QString> update;
    std::optional<BarUpdate> barUpdate;

    bool empty() const { return !busy && !message && !update && !barUpdate; }
    friend bool operator==(const TrayActivity&, const TrayActivity&) = default;
};

/// The activity in what the tray shows.
TrayActivity trayActivity(const TrayState& tray);

/// `tray` with the activity's fields in it.
TrayState withActivity(TrayState tray, const TrayActivity& activity);

/// The activity as the file holds it, naming the process that publishes it. Pure.
QByteArray encodeActivity(const TrayActivity& activity, qint64 pid);

/// The activity and its publisher's process id in the file's bytes; empty when they are not such a record.
/// Pure.
std::optional<std::pair<TrayActivity, qint64>> decodeActivity(QByteArrayView bytes);

/// The file through which the tray of one agent home publishes its activity for `kivobar --status`, in the
/// user's own folder for the tray's files (userFolder), named after the home's key. Only ever replaced whole.
class ActivityFile {
public:
    /// The file for `agentHome` in `folder`; without a folder nothing is published or read.
    ActivityFile(std::optional<ScriptDirectory> folder, const QString& agentHome);

    /// Publishes `activity` as this process's, or removes the file when there is nothing to tell. False when it
    /// could not be written.
    bool publish(const TrayActivity& activity);

    /// What the tray that runs for the home publishes; empty when there is no such file, or the process that
    /// wrote it has ended without removing it.
    std::optional<TrayActivity> read() const;

private:
    std::optional<ScriptDirectory> m_folder;
    QByteArray m_name;
};
