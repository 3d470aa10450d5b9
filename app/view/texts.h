#pragma once

#include "service/reach.h"
#include "service/status.h"
#include "view/intent.h"

#include <QString>

#include <optional>

/// The words the tray shows, in one place for the menu, the icon and the notifications, so that the same
/// fact reads the same wherever it appears. Pure; main thread (labels are looked up in the user's language).
namespace texts {

/// How many characters of a progress or failure line the menu and notifications show; also the most
/// any row built from the agent's texts shows.
inline constexpr qsizetype kLineCharacters = 200;
/// How many characters of a progress or failure line the tooltip shows: more than a row, never a log.
inline constexpr qsizetype kToolTipLineCharacters = 1000;
/// How many characters of a waiting session's agent and place a row shows each.
inline constexpr qsizetype kAgentCharacters = 40;
inline constexpr qsizetype kPlaceCharacters = 60;
/// How many characters of a version the menu shows.
inline constexpr qsizetype kVersionCharacters = 64;
/// How many UTF-16 units each character of a text from outside may take on average before the text is cut, whatever
/// it holds: so that a count of characters bounds its size too.
inline constexpr qsizetype kUnitsPerCharacter = 4;

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

/// What failed, for a run of the agent tool that `intent` started: named by what the user asked for.
QString failureSummary(const Intent& intent);

/// At most `count` user-perceived characters of `text`, and at most kUnitsPerCharacter UTF-16 units for each; a longer
/// text is cut there and ends in "…".
QString shortened(const QString& text, qsizetype count);

/// A text from outside (the agent's files, a release manifest) fit to stand among ours: control characters
/// become U+FFFD, so that nothing cuts a label short or breaks it into lines and two texts that differ still
/// read differently, and the marks that turn the direction of text go, so that nothing of it can reverse
/// what follows, our own words included.
QString fromOutside(const QString& text);

/// fromOutside(text), shortened to at most `count` user-perceived characters.
QString fromOutside(const QString& text, qsizetype count);

/// Where the first `count` user-perceived characters of `text` end, or earlier where they would take more than
/// kUnitsPerCharacter UTF-16 units each; empty when the text is not longer.
std::optional<qsizetype> cutPosition(const QString& text, qsizetype count);

}  // namespace texts
