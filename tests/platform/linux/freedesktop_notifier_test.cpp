#include "fake_notification_server.h"
#include "platform/linux/freedesktop_notifier.h"
#include "private_bus.h"
#include "test_files.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using Actions = QList<std::pair<QString, QString>>;

const Notification kSession{.summary = u"coder \u00b7 repo-a"_s, .body = u"approve?"_s,
                            .actions = {{u"open"_s, u"Open"_s}}, .clickAction = u"open"_s};
const QStringList kCapabilities = {u"actions"_s, u"body"_s};

class FreedesktopNotifierTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_bus.running()) << "dbus-daemon must be installed"; }

    std::unique_ptr<FakeNotificationServer> serve(const QString& connection, const QString& name,
                                                  const QStringList& capabilities = kCapabilities)
    {
        auto server = std::make_unique<FakeNotificationServer>(m_bus.connect(connection), name, capabilities);
        EXPECT_TRUE(server->serving());
        // The notifier learns of a new owner from the bus; let that arrive before the test goes on.
        const QString owner = m_client.interface()->serviceOwner(u"org.freedesktop.Notifications"_s);
        EXPECT_FALSE(owner.isEmpty());
        QCoreApplication::processEvents();
        return server;
    }

    PrivateBus m_bus;
    QDBusConnection m_client = m_bus.connect(u"client"_s);
    FreedesktopNotifier m_notifier{m_client, u"Kivo Bar"_s, u"io.kivo.KivoBar"_s, u"io.kivo.KivoBar"_s};
};

}  // namespace

TEST(FreedesktopNotifier, SendsOneOpenWhereverTheServerDrawsTheClickAsAButton)
{
    struct Case { const char* server; QStringList capabilities; QStringList expected; };
    const Case cases[] = {
        // GNOME Shell and Plasma take "default" as the click on the bubble and draw no button for it.
        {"gnome-shell", kCapabilities, {u"default"_s, u"Open"_s, u"open"_s, u"Open"_s}},
        {"Plasma", kCapabilities, {u"default"_s, u"Open"_s, u"open"_s, u"Open"_s}},
        {"Xfce Notify Daemon", kCapabilities, {u"default"_s, u"Open"_s}},
        {"lxqt-notificationd", kCapabilities, {u"default"_s, u"Open"_s}},
        {"dunst", {u"body"_s}, {}},
    };
    for (const Case& c : cases) {
        const NotificationServerTraits traits = notificationServerTraits(QString::fromLatin1(c.server), c.capabilities);
        EXPECT_EQ(wireActions(kSession, traits), c.expected) << c.server;
    }
    const NotificationServerTraits plain = notificationServerTraits(u"any"_s, kCapabilities);
    EXPECT_EQ(wireActions({.actions = {{u"0"_s, u"Pause"_s}, {u"default"_s, u"Sneaky"_s}}}, plain),
              (QStringList{u"0"_s, u"Pause"_s})) << "no click action: no default, and no button may pose as one";
}

TEST_F(FreedesktopNotifierTest, StartsAServerThatIsOnlyActivatable)
{
    const QString log = m_bus.serviceDirectory() + u"/../notifications.jsonl"_s;
    writeFile(m_bus.serviceDirectory() + u"/notifications.service"_s,
              u"[D-BUS Service]\nName=org.freedesktop.Notifications\nExec=/usr/bin/env PYTHONPATH=%1 "
              "/usr/bin/python3 -m kivodesk.notifications --log %2\n"_s
                  .arg(QStringLiteral(KIVO_DESKTOP_HARNESS), log)
                  .toUtf8());
    m_notifier.notify({.summary = u"No system tray is running"_s}, {});
    EXPECT_TRUE(waitUntil([&] { return readWholeFile(log).contains("\"No system tray is running\""); }))
        << "the first notification starts the server and reaches it";
}

TEST_F(FreedesktopNotifierTest, ForgetsWhatTheLastServerShowedWhenAnotherTakesItsPlace)
{
    int opened = 0;
    auto first = serve(u"first"_s, u"gnome-shell"_s);
    const Notifier::Id ours = m_notifier.notify(kSession, [&](const QString&) { ++opened; });
    ASSERT_TRUE(waitUntil([&] { return first->notified.size() == 1; }));
    QCoreApplication::processEvents();
    first->stop();
    QDBusConnection::disconnectFromBus(u"first"_s);

    // The new server counts from 1 again: its notification 1 is another app's, not ours.
    auto second = serve(u"second"_s, u"gnome-shell"_s);
    second->invoke(1, u"open"_s);
    second->invoke(1, u"default"_s);
    m_notifier.close(ours);
    m_notifier.notify({.summary = u"later"_s}, {});
    ASSERT_TRUE(waitUntil([&] { return second->notified.size() == 1; })) << "the new server gets what comes after";
    EXPECT_EQ(opened, 0) << "a click on another app's notification opens nothing of ours";
    EXPECT_TRUE(second->closed.empty()) << "and ours never closes another app's";
}

