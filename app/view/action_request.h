#pragma once

#include "view/intent.h"
#include "view/menu_row.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

/// What a script or a launcher asks for by name ("pause", "open-session 2"), before it is matched against
/// the menu that shows now.
struct ActionRequest {
    enum class Action { SetUp, Resume, Pause, Update, Dashboard, Log, OpenSession, Status, Quit };

    Action action = Action::Status;
    /// For OpenSession: the session's place in the "Needs you" list as the menu shows it, counted from 1.
    qint64 session = 0;

    friend bool operator==(const ActionRequest&, const ActionRequest&) = default;
};

/// The action's name as the command line, the desktop entry and D-Bus spell it: "set-up", "open-session", ...
QString actionName(ActionRequest::Action action);

/// The action with that name; empty for a name that is none of ours.
std::optional<ActionRequest::Action> actionNamed(QStringView name);

/// Every action's name, in the order the help lists them.
QStringList actionNames();

/// A place in the "Needs you" list written as a person would: decimal digits only, 1 or more; empty otherwise.
std::optional<qint64> sessionPlace(QStringView text);

/// The intent `request` asks for when the menu `rows` offer it now, that is when a shown row that can be
/// picked carries it; showing the state always applies, as a click on the icon always does. Empty when it
/// does not apply. Pure.
std::optional<Intent> intentFor(const ActionRequest& request, const std::vector<MenuRow>& rows);

/// One line that says why `request` does not apply to the menu `rows`: the action and what the menu's
/// first row says (or how many sessions wait, for a place beyond the list).
QString refusal(const ActionRequest& request, const std::vector<MenuRow>& rows);
