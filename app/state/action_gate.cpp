#include "state/action_gate.h"

#include "service/service.h"
#include "view/menu_content.h"
#include "view/texts.h"

#include <QPointer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

bool isRun(const Intent& intent)
{
    return std::holds_alternative<intent::SetUp>(intent) || std::holds_alternative<intent::Resume>(intent)
        || std::holds_alternative<intent::Pause>(intent) || std::holds_alternative<intent::Update>(intent);
}

bool isTrays(const Intent& intent)
{
    return std::holds_alternative<intent::ToggleAtLogin>(intent) || std::holds_alternative<intent::ToggleNotify>(intent)
        || std::holds_alternative<intent::ShowStatus>(intent) || std::holds_alternative<intent::Quit>(intent);
}

// The kind of window an intent opens; empty for one that opens none.
std::optional<ActionLedger::Window> windowOf(const Intent& intent)
{
    using Window = ActionLedger::Window;
    if (std::holds_alternative<intent::OpenSession>(intent))
        return Window::Session;
    if (std::holds_alternative<intent::OpenDashboard>(intent))
        return Window::Dashboard;
    if (std::holds_alternative<intent::ShowLog>(intent))
        return Window::Log;
    if (std::holds_alternative<intent::Install>(intent))
        return Window::Installer;
    if (std::holds_alternative<intent::GetBar>(intent))
        return Window::DownloadPage;
    return std::nullopt;
}

bool offered(const Intent& intent, const std::vector<MenuRow>& rows)
{
    // Showing the state is what a click on the icon does: it is always there, not a row.
    if (std::holds_alternative<intent::ShowStatus>(intent))
        return true;
    return std::any_of(rows.begin(), rows.end(), [&](const MenuRow& row) {
        return row.shown && row.pickable() && row.intent == intent;
    });
}

void tell(const ActionDone& done, ActionOutcome outcome)
{
    if (done)
        done(outcome);
}

// What a refusal calls an intent picked in the menu or a notification, which names no action.
const QString kPicked = u"the action"_s;

const QString kJustOpened = u": one of its kind opened less than a second ago"_s;

const QString kNoTerminal =
    u"No terminal window could be opened: install a terminal such as GNOME Terminal or xterm, or set TERMINAL "
    "to the one you use"_s;

}  // namespace

struct ActionGate::Run {
    Intent intent;
    QString title;  // the first step's, shown until the run's own progress line reaches the model
    RunClaim claim;
    std::vector<ActionDone> waiting;  // the requester's and those that joined
};

ActionGate::ActionGate(Setup setup, QObject* parent) : QObject(parent), m_setup(std::move(setup)) {}

ActionGate::~ActionGate() = default;

QString ActionGate::notOffered(const Intent& intent, const TrayState& tray) const
{
    const Service& model = m_setup.model;
    const Reach& state = tray.state;
    const bool notSetUp = state.is(Reach::Kind::NotSetUp);
    if (std::holds_alternative<intent::Pause>(intent) && state.is(Reach::Kind::Stopped))
        return u"already paused"_s;
    if (std::holds_alternative<intent::Resume>(intent) && !notSetUp)
        return u"already running"_s;
    if ((std::holds_alternative<intent::Pause>(intent) || std::holds_alternative<intent::Resume>(intent)) && notSetUp)
        return u"this computer is not set up"_s;
    if (std::holds_alternative<intent::SetUp>(intent))
        return notSetUp && !tray.toolInstalled ? u"the agent is not installed"_s : u"this computer is set up already"_s;
    if (std::holds_alternative<intent::Update>(intent)) {
        if (const std::optional<QString>& failure = model.latestCheckFailure())
            return u"the last release check failed: "_s + *failure;
        if (model.latest())
            return u"Kivo %1 is the newest release"_s.arg(texts::fromOutside(*model.latest(), texts::kVersionCharacters));
        return u"no newer release is known"_s;
    }
    if (std::holds_alternative<intent::OpenSession>(intent))
        return u"the session no longer waits"_s;
    return texts::headline(state);
}

std::optional<QString> ActionGate::obstacle(const Intent& intent, const TrayState& tray,
                                            const std::vector<MenuRow>& rows) const
{
    if (isTrays(intent) && !m_setup.duties)
        return u": no Kivo Bar runs for the agent home %1"_s.arg(m_setup.model.home());
    if (isRun(intent) && m_run) {
        if (m_run->intent != intent)
            return u": %1 is under way"_s.arg(texts::fromOutside(m_setup.model.busy().value_or(m_run->title), texts::kLineCharacters));
        // Joining the run under way is what a second request for it gets: the one outcome, not a second run.
        if (m_run->waiting.size() > kMostJoined)
            return u": too many requests wait for it already"_s;
        return std::nullopt;
    }
    if (!offered(intent, rows))
        return u": "_s + notOffered(intent, tray);
    if (const std::optional<ActionLedger::Window> window = windowOf(intent);
        window && !m_setup.ledger.admitWindow(*window, false))
        return kJustOpened;
    return std::nullopt;
}

std::variant<Intent, QString> ActionGate::decide(const ActionRequest& request) const
{
    const TrayState tray = m_setup.tray();
    const std::vector<MenuRow> rows = MenuContent::rows(tray);
    const std::optional<Intent> intent = requestedIntent(request, rows);
    if (!intent)
        return unmatchedRefusal(request, rows);
    if (const std::optional<QString> why = obstacle(*intent, tray, rows))
        return requestWords(request) + u" does not apply now"_s + *why;
    return *intent;
}

