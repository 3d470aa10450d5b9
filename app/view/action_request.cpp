#include "view/action_request.h"

#include "view/menu_content.h"
#include "view/session_id.h"
#include "view/texts.h"

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace {

using Action = ActionRequest::Action;

struct Named {
    Action action;
    QLatin1StringView name;
};

// The order the help lists them in.
constexpr std::array kNames{
    Named{Action::Pause, QLatin1StringView("pause")},
    Named{Action::Resume, QLatin1StringView("resume")},
    Named{Action::SetUp, QLatin1StringView("set-up")},
    Named{Action::Update, QLatin1StringView("update")},
    Named{Action::Toggle, QLatin1StringView("toggle")},
    Named{Action::Dashboard, QLatin1StringView("dashboard")},
    Named{Action::Log, QLatin1StringView("log")},
    Named{Action::OpenSession, QLatin1StringView("open-session")},
    Named{Action::Status, QLatin1StringView("status")},
    Named{Action::Quit, QLatin1StringView("quit")},
};

bool isSessionIntent(const Intent& intent)
{
    return std::holds_alternative<intent::OpenSession>(intent);
}

// The rows a person could pick now, in menu order.
std::vector<const MenuRow*> pickableRows(const std::vector<MenuRow>& rows)
{
    std::vector<const MenuRow*> out;
    for (const MenuRow& row : rows) {
        if (row.shown && row.pickable())
            out.push_back(&row);
    }
    return out;
}

// The one intent of an action without a parameter.
Intent rowIntent(Action action)
{
    switch (action) {
    case Action::SetUp: return intent::SetUp{};
    case Action::Resume: return intent::Resume{};
    case Action::Pause: return intent::Pause{};
    case Action::Update: return intent::Update{};
    case Action::Dashboard: return intent::OpenDashboard{};
    case Action::Log: return intent::ShowLog{};
    case Action::Quit: return intent::Quit{};
    case Action::Status: return intent::ShowStatus{};
    case Action::Toggle:
    case Action::OpenSession: break;
    }
    return std::monostate{};
}

}  // namespace

QString actionName(Action action)
{
    const auto named = std::find_if(kNames.begin(), kNames.end(), [&](const Named& n) { return n.action == action; });
    return named == kNames.end() ? QString() : QString(named->name);
}

std::optional<Action> actionNamed(QStringView name)
{
    const auto named = std::find_if(kNames.begin(), kNames.end(), [&](const Named& n) { return n.name == name; });
    return named == kNames.end() ? std::nullopt : std::optional(named->action);
}

QStringList actionNames()
{
    QStringList names;
    for (const Named& named : kNames)
        names += QString(named.name);
    return names;
}

std::optional<qint64> sessionPlace(QStringView text)
{
    // toLongLong alone would take blanks, a sign and numbers past its range as well.
    if (text.isEmpty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit() && c.unicode() < 0x80; }))
        return std::nullopt;
    const qint64 place = text.toLongLong();
    return place >= 1 ? std::optional(place) : std::nullopt;
}

QString quotedWord(const QString& word)
{
    // Cut before it is looked at: a word may be megabytes long.
    return texts::fromOutside(word.left(4 * kQuotedCharacters), kQuotedCharacters);
}

std::variant<ActionRequest, ActionWordsProblem> parseAction(const QStringList& words)
{
    using Kind = ActionWordsProblem::Kind;
    const std::optional<Action> action = words.isEmpty() ? std::nullopt : actionNamed(words.front());
    if (!action)
        return ActionWordsProblem{Kind::UnknownAction, u"unknown action '%1'"_s.arg(words.isEmpty() ? QString() : quotedWord(words.front()))};
    const qsizetype expected = *action == Action::OpenSession ? 2 : 1;
    if (words.size() > expected)
        return ActionWordsProblem{Kind::WrongArguments, u"unexpected argument '%1'"_s.arg(quotedWord(words[expected]))};
    if (words.size() < expected)
        return ActionWordsProblem{Kind::WrongArguments,
                                  u"open-session needs the session's place in the \"Needs you\" list (1 for the first) or its id"_s};
    if (expected == 1)
        return ActionRequest{.action = *action};
    if (looksLikeSessionId(words[1]))
        return ActionRequest{.action = *action, .sessionId = words[1]};
    const std::optional<qint64> place = sessionPlace(words[1]);
    if (!place) {
        return ActionWordsProblem{Kind::WrongArguments,
                                  u"'%1' is neither a place in the \"Needs you\" list (1 is the first session) nor a "
                                  "session's id"_s.arg(quotedWord(words[1]))};
    }
    return ActionRequest{.action = *action, .session = *place};
}

QString requestWords(const ActionRequest& request)
{
    if (request.action != Action::OpenSession)
        return actionName(request.action);
    return actionName(request.action) + u' ' + (request.sessionId.isEmpty() ? QString::number(request.session) : request.sessionId);
}

std::optional<Intent> requestedIntent(const ActionRequest& request, const std::vector<MenuRow>& rows)
{
    if (request.action == Action::Toggle) {
        // Whichever of the two the menu shows, enabled or not: while a pause runs, toggling joins it.
        const auto row = std::find_if(rows.begin(), rows.end(), [](const MenuRow& r) {
            return r.shown && (r.intent == Intent(intent::Pause{}) || r.intent == Intent(intent::Resume{}));
        });
        return row == rows.end() ? std::nullopt : std::optional(row->intent);
    }
    if (request.action != Action::OpenSession)
        return rowIntent(request.action);
    qint64 place = 0;
    for (const MenuRow* row : pickableRows(rows)) {
        if (!isSessionIntent(row->intent))
            continue;
        ++place;
        if (request.sessionId.isEmpty() ? place == request.session : row->id == kSessionRowPrefix + request.sessionId)
            return row->intent;
    }
    return std::nullopt;
}

QString unmatchedRefusal(const ActionRequest& request, const std::vector<MenuRow>& rows)
{
    if (request.action == Action::Toggle)
        return u"%1 does not apply now: neither pause nor resume does (%2)"_s.arg(requestWords(request), headline(rows));
    const auto pickable = pickableRows(rows);
    const auto waiting = std::count_if(pickable.begin(), pickable.end(), [](const MenuRow* row) {
        return isSessionIntent(row->intent);
    });
    const QString why = request.sessionId.isEmpty() ? texts::waitingCount(size_t(waiting))
                                                    : u"no waiting session has that id"_s;
    return u"%1 does not apply now: %2"_s.arg(requestWords(request), why);
}

QString headline(const std::vector<MenuRow>& rows)
{
    const auto row = std::find_if(rows.begin(), rows.end(), [](const MenuRow& r) { return r.id == u"headline"; });
    return row == rows.end() ? QString() : row->label;
}
