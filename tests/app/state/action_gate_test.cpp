#include "fake_desktop.h"
#include "fake_duties.h"
#include "menu_rows.h"
#include "qt_printers.h"
#include "recording_tool.h"
#include "state/action_gate.h"
#include "status_records.h"
#include "test_files.h"
#include "view/menu_content.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using Action = ActionRequest::Action;
using Kind = ActionOutcome::Kind;

ActionRequest asked(Action action, qint64 session = 0)
{
    return {.action = action, .session = session};
}

class ActionGateTest : public testing::Test {
protected:
    void SetUp() override
    {
        writeFile(m_home + u"/bin/kivo"_s, kRecordingTool, 0755);
        writeFile(m_home + u"/host"_s, "");
        writeStatusFile(m_home, StatusRecord{}.json());
        m_model = std::make_unique<Service>(ServiceSetup{.home = m_home, .desktop = &m_desktop,
                                                         .temporaryDirectory = m_scripts.path()});
        m_gate = gate(&m_duties);
    }

    std::unique_ptr<ActionGate> gate(TrayDuties* duties)
    {
        return std::make_unique<ActionGate>(ActionGate::Setup{.model = *m_model,
                                                              .tray = [this] { return shown(); },
                                                              .ledger = m_ledger,
                                                              .duties = duties});
    }

    // What the menu would show: the state a test sets, with the model's progress line.
    TrayState shown() const
    {
        TrayState tray = m_tray;
        tray.busy = m_model->busy();
        return tray;
    }

    std::optional<ScriptDirectory> folder() const { return ScriptDirectory::open(m_folder.path(), true); }

    // Records the outcome, and counts it for the duties' order.
    ActionDone record(std::vector<ActionOutcome>& into)
    {
        return [this, &into](const ActionOutcome& outcome) {
            into.push_back(outcome);
            ++m_duties.told;
        };
    }

    QString calls() const { return QString::fromUtf8(readWholeFile(m_home + u"/calls"_s)); }
    void mark(const QString& name) { writeFile(m_home + u'/' + name, ""); }

    QTemporaryDir m_dir;
    QTemporaryDir m_scripts;
    QTemporaryDir m_folder;
    QString m_home = m_dir.path() + u"/.kivo"_s;
    FakeDesktop m_desktop;
    std::chrono::milliseconds m_now{5'000'000};
    ActionLedger m_ledger{folder(), m_home, [this] { return m_now; }};
    FakeDuties m_duties;
    TrayState m_tray = waitingState(2);
    std::unique_ptr<Service> m_model;
    std::unique_ptr<ActionGate> m_gate;
};

}  // namespace

TEST_F(ActionGateTest, DecidesAgainstWhatTheMenuOffersNow)
{
    TrayState online = waitingState(2);
    online.updateAvailable = u"1.5.0"_s;
    const TrayState stopped = waitingState(0, Reach::stopped());
    const TrayState notSetUp{.state = Reach::notSetUp(), .toolInstalled = true};

    struct Case { const char* what; TrayState tray; ActionRequest request; std::optional<Intent> expected; };
    const Case cases[] = {
        {"pause while online", online, asked(Action::Pause), intent::Pause{}},
        {"pause while paused", stopped, asked(Action::Pause), std::nullopt},
        {"resume while paused", stopped, asked(Action::Resume), intent::Resume{}},
        {"resume while online", online, asked(Action::Resume), std::nullopt},
        {"update with one", online, asked(Action::Update), intent::Update{}},
        {"update with none", stopped, asked(Action::Update), std::nullopt},
        {"set up", notSetUp, asked(Action::SetUp), intent::SetUp{}},
        {"set up once set up", online, asked(Action::SetUp), std::nullopt},
        {"dashboard", stopped, asked(Action::Dashboard), intent::OpenDashboard{}},
        {"log", notSetUp, asked(Action::Log), intent::ShowLog{}},
        {"quit", stopped, asked(Action::Quit), intent::Quit{}},
        {"status, which no row carries", notSetUp, asked(Action::Status), intent::ShowStatus{}},
        {"the first session", online, asked(Action::OpenSession, 1), intent::OpenSession{online.needsYou[0]}},
        {"the last session", online, asked(Action::OpenSession, 2), intent::OpenSession{online.needsYou[1]}},
        {"beyond the list", online, asked(Action::OpenSession, 3), std::nullopt},
        {"with nobody waiting", stopped, asked(Action::OpenSession, 1), std::nullopt},
    };
    for (const Case& c : cases) {
        m_tray = c.tray;
        const std::variant<Intent, QString> decided = m_gate->decide(c.request);
        EXPECT_EQ(std::get_if<Intent>(&decided) ? std::optional(std::get<Intent>(decided)) : std::nullopt, c.expected)
            << c.what;
    }

    m_tray = stopped;
    EXPECT_EQ(std::get<QString>(m_gate->decide(asked(Action::Pause))),
              u"pause does not apply now: already paused"_s);
    EXPECT_EQ(std::get<QString>(m_gate->decide(asked(Action::OpenSession, 5))),
              u"open-session 5 does not apply now: 0 sessions need you"_s);
    EXPECT_TRUE(calls().isEmpty()) << "deciding carries nothing out";
}

