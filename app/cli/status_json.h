#pragma once

#include "service/reach.h"
#include "view/tray_state.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

/// The version of what `kivobar --status --json` prints, as docs/kivobar-status.schema.json describes it.
/// Keys may be added within a version; a key that goes or changes its meaning makes the next version.
inline constexpr int kStatusSchemaVersion = 1;

/// `text` as a JSON string, quotes included. Quotes, backslashes, control characters and the line and
/// paragraph separators are escaped, and a lone surrogate becomes U+FFFD, so that the result is valid JSON
/// whose UTF-8 is valid too, whatever the text holds. Pure.
QString jsonString(QStringView text);

/// The state's name: notSetUp, stopped, connecting or online, as the text dump starts it.
QString stateName(const Reach& state);

/// The state as one JSON object on one line, ended by a line feed, as UTF-8: the schema's version, the state
/// with its relays and client count while online, the agent's version, every waiting session with the fields
/// it has, and the progress line, failure line and newer releases where they are known. Texts from the agent
/// are given as they are, escaped for JSON. Pure.
QByteArray statusJson(const TrayState& tray);
