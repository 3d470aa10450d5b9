#include "panel/tray_host_watch.h"
#include "private_bus.h"
#include "test_files.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString kWatcher = u"org.kde.StatusNotifierWatcher"_s;

// A StatusNotifier watcher that records registrations and answers whether a host is there, at once or
// when the test says.
class FakeWatcher : public QDBusVirtualObject {
public:
    FakeWatcher(QDBusConnection connection, bool host) : m_connection(std::move(connection)), m_host(host)
    {
        m_connection.registerVirtualObject(u"/StatusNotifierWatcher"_s, this);
        m_connection.registerService(kWatcher);
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() == u"RegisterStatusNotifierItem"_s) {
            registered += message.arguments().value(0).toString();
            connection.send(message.createReply());
        } else if (message.member() == u"Get"_s) {
            ++asked;
            held.push_back(message);
            if (!holdAnswers)
                answer();
        } else {
            connection.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
        }
        return true;
    }

    QString introspect(const QString&) const override { return {}; }

    /// Answers the questions held back, with whether a host is there.
    void answer()
    {
        for (const QDBusMessage& question : std::exchange(held, {}))
            m_connection.send(question.createReply(QVariant::fromValue(QDBusVariant(m_host))));
    }

    void leave() { m_connection.unregisterService(kWatcher); }

    /// Says that a host came, which makes the item's side ask again.
    void announceHost()
    {
        m_connection.send(QDBusMessage::createSignal(u"/StatusNotifierWatcher"_s, kWatcher,
                                                     u"StatusNotifierHostRegistered"_s));
    }

    QStringList registered;
    int asked = 0;
    std::vector<QDBusMessage> held;
    bool holdAnswers = false;

private:
    QDBusConnection m_connection;
    bool m_host;
};

}  // namespace

TEST(TrayHostWatch, RegistersWithEachWatcherAndTrustsOnlyTheCurrentOnesAnswer)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.running()) << "dbus-daemon must be installed";
    const QDBusConnection app = bus.connect(u"app"_s);
    TrayHostWatch watch(app, u":the.item"_s);
    std::vector<bool> presence;
    QObject::connect(&watch, &TrayHostWatch::hostPresenceChanged, [&](bool present) { presence.push_back(present); });
    watch.start();

    FakeWatcher first(bus.connect(u"first"_s), true);
    ASSERT_TRUE(waitUntil([&] { return watch.hostPresent(); })) << "a watcher that comes later is found";
    EXPECT_EQ(first.registered, QStringList{u":the.item"_s});

    // The first watcher is slow to say whether a host is there, and is replaced meanwhile by one with none.
    first.holdAnswers = true;
    first.announceHost();
    ASSERT_TRUE(waitUntil([&] { return !first.held.empty(); }));
    first.leave();
    ASSERT_TRUE(waitUntil([&] { return !watch.hostPresent(); })) << "no watcher, no host";
    FakeWatcher second(bus.connect(u"second"_s), false);
    ASSERT_TRUE(waitUntil([&] { return second.registered.size() == 1; })) << "registered again with the new one";
    ASSERT_TRUE(waitUntil([&] { return second.asked > 0; }));
    first.answer();
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_FALSE(watch.hostPresent()) << "the earlier watcher's late answer is not taken for the new one's";
    EXPECT_EQ(presence, (std::vector{true, false}));
}

// Plasma's daemon runs the watcher apart from the panel and says a host is there with no panel at all: there
// only a host's own name on the bus counts, and it counts until it goes.
TEST(TrayHostWatch, InPlasmasDaemonOnlyAHostOfItsOwnCounts)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.running()) << "dbus-daemon must be installed";
    QDBusConnection daemon = bus.connect(u"kded"_s);
    ASSERT_TRUE(daemon.registerService(u"org.kde.kded5"_s));
    FakeWatcher kded(daemon, true);
    TrayHostWatch watch(bus.connect(u"app"_s), u":the.item"_s);
    std::vector<bool> presence;
    QObject::connect(&watch, &TrayHostWatch::hostPresenceChanged, [&](bool present) { presence.push_back(present); });
    watch.start();
    ASSERT_TRUE(waitUntil([&] { return kded.asked > 0 && kded.registered.size() == 1; }));
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_FALSE(watch.hostPresent()) << "the daemon's word alone is no panel";

    QDBusConnection panel = bus.connect(u"panel"_s);
    ASSERT_TRUE(panel.registerService(u"org.kde.StatusNotifierHost-4242"_s));
    kded.announceHost();
    ASSERT_TRUE(waitUntil([&] { return watch.hostPresent(); })) << "a panel registered its host";

    panel.unregisterService(u"org.kde.StatusNotifierHost-4242"_s);
    daemon.send(QDBusMessage::createSignal(u"/StatusNotifierWatcher"_s, kWatcher, u"StatusNotifierHostUnregistered"_s));
    ASSERT_TRUE(waitUntil([&] { return !watch.hostPresent(); })) << "the panel went";
    EXPECT_EQ(presence, (std::vector{true, false}));
}
