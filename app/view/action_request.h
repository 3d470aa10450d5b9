#pragma once

#include "view/intent.h"
#include "view/menu_row.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <variant>
#include <vector>

/// What a script or a launcher asks for by name ("pause", "open-session 2"), before it is matched against
/// the menu that shows now.
struct ActionRequest {
    enum class Action { SetUp, Resume, Pause, Update, Toggle, Dashboard, Log, OpenSession, Status, Quit };

    Action action = Action::Status;
    /// For OpenSession: the session's place in the "Needs you" list as the menu shows it, counted from 1; 0 when
    /// the session is named by its id instead.
    qint64 session = 0;
    /// For OpenSession: the session's id (sessionIds); empty when it is named by its place.
    QString sessionId;

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

/// Why words are no request: the action is none of ours, or what follows its name is not what it takes.
struct ActionWordsProblem {
    enum class Kind { UnknownAction, WrongArguments };
    Kind kind = Kind::UnknownAction;
    QString text;  ///< one line, quoting at most kQuotedCharacters of the words

    friend bool operator==(const ActionWordsProblem&, const ActionWordsProblem&) = default;
};

/// How many characters of a word a problem quotes: enough to recognise it, never a whole flood.
inline constexpr qsizetype kQuotedCharacters = 60;

/// A word from outside as a problem quotes it: at most kQuotedCharacters, nothing in it acting on a terminal.
QString quotedWord(const QString& word);

/// The request that `words` make: an action's name, then for open-session the session's place or id, and nothing
/// for the others.
/// The one reader of action words, for the command line, the action helper and the bus alike. Pure.
std::variant<ActionRequest, ActionWordsProblem> parseAction(const QStringList& words);

/// The request as words, as parseAction reads them: "pause", "open-session 2", "open-session s-3fa9c2d1e0b4".
QString requestWords(const ActionRequest& request);

/// The intent `request` names in the menu `rows`: for open-session the session at that place, or with that id,
/// among the rows that can be picked, empty when there is none; for toggle the pause or the resume the menu shows,
/// empty when it shows neither; for the others their one intent, whether or not the menu offers it now.
/// Pure.
std::optional<Intent> requestedIntent(const ActionRequest& request, const std::vector<MenuRow>& rows);

/// One line that says why `request` names nothing in the menu `rows`: an open-session no session, a toggle neither
/// pause nor resume. Pure.
QString unmatchedRefusal(const ActionRequest& request, const std::vector<MenuRow>& rows);

/// What the menu's first row says: how the agent stands.
QString headline(const std::vector<MenuRow>& rows);