TEST_F(ActionGateTest, WhatOnlyATrayDoesDoesNotApplyWithoutOne)
{
    const std::unique_ptr<ActionGate> alone = gate(nullptr);
    for (const Action action : {Action::Quit, Action::Status}) {
        const std::variant<Intent, QString> decided = alone->decide(asked(action));
        ASSERT_TRUE(std::holds_alternative<QString>(decided)) << actionName(action).toStdString();
        EXPECT_TRUE(std::get<QString>(decided).contains(u"no Kivo Bar runs for the agent home"_s));
    }

    std::vector<ActionOutcome> told;
    m_gate->perform(intent::ToggleNotify{}, record(told));
    m_gate->perform(intent::ShowStatus{}, record(told));
    m_gate->perform(asked(Action::Quit), record(told));
    EXPECT_EQ(told, std::vector<ActionOutcome>(3));
    EXPECT_EQ(m_duties.notify, 1);
    EXPECT_EQ(m_duties.shown, 1);
    EXPECT_EQ(m_duties.quitAfter, 3u) << "whoever asked hears that it is done before the tray quits";
}

TEST_F(ActionGateTest, ARequestForTheRunUnderWayJoinsItAndHearsItsOneOutcome)
{
    mark(u"hold"_s);
    std::vector<ActionOutcome> told;
    m_gate->perform(intent::Pause{}, record(told));
    for (int i = 0; i < 5; ++i)
        m_gate->perform(asked(Action::Pause), record(told));
    m_gate->perform(intent::Pause{});  // a second click in the menu, which waits for nothing
    EXPECT_TRUE(std::holds_alternative<Intent>(m_gate->decide(asked(Action::Pause)))) << "it may still be joined";

    // Another action of the tool waits for nothing: it does not apply while this one runs.
    std::vector<ActionOutcome> other;
    m_tray = waitingState(0, Reach::stopped());
    m_gate->perform(asked(Action::Resume), record(other));
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0], (ActionOutcome{Kind::NotApplicable, u"resume does not apply now: Stopping\u2026 is under way"_s}));

    ASSERT_TRUE(waitUntil([&] { return calls() == u"down\n"_s; }));
    EXPECT_TRUE(told.empty());
    mark(u"release"_s);
    ASSERT_TRUE(waitUntil([&] { return told.size() == 6; }));
    EXPECT_EQ(told, std::vector<ActionOutcome>(6, ActionOutcome{}));
    EXPECT_EQ(calls(), u"down\n"_s) << "one run, however many asked";
}

TEST_F(ActionGateTest, AFailedRunIsToldToAllWhoWaitedAndNamedByWhatWasAskedFor)
{
    m_tray = TrayState{.state = Reach::notSetUp(), .toolInstalled = true};
    mark(u"fail-up"_s);
    std::vector<std::pair<Intent, QString>> failed;
    QObject::connect(m_gate.get(), &ActionGate::runFailed,
                     [&](const Intent& intent, const QString& line) { failed.emplace_back(intent, line); });
    std::vector<ActionOutcome> told;
    m_gate->perform(asked(Action::SetUp), record(told));
    m_gate->perform(asked(Action::SetUp), record(told));

    ASSERT_TRUE(waitUntil([&] { return told.size() == 2; }));
    EXPECT_EQ(told, std::vector<ActionOutcome>(2, ActionOutcome{Kind::Failed, u"error: up refused"_s}));
    EXPECT_EQ(calls(), u"login --browser\nup\n"_s);
    ASSERT_EQ(failed.size(), 1u) << "once per run";
    EXPECT_EQ(failed[0].first, Intent(intent::SetUp{})) << "the set-up failed, though its step was the start";
    EXPECT_EQ(failed[0].second, u"error: up refused"_s);
}