TEST_F(FreedesktopNotifierTest, ActsOnceAndOnlyOnKeysItOffered)
{
    auto server = serve(u"server"_s, u"gnome-shell"_s);
    QStringList picked;
    m_notifier.notify(kSession, [&](const QString& key) { picked += key; });
    ASSERT_TRUE(waitUntil([&] { return server->notified.size() == 1; }));
    QCoreApplication::processEvents();
    const uint id = server->notified.front().id;
    server->invoke(id, u"delete-everything"_s);
    server->invoke(id + 1, u"open"_s);
    for (int i = 0; i < 100; ++i)
        server->invoke(id, u"default"_s);
    ASSERT_TRUE(waitUntil([&] { return !picked.isEmpty(); }));
    // Whatever else the bus still holds for us is handled before the count is taken.
    m_notifier.notify({.summary = u"sync"_s}, {});
    ASSERT_TRUE(waitUntil([&] { return server->notified.size() == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(picked, QStringList{u"open"_s}) << "a click on the bubble is the click action, once";
}

TEST_F(FreedesktopNotifierTest, EscapesTheBodyForAServerThatReadsMarkupThoughItCameLate)
{
    const Notification risky{.summary = u"a & b"_s, .body = u"<a href=\"x\">x</a> & <img src=y>"_s};
    m_notifier.notify(risky, {});  // no server yet: nothing shows, nothing breaks
    auto plain = serve(u"plain"_s, u"gnome-shell"_s, kCapabilities);
    m_notifier.notify(risky, {});
    ASSERT_TRUE(waitUntil([&] { return plain->notified.size() == 1; }));
    EXPECT_EQ(plain->notified.front().body, risky.body);
    plain->stop();
    QDBusConnection::disconnectFromBus(u"plain"_s);

    auto markup = serve(u"markup"_s, u"gnome-shell"_s, kCapabilities + QStringList{u"body-markup"_s});
    m_notifier.notify(risky, {});
    ASSERT_TRUE(waitUntil([&] { return markup->notified.size() == 1; }));
    EXPECT_EQ(markup->notified.front().body, u"&lt;a href=\"x\"&gt;x&lt;/a&gt; &amp; &lt;img src=y&gt;"_s);
    EXPECT_EQ(markup->notified.front().summary, risky.summary) << "a summary is never markup";
    EXPECT_EQ(markup->notified.front().hints.value(u"desktop-entry"_s), u"io.kivo.KivoBar"_s);
}

TEST_F(FreedesktopNotifierTest, ReplacesItsOwnEarlierNotificationAndClosesWhatLeaves)
{
    auto server = serve(u"server"_s, u"gnome-shell"_s);
    const Notifier::Id first = m_notifier.notify({.summary = u"one"_s}, {});
    ASSERT_TRUE(waitUntil([&] { return server->notified.size() == 1; }));
    QCoreApplication::processEvents();
    const Notifier::Id second = m_notifier.notify({.summary = u"two"_s, .replaces = first}, {});
    ASSERT_TRUE(waitUntil([&] { return server->notified.size() == 2; }));
    EXPECT_EQ(server->notified[1].replaces, server->notified[0].id);
    QCoreApplication::processEvents();
    m_notifier.close(first);  // replaced: gone already
    m_notifier.close(second);
    ASSERT_TRUE(waitUntil([&] { return !server->closed.empty(); }));
    EXPECT_EQ(server->closed, std::vector<uint>{server->notified[0].id});
}

TEST_F(FreedesktopNotifierTest, ABurstInOnePlaceShowsOneNotificationWhateverTheServerHasAnswered)
{
    auto server = serve(u"server"_s, u"gnome-shell"_s);
    // Before the server has said what it can do, then while it has not answered for the first one shown.
    for (const int burst : {0, 1}) {
        server->notified.clear();
        Notifier::Id last = 0;
        for (int i = 0; i < 1000; ++i)
            last = m_notifier.notify({.summary = QString::number(i), .replaces = last}, {});
        ASSERT_TRUE(waitUntil([&] { return !server->notified.empty() && server->notified.back().summary == u"999"_s; }))
            << "burst " << burst;
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        EXPECT_LE(server->notified.size(), 2u) << "burst " << burst;
        for (size_t i = 1; i < server->notified.size(); ++i)
            EXPECT_EQ(server->notified[i].replaces, server->notified[0].id) << "a later one takes the first one's place";
    }
}
