#pragma once

#include "service/reach.h"
#include "service/status.h"
#include "service/steps.h"

#include <QString>

#include <optional>

/// The words the tray shows, in one place for the menu, the icon and the notifications, so that the same
/// fact reads the same wherever it appears. Pure; main thread (labels are looked up in the user's language).
namespace texts {

/// How many characters of a progress or failure line the menu and notifications show.
inline constexpr qsizetype kLineCharacters = 200;

/// How reachable this computer is, in words: the menu's first row and the notifications' title.
QString headline(const Reach& state);

/// "N devices connected · Kivo VERSION" while online with a status record; empty otherwise.
std::optional<QString> devicesLine(const Reach& state, const std::optional<QString>& agentVersion);

/// A waiting session as "agent · where".
QString sessionTitle(const NeedsYou& entry);

/// A waiting session's menu row: its title, then its detail cut after 60 user-perceived characters.
QString sessionLabel(const NeedsYou& entry);

/// "1 session needs you", "N sessions need you".
QString waitingCount(size_t count);

/// What failed, for a run of steps that stopped at `step`.
QString failureSummary(const Step& step);

/// At most `count` user-perceived characters of `text`; a longer text is cut there and ends in "…".
QString shortened(const QString& text, qsizetype count);

/// Where the first `count` user-perceived characters of `text` end; empty when the text is not longer.
std::optional<qsizetype> cutPosition(const QString& text, qsizetype count);

}  // namespace texts