TEST_F(ActionGateTest, BoundsHowManyWaitForOneRun)
{
    mark(u"hold"_s);
    std::vector<ActionOutcome> told;
    for (size_t i = 0; i < ActionGate::kMostJoined + 10; ++i)
        m_gate->perform(asked(Action::Pause), record(told));
    EXPECT_FALSE(told.empty()) << "those past the bound are refused at once";
    EXPECT_TRUE(std::all_of(told.begin(), told.end(), [](const ActionOutcome& o) { return o.kind == Kind::NotApplicable; }));
    const size_t refused = told.size();
    mark(u"release"_s);
    ASSERT_TRUE(waitUntil([&] { return told.size() == ActionGate::kMostJoined + 10; }));
    EXPECT_EQ(std::count(told.begin(), told.end(), ActionOutcome{}), ptrdiff_t(told.size() - refused));
}

TEST_F(ActionGateTest, RefusesARunThatAnotherProcessHasUnderWay)
{
    ActionLedger elsewhere(folder(), m_home);
    std::optional<RunClaim> theirs = elsewhere.claimRun();
    ASSERT_TRUE(theirs);
    std::vector<ActionOutcome> told;
    m_gate->perform(asked(Action::Pause), record(told));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].kind, Kind::NotApplicable);
    EXPECT_TRUE(told[0].line.contains(u"another Kivo Bar"_s)) << told[0].line.toStdString();

    theirs.reset();
    m_gate->perform(asked(Action::Pause), record(told));
    ASSERT_TRUE(waitUntil([&] { return told.size() == 2; }));
    EXPECT_EQ(told[1], ActionOutcome{});
    EXPECT_EQ(calls(), u"down\n"_s);
}

TEST_F(ActionGateTest, OpensOneWindowOfAKindPerMoment)
{
    std::vector<ActionOutcome> told;
    for (int i = 0; i < 100; ++i)
        m_gate->perform(asked(Action::Dashboard), record(told));
    EXPECT_EQ(m_desktop.started.size(), 1u);
    EXPECT_EQ(told.front(), ActionOutcome{});
    EXPECT_EQ(std::count_if(told.begin(), told.end(), [](const ActionOutcome& o) { return o.kind == Kind::NotApplicable; }), 99);
    EXPECT_FALSE(std::holds_alternative<Intent>(m_gate->decide(asked(Action::Dashboard))));

    // Another kind is another window; a session picked in the menu passes the same gate.
    m_gate->perform(intent::OpenSession{m_tray.needsYou[0]});
    m_gate->perform(asked(Action::OpenSession, 2));
    EXPECT_EQ(m_desktop.started.size(), 2u);

    m_now += ActionLedger::kWindowInterval;
    m_gate->perform(asked(Action::Dashboard), record(told));
    EXPECT_EQ(m_desktop.started.size(), 3u);
    EXPECT_EQ(told.back(), ActionOutcome{});
}

TEST_F(ActionGateTest, AWindowThatCannotOpenIsAFailure)
{
    m_desktop.hasTerminal = false;
    std::vector<ActionOutcome> told;
    m_gate->perform(asked(Action::Dashboard), record(told));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].kind, Kind::Failed);
    EXPECT_TRUE(told[0].line.startsWith(u"No terminal window could be opened"_s)) << told[0].line.toStdString();
}

TEST_F(ActionGateTest, SaysWhyAnActionDoesNotApply)
{
    const TrayState stopped = waitingState(0, Reach::stopped());
    const TrayState notInstalled{.state = Reach::notSetUp()};
    struct Case { TrayState tray; ActionRequest request; QString why; };
    const Case cases[] = {
        {stopped, asked(Action::Pause), u"pause does not apply now: already paused"_s},
        {m_tray, asked(Action::Resume), u"resume does not apply now: already running"_s},
        {notInstalled, asked(Action::Resume), u"resume does not apply now: this computer is not set up"_s},
        {m_tray, asked(Action::SetUp), u"set-up does not apply now: this computer is set up already"_s},
        {notInstalled, asked(Action::SetUp), u"set-up does not apply now: the agent is not installed"_s},
        {m_tray, asked(Action::Update), u"update does not apply now: no newer release is known"_s},
        {notInstalled, asked(Action::Toggle),
         u"toggle does not apply now: neither pause nor resume does (Kivo isn't set up on this computer)"_s},
    };
    for (const Case& c : cases) {
        m_tray = c.tray;
        const std::variant<Intent, QString> decided = m_gate->decide(c.request);
        EXPECT_EQ(std::get_if<QString>(&decided) ? std::get<QString>(decided) : QString(), c.why);
    }

    m_tray = stopped;
    EXPECT_EQ(m_gate->decide(asked(Action::Toggle)), (std::variant<Intent, QString>(intent::Resume{})));
    m_tray = waitingState(0);
    EXPECT_EQ(m_gate->decide(asked(Action::Toggle)), (std::variant<Intent, QString>(intent::Pause{})));
}