void ActionGate::perform(const ActionRequest& request, ActionDone done)
{
    std::variant<Intent, QString> decided = decide(request);
    if (const QString* why = std::get_if<QString>(&decided)) {
        tell(done, {ActionOutcome::Kind::NotApplicable, *why});
        return;
    }
    carryOut(std::get<Intent>(decided), requestWords(request), std::move(done));
}

void ActionGate::perform(const Intent& intent, ActionDone done)
{
    const TrayState tray = m_setup.tray();
    if (const std::optional<QString> why = obstacle(intent, tray, MenuContent::rows(tray))) {
        tell(done, {ActionOutcome::Kind::NotApplicable, kPicked + u" does not apply now"_s + *why});
        return;
    }
    carryOut(intent, kPicked, std::move(done));
}

void ActionGate::carryOut(const Intent& intent, const QString& what, ActionDone done)
{
    using Window = ActionLedger::Window;
    Service& model = m_setup.model;
    // Every intent has its own line: one added later does not compile until it is carried out here.
    std::visit(Overloaded{
        [&](const std::monostate&) { tell(done, {ActionOutcome::Kind::NotApplicable, u"nothing was asked for"_s}); },
        [&](const intent::SetUp&) {
            startRun(intent, what, setUpSteps().front(), [&](Service::RunDone end) { model.setUp(std::move(end)); },
                     std::move(done));
        },
        [&](const intent::Resume&) { runSteps(intent, what, {resumeStep()}, std::move(done)); },
        [&](const intent::Pause&) { runSteps(intent, what, {pauseStep()}, std::move(done)); },
        [&](const intent::Update&) { runSteps(intent, what, {updateStep()}, std::move(done)); },
        [&](const intent::Install&) { openWindow(what, Window::Installer, [&] { return model.install(); }, kNoTerminal, done); },
        [&](const intent::GetBar&) { openWindow(what, Window::DownloadPage, [&] { model.getBar(); return true; }, {}, done); },
        [&](const intent::OpenDashboard&) {
            openWindow(what, Window::Dashboard, [&] { return model.openDashboard(); }, kNoTerminal, done);
        },
        [&](const intent::OpenSession& open) {
            const bool named = open.entry.run || open.entry.session;
            openWindow(what, Window::Session, [&] { return model.open(open.entry); },
                       named ? kNoTerminal : u"The agent names no way to open this session"_s, done);
        },
        [&](const intent::ShowLog&) {
            openWindow(what, Window::Log, [&] { return model.showLog(); },
                       u"Neither a log viewer nor a terminal window could be opened"_s, done);
        },
        [&](const intent::ToggleAtLogin&) { m_setup.duties->toggleAtLogin(); tell(done, {}); },
        [&](const intent::ToggleNotify&) { m_setup.duties->toggleNotify(); tell(done, {}); },
        [&](const intent::ShowStatus&) { m_setup.duties->showStatus(); tell(done, {}); },
        // Told before the event loop ends, so that whoever asked still hears that it is done.
        [&](const intent::Quit&) { tell(done, {}); m_setup.duties->quit(); },
    }, intent);
}

void ActionGate::openWindow(const QString& what, ActionLedger::Window kind, const std::function<bool()>& open, const QString& failure,
                            const ActionDone& done)
{
    // Noted before it opens: a flood of requests, in this process or in others, opens one window.
    if (!m_setup.ledger.admitWindow(kind, true)) {
        tell(done, {ActionOutcome::Kind::NotApplicable, what + u" does not apply now"_s + kJustOpened});
        return;
    }
    if (open())
        tell(done, {});
    else
        tell(done, {ActionOutcome::Kind::Failed, failure});
}

void ActionGate::runSteps(const Intent& intent, const QString& what, std::vector<Step> steps, ActionDone done)
{
    const Step first = steps.front();
    startRun(intent, what, first, [&](Service::RunDone end) { m_setup.model.runSteps(std::move(steps), std::move(end)); },
             std::move(done));
}

void ActionGate::startRun(const Intent& intent, const QString& what, const Step& first, const std::function<void(Service::RunDone)>& start,
                          ActionDone done)
{
    if (m_run) {  // the same action, or obstacle() would have refused it
        if (done)
            m_run->waiting.push_back(std::move(done));
        return;
    }
    std::optional<RunClaim> claim = m_setup.ledger.claimRun();
    if (!claim) {
        tell(done, {ActionOutcome::Kind::NotApplicable,
                    what + u" does not apply now: another Kivo Bar is running an action of the agent tool for this agent home"_s});
        return;
    }
    m_run = std::make_unique<Run>(Run{.intent = intent, .title = first.title, .claim = std::move(*claim), .waiting = {}});
    if (done)
        m_run->waiting.push_back(std::move(done));
    start([gate = QPointer(this)](const StepOutcome& outcome) {
        if (!gate)
            return;
        const std::unique_ptr<Run> run = std::move(gate->m_run);
        const ActionOutcome told = outcome.succeeded ? ActionOutcome{}
                                                     : ActionOutcome{ActionOutcome::Kind::Failed, outcome.lastLine};
        if (!outcome.succeeded)
            Q_EMIT gate->runFailed(run->intent, outcome.lastLine);
        for (const ActionDone& waiting : run->waiting)
            waiting(told);
    });
}
