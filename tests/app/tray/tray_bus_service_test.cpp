#include "menu_rows.h"
#include "private_bus.h"
#include "qt_printers.h"
#include "test_files.h"
#include "tray/remote_tray.h"
#include "tray/tray_bus_service.h"
#include "view/menu_content.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>

#include <gtest/gtest.h>

#include <future>

using namespace Qt::StringLiterals;

namespace {

const QString kHome = u"/home/someone/.kivo"_s;

// The tray as the service sees it: a menu computed from a state the test sets, and a record of what it was
// asked to carry out, whose ends the test decides.
struct FakeTray {
    TrayState state = waitingState(2);
    std::vector<Intent> performed;
    std::vector<IntentDone> pending;

    TrayBusService::Tray tray()
    {
        return {.rows = [this] { return MenuContent::rows(state); },
                .perform = [this](const Intent& intent, const IntentDone& done) {
                    performed.push_back(intent);
                    if (done)
                        pending.push_back(done);
                }};
    }
};

class TrayBusServiceTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_bus.running());
        m_service = std::make_unique<TrayBusService>(m_bus.connect(u"tray"_s), trayBusAddress(kHome), m_tray.tray());
        ASSERT_EQ(m_service->start(), std::nullopt);
    }

    // Calls a method of the tray's object from another connection, the event loop running meanwhile.
    QDBusMessage call(const QString& interface, const QString& method, const QVariantList& arguments)
    {
        const TrayBusAddress address = trayBusAddress(kHome);
        QDBusMessage message = QDBusMessage::createMethodCall(address.service, address.path, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = m_caller.asyncCall(message);
        EXPECT_TRUE(waitUntil([&] { return pending.isFinished(); }));
        return pending.reply();
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

    PrivateBus m_bus;
    QDBusConnection m_caller = m_bus.connect(u"caller"_s);
    FakeTray m_tray;
    std::unique_ptr<TrayBusService> m_service;
};

QVariantList integer(const QVariant& value)
{
    return {value};
}

}  // namespace

