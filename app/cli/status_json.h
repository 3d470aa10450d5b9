#pragma once

#include "service/reach.h"
#include "service/status.h"
#include "view/tray_state.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

/// The version of what `kivobar --status --json` prints, as docs/kivobar-status.schema.json describes it.
/// Keys may be added within a version; a key that goes or changes its meaning makes the next version.
inline constexpr int kStatusSchemaVersion = 1;

/// `text` as a JSON string, quotes included. Quotes, backslashes, control characters and the line and
/// paragraph separators are escaped, and a lone surrogate becomes U+FFFD, so that the result is valid JSON
/// whose UTF-8 is valid too, whatever the text holds. Pure.
QString jsonString(QStringView text);

/// The state's name: notSetUp, stopped, connecting or online, as the text dump starts it.
QString stateName(const Reach& state);

/// What scripts read besides what the tray shows: why the state is what it is, the record's own time and error,
/// whether a tray runs for the agent home, and which KivoBar answered.
struct StatusFacts {
    ReachReason reason = ReachReason::None;
    std::optional<Timestamp> updatedAt;  ///< the record's; empty when no record was read
    std::optional<QString> lastError;    ///< the record's
    bool trayRunning = false;
    QString version;                     ///< this KivoBar's

    friend bool operator==(const StatusFacts&, const StatusFacts&) = default;
};

/// The reason's word: no-tool, not-set-up, no-record, not-running, stale, no-relay; empty for None.
QString reasonName(ReachReason reason);

/// A time as RFC 3339 text in UTC with microseconds, as the agent writes its own.
QString internetDateTime(Timestamp time);

/// The state as one JSON object on one line, ended by a line feed, as UTF-8: the schema's version, the state
/// with its relays and client count while online and its reason otherwise, the agent's version, the record's
/// time and error, every waiting session with its id, its place and the fields it has, the progress line, failure
/// line and newer releases where they are known, whether a tray runs, and this KivoBar's version. Texts from the
/// agent are given as they are, escaped for JSON. Pure.
QByteArray statusJson(const TrayState& tray, const StatusFacts& facts);

