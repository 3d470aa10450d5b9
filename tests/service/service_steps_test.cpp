#include "service/service.h"
#include "service/step_process.h"
#include "test_files.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Logs each call's arguments to HOME/calls; "fail" fails like a tool that is not signed in, and
// "wait NAME" holds the step until the file HOME/NAME exists.
constexpr const char* kFakeTool = R"sh(#!/bin/sh
home=$(dirname "$(dirname "$0")")
printf '%s\n' "$*" >> "$home/calls"
case "$1" in
    fail) printf 'step one ok\nerror: not signed in\n'; exit 2 ;;
    wait) while [ ! -e "$home/$2" ]; do sleep 0.02; done ;;
esac
exit 0
)sh";

std::string text(const std::optional<QString>& value)
{
    return value ? value->toStdString() : std::string("-");
}

// Records each change of the properties the runner touches, with the values it left behind.
class Recorder {
public:
    explicit Recorder(Service& service)
    {
        QObject::connect(&service, &Service::changed, &service, [this, &service](Service::Property property) {
            switch (property) {
            case Service::Property::Busy:
                m_changes.push_back("busy=" + text(service.busy()));
                break;
            case Service::Property::Message:
                m_changes.push_back("message=" + text(service.message()));
                break;
            case Service::Property::State:
                m_changes.push_back("refresh");  // every refresh ends by assigning the state
                break;
            default:
                break;
            }
        });
    }

    const std::vector<std::string>& changes() const { return m_changes; }
    void clear() { m_changes.clear(); }

    /// True once a run has ended: busy cleared, then (after a message, when it failed) a refresh.
    bool runEnded() const
    {
        for (size_t i = 0; i + 1 < m_changes.size(); ++i) {
            if (m_changes[i] != "busy=-")
                continue;
            const size_t next = m_changes[i + 1].starts_with("message=") ? i + 2 : i + 1;
            if (next < m_changes.size() && m_changes[next] == "refresh")
                return true;
        }
        return false;
    }

private:
    std::vector<std::string> m_changes;
};

class RunSteps : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        writeFile(m_home.filePath(u"bin/kivo"_s), kFakeTool, 0755);
        makeService();
    }

    void makeService()
    {
        m_service = std::make_unique<Service>(ServiceSetup{.home = m_home.path()});
        // Only the runs' own refreshes are counted; a 3-second tick would add one to a slow machine's run.
        if (auto* timer = m_service->findChild<QTimer*>(u"refresh"_s))
            timer->stop();
        m_recorder = std::make_unique<Recorder>(*m_service);
    }

    QString calls() const
    {
        QFile file(m_home.filePath(u"calls"_s));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    void open(const QString& gate) { writeFile(m_home.filePath(gate), {}); }

    QTemporaryDir m_home;
    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<Service> m_service;  // goes first, so that the recorder outlives every emission
};

using Changes = std::vector<std::string>;

}  // namespace

TEST_F(RunSteps, EmptyListClearsBusyAndRefreshesOnceWithoutStartingAnything)
{
    m_service->setMessage(u"an earlier failure"_s);
    m_recorder->clear();

    m_service->runSteps({});
    EXPECT_EQ(m_recorder->changes(), Changes({"message=-"}));

    ASSERT_TRUE(waitUntil([&] { return m_recorder->runEnded(); }));
    EXPECT_EQ(m_recorder->changes(), Changes({"message=-", "busy=-", "refresh"}));
    EXPECT_EQ(calls(), QString());
}

TEST_F(RunSteps, ShowsEachTitleInTurnAndRefreshesAfterTheLastStep)
{
    m_service->runSteps({{u"First…"_s, {u"first"_s}}, {u"Second…"_s, {u"second"_s, u"with two"_s}}});
    // Nothing has reached the main thread yet: only the message was cleared.
    EXPECT_EQ(m_recorder->changes(), Changes({"message=-"}));
    EXPECT_EQ(m_service->busy(), std::nullopt);

    ASSERT_TRUE(waitUntil([&] { return m_recorder->runEnded(); }));
    EXPECT_EQ(m_recorder->changes(),
              Changes({"message=-", "busy=First…", "busy=Second…", "busy=-", "refresh"}));
    EXPECT_EQ(calls(), u"first\nsecond with two\n"_s);
    EXPECT_EQ(m_service->message(), std::nullopt);
}

TEST_F(RunSteps, StopsAtTheFirstFailureAndShowsItsLastLine)
{
    m_service->runSteps({{u"One…"_s, {u"one"_s}}, {u"Two…"_s, {u"fail"_s}}, {u"Three…"_s, {u"three"_s}}});

    ASSERT_TRUE(waitUntil([&] { return m_recorder->runEnded(); }));
    EXPECT_EQ(m_recorder->changes(), Changes({"message=-", "busy=One…", "busy=Two…", "busy=-",
                                              "message=error: not signed in", "refresh"}));
    EXPECT_EQ(calls(), u"one\nfail\n"_s);  // the third step never ran
    EXPECT_EQ(m_service->busy(), std::nullopt);
    EXPECT_EQ(m_service->message(), u"error: not signed in"_s);
}

