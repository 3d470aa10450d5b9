#include "control/remote_tray.h"
#include "control/tray_bus_service.h"
#include "fake_desktop.h"
#include "fake_duties.h"
#include "menu_rows.h"
#include "private_bus.h"
#include "qt_printers.h"
#include "recording_tool.h"
#include "state/instance_lock.h"
#include "status_records.h"
#include "test_files.h"
#include "view/menu_content.h"
#include "view/session_id.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>

using namespace Qt::StringLiterals;

namespace {

using Action = ActionRequest::Action;

// The real gate of a tray whose menu shows a state the test sets, over an agent home with a recording tool.
class TrayBusServiceTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_bus.running());
        writeFile(m_home + u"/bin/kivo"_s, kRecordingTool, 0755);
        writeFile(m_home + u"/host"_s, "");
        writeStatusFile(m_home, StatusRecord{}.json());
        m_model = std::make_unique<Service>(ServiceSetup{.home = m_home, .desktop = &m_desktop,
                                                         .temporaryDirectory = m_scripts.path()});
        m_gate = std::make_unique<ActionGate>(ActionGate::Setup{.model = *m_model,
                                                                .tray = [this] { return m_tray; },
                                                                .ledger = m_ledger,
                                                                .duties = &m_duties});
        m_service = std::make_unique<TrayBusService>(m_bus.connect(u"tray"_s), trayBusAddress(m_home), *m_gate);
        ASSERT_EQ(m_service->start(), std::nullopt);
    }

    // Calls a method of the tray's object from another connection, the event loop running meanwhile.
    QDBusMessage call(const QString& interface, const QString& method, const QVariantList& arguments)
    {
        QDBusPendingCall pending = m_caller.asyncCall(message(interface, method, arguments));
        EXPECT_TRUE(waitUntil([&] { return pending.isFinished(); }));
        return pending.reply();
    }

    QDBusMessage message(const QString& interface, const QString& method, const QVariantList& arguments) const
    {
        const TrayBusAddress address = trayBusAddress(m_home);
        QDBusMessage message = QDBusMessage::createMethodCall(address.service, address.path, interface, method);
        message.setArguments(arguments);
        return message;
    }

    QDBusMessage control(const QString& method, const QString& action, const QVariantList& parameter = {})
    {
        return call(QString(kControlInterface), method, {action, QVariant::fromValue(parameter)});
    }

    // Runs a blocking call of the client on a thread of its own while this one serves the tray.
    template <typename Call>
    RemoteTray::Answer fromClient(Call call)
    {
        std::future<RemoteTray::Answer> answer = std::async(std::launch::async, call);
        EXPECT_TRUE(waitUntil([&] { return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        return answer.get();
    }

    QString calls() const { return QString::fromUtf8(readWholeFile(m_home + u"/calls"_s)); }
    void mark(const QString& name) { writeFile(m_home + u'/' + name, ""); }

    PrivateBus m_bus;
    QDBusConnection m_caller = m_bus.connect(u"caller"_s);
    QTemporaryDir m_dir;
    QTemporaryDir m_scripts;
    QString m_home = m_dir.path() + u"/.kivo"_s;
    FakeDesktop m_desktop;
    std::chrono::milliseconds m_now{1'000'000};
    ActionLedger m_ledger{std::nullopt, m_home, [this] { return m_now; }};
    FakeDuties m_duties;
    TrayState m_tray = waitingState(2);
    std::unique_ptr<Service> m_model;
    std::unique_ptr<ActionGate> m_gate;
    std::unique_ptr<TrayBusService> m_service;
};

QVariantList integer(const QVariant& value)
{
    return {value};
}

}  // namespace

TEST(BusRequest, ReadsTheActionAndWhatItTakesAsTheCommandLineDoes)
{
    struct Case { QString name; QVariantList parameter; std::optional<ActionRequest> expected; QString error; };
    const QString invalid = u"org.freedesktop.DBus.Error.InvalidArgs"_s;
    const Case cases[] = {
        {u"pause"_s, {}, ActionRequest{.action = Action::Pause}, {}},
        {u"status"_s, {}, ActionRequest{.action = Action::Status}, {}},
        {u"open-session"_s, integer(2), ActionRequest{.action = Action::OpenSession, .session = 2}, {}},
        {u"open-session"_s, integer(qlonglong(2)), ActionRequest{.action = Action::OpenSession, .session = 2}, {}},
        {u"open-session"_s, integer(quint64(3)), ActionRequest{.action = Action::OpenSession, .session = 3}, {}},
        {u"open-session"_s, integer(uchar(1)), ActionRequest{.action = Action::OpenSession, .session = 1}, {}},
        {u"open-session"_s, integer(0), std::nullopt, invalid},
        {u"open-session"_s, integer(-1), std::nullopt, invalid},
        {u"open-session"_s, integer(u"2"_s), ActionRequest{.action = Action::OpenSession, .session = 2}, {}},
        {u"open-session"_s, integer(u"s-0123456789ab"_s),
         ActionRequest{.action = Action::OpenSession, .sessionId = u"s-0123456789ab"_s}, {}},
        {u"open-session"_s, integer(u"two"_s), std::nullopt, invalid},
        {u"open-session"_s, integer(2.0), std::nullopt, invalid},
        {u"open-session"_s, integer(std::numeric_limits<quint64>::max()), std::nullopt, invalid},
        {u"open-session"_s, {}, std::nullopt, invalid},
        {u"pause"_s, integer(1), std::nullopt, invalid},
        {u"frob"_s, {}, std::nullopt, QString(kUnknownActionError)},
    };
    for (const Case& c : cases) {
        const auto request = busRequest(c.name, c.parameter);
        if (c.expected)
            EXPECT_EQ(std::get_if<ActionRequest>(&request) ? std::optional(std::get<ActionRequest>(request)) : std::nullopt,
                      c.expected) << c.name.toStdString();
        else
            EXPECT_EQ(std::get_if<BusRequestError>(&request) ? std::get<BusRequestError>(request).name : QString(), c.error)
                << c.name.toStdString();
    }
}

TEST_F(TrayBusServiceTest, AnswersPerformOnceTheActionHasEndedAndEveryCallerOfTheSameRunAlike)
{
    mark(u"hold"_s);
    mark(u"fail-down"_s);
    const QDBusMessage perform = message(QString(kControlInterface), u"Perform"_s, {u"pause"_s, QVariant::fromValue(QVariantList())});
    std::vector<QDBusPendingCall> pending;
    for (int i = 0; i < 3; ++i)
        pending.push_back(m_caller.asyncCall(perform));
    ASSERT_TRUE(waitUntil([&] { return calls() == u"down\n"_s; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(pending[0].isFinished()) << "no answer while the action runs";

    // A launcher's ActivateAction for the same run is answered at once: it waits for no run.
    EXPECT_EQ(call(QString(kApplicationInterface), u"ActivateAction"_s,
                   {u"pause"_s, QVariant::fromValue(QVariantList()), QVariantMap()}).type(), QDBusMessage::ReplyMessage);

    mark(u"release"_s);
    for (QDBusPendingCall& call : pending) {
        ASSERT_TRUE(waitUntil([&] { return call.isFinished(); }));
        EXPECT_EQ(call.reply().arguments(), (QVariantList{false, u"error: down refused"_s}));
    }
    EXPECT_EQ(calls(), u"down\n"_s) << "one run for all who asked";
}

TEST_F(TrayBusServiceTest, RefusesWhatDoesNotApplyWhicheverWayItIsAsked)
{
    m_tray = waitingState(0, Reach::stopped());
    const QString why = u"pause does not apply now: already paused"_s;
    for (const QDBusMessage& reply : {control(u"Check"_s, u"pause"_s), control(u"Perform"_s, u"pause"_s),
                                      call(QString(kApplicationInterface), u"ActivateAction"_s,
                                           {u"pause"_s, QVariant::fromValue(QVariantList()), QVariantMap()})}) {
        EXPECT_EQ(reply.errorName(), kNotApplicableError);
        EXPECT_EQ(reply.errorMessage(), why);
    }
    EXPECT_EQ(control(u"Check"_s, u"open-session"_s, integer(1)).errorMessage(),
              u"open-session 1 does not apply now: 0 sessions need you"_s);
    EXPECT_EQ(control(u"Check"_s, u"resume"_s).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(calls().isEmpty()) << "checking carries nothing out";

    // Whatever a caller sends, the answer quotes a bounded part of it.
    const QDBusMessage unknown = control(u"Check"_s, QString(4'000'000, u'p'));
    EXPECT_EQ(unknown.errorName(), kUnknownActionError);
    EXPECT_LT(unknown.errorMessage().size(), 200);
}

TEST_F(TrayBusServiceTest, ActivateShowsTheStateActivateActionStartsAndOpenIsRefused)
{
    EXPECT_EQ(call(QString(kApplicationInterface), u"Activate"_s, {QVariantMap()}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(m_duties.shown, 1);
    const QDBusMessage started = call(QString(kApplicationInterface), u"ActivateAction"_s,
                                      {u"dashboard"_s, QVariant::fromValue(QVariantList()), QVariantMap()});
    EXPECT_EQ(started.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(m_desktop.started.size(), 1u);
    const QDBusMessage again = call(QString(kApplicationInterface), u"ActivateAction"_s,
                                    {u"dashboard"_s, QVariant::fromValue(QVariantList()), QVariantMap()});
    EXPECT_EQ(again.errorName(), kNotApplicableError) << "one window of a kind per moment";

    m_desktop.hasTerminal = false;
    const QDBusMessage failed = call(QString(kApplicationInterface), u"ActivateAction"_s,
                                     {u"log"_s, QVariant::fromValue(QVariantList()), QVariantMap()});
    EXPECT_EQ(failed.errorName(), kFailedError);

    const QDBusMessage opened = call(QString(kApplicationInterface), u"Open"_s,
                                     {QStringList{u"file:///etc/passwd"_s}, QVariantMap()});
    EXPECT_EQ(opened.errorName(), u"org.freedesktop.DBus.Error.NotSupported"_s);
}

TEST_F(TrayBusServiceTest, WaitsInLineForItsNameAndSaysWhoHoldsIt)
{
    const QString name = trayBusAddress(m_home).service;
    QDBusConnection secondBus = m_bus.connect(u"second"_s);
    TrayBusService second(secondBus, trayBusAddress(m_home), *m_gate);
    const std::optional<QString> problem = second.start();
    ASSERT_TRUE(problem);
    EXPECT_TRUE(problem->contains(u"process %1 holds the name %2"_s.arg(QCoreApplication::applicationPid()).arg(name)))
        << problem->toStdString();

    m_service.reset();
    EXPECT_TRUE(waitUntil([&] { return m_caller.interface()->serviceOwner(name).value() == secondBus.baseService(); }))
        << "the one in line gets the name once its holder lets go";
}

TEST_F(TrayBusServiceTest, TheClientHandsEveryActionOverAndHearsWhatTheTrayAnswered)
{
    using Kind = RemoteTray::Answer::Kind;
    const RemoteTray remote(m_bus.connect(u"client"_s), m_home, std::nullopt);

    EXPECT_EQ(fromClient([&] { return remote.check({.action = Action::Pause}); }).kind, Kind::Done);
    const RemoteTray::Answer resume = fromClient([&] { return remote.check({.action = Action::Resume}); });
    EXPECT_EQ(resume.kind, Kind::NotApplicable);
    EXPECT_TRUE(resume.text.startsWith(u"resume does not apply now"_s)) << resume.text.toStdString();
    EXPECT_EQ(fromClient([&] { return remote.activate(); }).kind, Kind::Done);

    // A place travels as the integer it is: the tray opens that session.
    const ActionRequest second{.action = Action::OpenSession, .session = 2};
    EXPECT_EQ(fromClient([&] { return remote.check(second); }).kind, Kind::Done);
    EXPECT_EQ(fromClient([&] { return remote.perform(second); }).kind, Kind::Done);
    ASSERT_EQ(m_desktop.started.size(), 1u);
    EXPECT_TRUE(readWholeFile(m_desktop.started[0].arguments.value(0)).contains("watch r-1"));
    EXPECT_EQ(fromClient([&] { return remote.check({.action = Action::OpenSession, .session = 3}); }).kind,
              Kind::NotApplicable);
    // By its id, which stays with the session however the list moves; a moment later, as one window of a kind opens
    // per moment.
    m_now += ActionLedger::kWindowInterval;
    const ActionRequest first{.action = Action::OpenSession, .sessionId = sessionIds(m_tray.needsYou)[0]};
    m_tray.needsYou.insert(m_tray.needsYou.begin(), NeedsYou{.agent = u"reviewer"_s, .where = u"docs"_s});
    EXPECT_EQ(fromClient([&] { return remote.check(first); }).kind, Kind::Done);

    mark(u"fail-down"_s);
    const RemoteTray::Answer failed = fromClient([&] { return remote.perform({.action = Action::Pause}); });
    EXPECT_EQ(failed.kind, Kind::Failed);
    EXPECT_EQ(failed.text, u"error: down refused"_s);

    const RemoteTray elsewhere(m_bus.connect(u"client"_s), u"/another/home"_s, std::nullopt);
    EXPECT_EQ(elsewhere.standing().owner, std::nullopt);
    EXPECT_EQ(elsewhere.check({.action = Action::Pause}).kind, Kind::Gone);
}

TEST_F(TrayBusServiceTest, TheClientTrustsOnlyTheHolderOfTheHomesLock)
{
    QTemporaryDir folder;
    const auto lockFolder = [&] { return ScriptDirectory::open(folder.path(), true); };
    const qint64 self = QCoreApplication::applicationPid();

    EXPECT_EQ(RemoteTray(m_caller, m_home, std::nullopt).standing().trusted, true) << "no lock can be kept: the name is it";
    const RemoteTray::Standing noLock = RemoteTray(m_caller, m_home, lockFolder()).standing();
    EXPECT_EQ(noLock.owner, self);
    EXPECT_FALSE(noLock.trusted) << "whoever holds the name while no tray holds the lock is not the tray";

    const InstanceLock lock(lockFolder(), m_home);
    ASSERT_TRUE(lock.held());
    EXPECT_TRUE(RemoteTray(m_caller, m_home, lockFolder()).standing().trusted);
}