TEST(BusRequest, ReadsTheActionAndWhatItTakes)
{
    using Action = ActionRequest::Action;
    struct Case { QString name; QVariantList parameter; std::optional<ActionRequest> expected; QString error; };
    const QString invalid = u"org.freedesktop.DBus.Error.InvalidArgs"_s;
    const Case cases[] = {
        {u"pause"_s, {}, ActionRequest{.action = Action::Pause}, {}},
        {u"status"_s, {}, ActionRequest{.action = Action::Status}, {}},
        {u"open-session"_s, integer(2), ActionRequest{.action = Action::OpenSession, .session = 2}, {}},
        {u"open-session"_s, integer(quint64(3)), ActionRequest{.action = Action::OpenSession, .session = 3}, {}},
        {u"open-session"_s, integer(uchar(1)), ActionRequest{.action = Action::OpenSession, .session = 1}, {}},
        {u"open-session"_s, integer(0), std::nullopt, invalid},
        {u"open-session"_s, integer(u"2"_s), std::nullopt, invalid},
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

TEST_F(TrayBusServiceTest, AnswersPerformOnlyOnceTheActionHasEnded)
{
    const TrayBusAddress address = trayBusAddress(kHome);
    QDBusMessage message = QDBusMessage::createMethodCall(address.service, address.path, QString(kControlInterface),
                                                         u"Perform"_s);
    message.setArguments({u"pause"_s, QVariant::fromValue(QVariantList())});
    QDBusPendingCall pending = m_caller.asyncCall(message);
    ASSERT_TRUE(waitUntil([&] { return !m_tray.pending.empty(); }));
    EXPECT_EQ(m_tray.performed, std::vector<Intent>{intent::Pause{}});
    QCoreApplication::processEvents();
    EXPECT_FALSE(pending.isFinished()) << "no answer while the action runs";

    m_tray.pending.front()({.succeeded = false, .lastLine = u"error: the relay refused"_s});
    ASSERT_TRUE(waitUntil([&] { return pending.isFinished(); }));
    EXPECT_EQ(pending.reply().arguments(), (QVariantList{false, u"error: the relay refused"_s}));

    message.setArguments({u"open-session"_s, QVariant::fromValue(integer(2))});
    m_caller.asyncCall(message);
    ASSERT_TRUE(waitUntil([&] { return m_tray.pending.size() == 2; }));
    EXPECT_EQ(m_tray.performed.back(), Intent(intent::OpenSession{m_tray.state.needsYou[1]}));
}

TEST_F(TrayBusServiceTest, RefusesWhatTheMenuDoesNotOfferWhicheverWayItIsAsked)
{
    m_tray.state = waitingState(0, Reach::stopped());
    const QString why = u"pause does not apply now (Kivo is paused: this computer is unreachable)"_s;
    for (const QDBusMessage& reply : {control(u"Check"_s, u"pause"_s), control(u"Perform"_s, u"pause"_s),
                                      call(QString(kApplicationInterface), u"ActivateAction"_s,
                                           {u"pause"_s, QVariant::fromValue(QVariantList()), QVariantMap()})}) {
        EXPECT_EQ(reply.errorName(), kNotApplicableError);
        EXPECT_EQ(reply.errorMessage(), why);
    }
    EXPECT_EQ(control(u"Check"_s, u"open-session"_s, integer(1)).errorMessage(),
              u"open-session 1 does not apply now: 0 sessions need you"_s);
    EXPECT_EQ(control(u"Check"_s, u"frob"_s).errorName(), kUnknownActionError);
    EXPECT_TRUE(m_tray.performed.empty());

    EXPECT_EQ(control(u"Check"_s, u"resume"_s).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(m_tray.performed.empty()) << "checking carries nothing out";
}

TEST_F(TrayBusServiceTest, ActivateShowsTheStateActivateActionStartsAndOpenIsRefused)
{
    EXPECT_EQ(call(QString(kApplicationInterface), u"Activate"_s, {QVariantMap()}).type(), QDBusMessage::ReplyMessage);
    const QDBusMessage started = call(QString(kApplicationInterface), u"ActivateAction"_s,
                                      {u"dashboard"_s, QVariant::fromValue(QVariantList()), QVariantMap()});
    EXPECT_EQ(started.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(m_tray.performed, (std::vector<Intent>{intent::ShowStatus{}, intent::OpenDashboard{}}));
    EXPECT_TRUE(m_tray.pending.empty()) << "launchers do not wait for the end";

    const QDBusMessage opened = call(QString(kApplicationInterface), u"Open"_s,
                                     {QStringList{u"file:///etc/passwd"_s}, QVariantMap()});
    EXPECT_EQ(opened.errorName(), u"org.freedesktop.DBus.Error.NotSupported"_s);
    EXPECT_EQ(m_tray.performed.size(), 2u);
}

TEST_F(TrayBusServiceTest, HoldsItsHomesNameAloneAndLetsItGoAtTheEnd)
{
    FakeTray other;
    TrayBusService second(m_bus.connect(u"second"_s), trayBusAddress(kHome), other.tray());
    const std::optional<QString> refused = second.start();
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->contains(trayBusAddress(kHome).service)) << refused->toStdString();

    const RemoteTray remote(m_caller, kHome);
    EXPECT_TRUE(remote.running());
    m_service.reset();
    EXPECT_TRUE(waitUntil([&] { return !remote.running(); }));
    EXPECT_EQ(remote.check({.action = ActionRequest::Action::Pause}).kind, RemoteTray::Answer::Kind::Gone);
}

TEST_F(TrayBusServiceTest, TheClientHearsWhatTheTrayAnswered)
{
    using Kind = RemoteTray::Answer::Kind;
    const RemoteTray remote(m_bus.connect(u"client"_s), kHome);
    const ActionRequest pause{.action = ActionRequest::Action::Pause};

    EXPECT_EQ(fromClient([&] { return remote.check(pause); }).kind, Kind::Done);
    const RemoteTray::Answer resume = fromClient([&] { return remote.check({.action = ActionRequest::Action::Resume}); });
    EXPECT_EQ(resume.kind, Kind::NotApplicable);
    EXPECT_TRUE(resume.text.startsWith(u"resume does not apply now"_s)) << resume.text.toStdString();
    EXPECT_EQ(fromClient([&] { return remote.activate(); }).kind, Kind::Done);

    std::future<RemoteTray::Answer> performed = std::async(std::launch::async, [&] { return remote.perform(pause); });
    ASSERT_TRUE(waitUntil([&] { return !m_tray.pending.empty(); }));
    m_tray.pending.front()({.succeeded = false, .lastLine = u"error: no"_s});
    ASSERT_TRUE(waitUntil([&] { return performed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    const RemoteTray::Answer failed = performed.get();
    EXPECT_EQ(failed.kind, Kind::Failed);
    EXPECT_EQ(failed.text, u"error: no"_s);

    const RemoteTray elsewhere(m_bus.connect(u"client"_s), u"/another/home"_s);
    EXPECT_FALSE(elsewhere.running());
    EXPECT_EQ(elsewhere.check(pause).kind, Kind::Gone);
}