TEST_F(RunSteps, TellsWhoAskedHowTheRunEndedOnceItHasEnded)
{
    std::vector<std::string> ended;
    const auto record = [&](const StepOutcome& outcome) {
        ended.push_back((outcome.succeeded ? "ok " : "failed ") + outcome.lastLine.toStdString() + " after "
                        + m_recorder->changes().back());
    };
    m_service->runSteps({{u"One…"_s, {u"one"_s}}}, record);
    m_service->runSteps({{u"Two…"_s, {u"fail"_s}}, {u"Three…"_s, {u"three"_s}}}, record);
    EXPECT_TRUE(ended.empty()) << "nothing has ended before the steps ran";

    ASSERT_TRUE(waitUntil([&] { return ended.size() == 2; }));
    std::sort(ended.begin(), ended.end());
    EXPECT_EQ(ended, (std::vector<std::string>{"failed error: not signed in after refresh", "ok  after refresh"}))
        << "each is told once, after the refresh that shows the run's end";
}

TEST_F(RunSteps, ReportsAMissingToolOnTheFirstStep)
{
    ASSERT_TRUE(QFile::remove(m_home.filePath(u"bin/kivo"_s)));

    m_service->runSteps({{u"Starting…"_s, {u"up"_s}}, {u"Never…"_s, {u"never"_s}}});

    ASSERT_TRUE(waitUntil([&] { return m_recorder->runEnded(); }));
    const std::string reason = "Couldn't start " + m_home.filePath(u"bin/kivo"_s).toStdString() +
                               ": No such file or directory";
    EXPECT_EQ(m_recorder->changes(),
              Changes({"message=-", "busy=Starting…", "busy=-", "message=" + reason, "refresh"}));
}

TEST_F(RunSteps, OverlappingRunsEachEndOnTheirOwn)
{
    m_service->runSteps({{u"Waiting…"_s, {u"wait"_s, u"gate"_s}}});
    ASSERT_TRUE(waitUntil([&] { return m_service->busy() == u"Waiting…"_s; }));
    m_service->setMessage(u"an earlier failure"_s);
    m_recorder->clear();

    // A second run while the first is still going: the message goes at once, busy stays as it was.
    m_service->runSteps({{u"Failing…"_s, {u"fail"_s}}});
    EXPECT_EQ(m_service->message(), std::nullopt);
    EXPECT_EQ(m_service->busy(), u"Waiting…"_s);

    ASSERT_TRUE(waitUntil([&] { return m_recorder->runEnded(); }));
    EXPECT_EQ(m_recorder->changes(),
              Changes({"message=-", "busy=Failing…", "busy=-", "message=error: not signed in", "refresh"}));

    m_recorder->clear();
    open(u"gate"_s);
    ASSERT_TRUE(waitUntil([&] { return m_recorder->runEnded(); }));
    EXPECT_EQ(m_recorder->changes(), Changes({"busy=-", "refresh"}));
    EXPECT_EQ(m_service->message(), u"error: not signed in"_s);  // a completed run leaves it alone
}

TEST_F(RunSteps, ARunOutlivingItsServiceTouchesNothing)
{
    bool told = false;
    m_service->runSteps({{u"Waiting…"_s, {u"wait"_s, u"gate"_s}}, {u"After…"_s, {u"after"_s}}},
                        [&told](const StepOutcome&) { told = true; });
    ASSERT_TRUE(waitUntil([&] { return m_service->busy() == u"Waiting…"_s; }));
    m_service.reset();

    open(u"gate"_s);
    // The second step starts only after its title was posted; anything posted later than that title
    // runs after it, so once this marker has run, a title has been handed to a Service that is gone.
    ASSERT_TRUE(waitUntil([&] { return calls().endsWith(u"after\n"_s); }));
    bool markerRan = false;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { markerRan = true; }, Qt::QueuedConnection);
    ASSERT_TRUE(waitUntil([&] { return markerRan; }));
    EXPECT_FALSE(told) << "whoever asked went with the Service";
}

TEST_F(RunSteps, SetUpApprovesThisComputerThenStartsTheAgent)
{
    m_service->setUp();

    ASSERT_TRUE(waitUntil([&] { return m_recorder->runEnded(); }));
    EXPECT_EQ(m_recorder->changes(), Changes({"message=-", "busy=Approve this computer in your browser…",
                                              "busy=Starting…", "busy=-", "refresh"}));
    EXPECT_EQ(calls(), u"login --browser\nup\n"_s);
}

namespace {

// The stand-in agent is a real background agent: starting and stopping it shows in the state.
class RunStepsWithStandInAgent : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_homePath = m_dir.filePath(u"kivo home"_s);
        const StepOutcome made = runStep(standInAgentDir() + u"/make-home"_s, {m_homePath, u"--set-up"_s});
        ASSERT_TRUE(made.succeeded) << made.lastLine.toStdString();
        m_service = std::make_unique<Service>(ServiceSetup{.home = m_homePath});
    }

    void TearDown() override
    {
        // Never leave an agent running behind the test, whatever happened above.
        if (QFile::exists(m_homePath + u"/bin/kivo"_s))
            runStep(m_homePath + u"/bin/kivo"_s, {u"down"_s});
    }

    QTemporaryDir m_dir;
    QString m_homePath;
    std::unique_ptr<Service> m_service;
};

}  // namespace

TEST_F(RunStepsWithStandInAgent, StartsAndStopsTheAgent)
{
    ASSERT_TRUE(m_service->state().is(Reach::Kind::Stopped));

    m_service->runSteps({resumeStep()});
    ASSERT_TRUE(waitUntil([&] { return m_service->state().is(Reach::Kind::Online); }));
    EXPECT_EQ(m_service->message(), std::nullopt);

    m_service->runSteps({pauseStep()});
    ASSERT_TRUE(waitUntil([&] { return m_service->state().is(Reach::Kind::Stopped) && !m_service->busy(); }));
    EXPECT_EQ(m_service->message(), std::nullopt);
}
