#include "view/action_request.h"

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

// The intent that the menu's row for an action without a parameter carries.
std::optional<Intent> rowIntent(Action action)
{
    switch (action) {
    case Action::SetUp: return intent::SetUp{};
    case Action::Resume: return intent::Resume{};
    case Action::Pause: return intent::Pause{};
    case Action::Update: return intent::Update{};
    case Action::Dashboard: return intent::OpenDashboard{};
    case Action::Log: return intent::ShowLog{};
    case Action::Quit: return intent::Quit{};
    case Action::OpenSession:
    case Action::Status: return std::nullopt;
    }
    return std::nullopt;
}

QString shownLabel(const std::vector<MenuRow>& rows, const QString& id)
{
    const auto row = std::find_if(rows.begin(), rows.end(), [&](const MenuRow& r) { return r.id == id && r.shown; });
    return row == rows.end() ? QString() : row->label;
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

std::optional<Intent> intentFor(const ActionRequest& request, const std::vector<MenuRow>& rows)
{
    if (request.action == Action::Status)
        return intent::ShowStatus{};
    const std::vector<const MenuRow*> pickable = pickableRows(rows);
    if (request.action == Action::OpenSession) {
        qint64 place = 0;
        for (const MenuRow* row : pickable) {
            if (isSessionIntent(row->intent) && ++place == request.session)
                return row->intent;
        }
        return std::nullopt;
    }
    const std::optional<Intent> wanted = rowIntent(request.action);
    const bool offered = wanted && std::any_of(pickable.begin(), pickable.end(), [&](const MenuRow* row) {
        return row->intent == *wanted;
    });
    return offered ? wanted : std::nullopt;
}

QString refusal(const ActionRequest& request, const std::vector<MenuRow>& rows)
{
    if (request.action == Action::OpenSession) {
        const auto pickable = pickableRows(rows);
        const auto waiting = std::count_if(pickable.begin(), pickable.end(), [](const MenuRow* row) {
            return isSessionIntent(row->intent);
        });
        return u"open-session %1 does not apply now: %2"_s.arg(request.session).arg(texts::waitingCount(size_t(waiting)));
    }
    QString why = shownLabel(rows, u"headline"_s);
    if (const QString busy = shownLabel(rows, u"busy"_s); !busy.isEmpty())
        why += u" \u00b7 "_s + busy;
    return u"%1 does not apply now (%2)"_s.arg(actionName(request.action), why);
}
