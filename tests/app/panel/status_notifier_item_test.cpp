#include "panel/panel_tray.h"
#include "panel/status_notifier_item.h"
#include "private_bus.h"
#include "test_files.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusPendingCall>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

DBusImageList fakePixmaps(const QString& name)
{
    return name.isEmpty() ? DBusImageList() : DBusImageList{{1, 1, name.toUtf8().left(4).leftJustified(4, '.')}};
}

TrayLook online()
{
    return {.iconName = u"kivobar-online-symbolic"_s, .toolTipTitle = u"Reachable"_s,
            .accessibleDescription = u"Reachable"_s};
}

// The item's change signals, by name, in the order sent.
struct SignalLog {
    explicit SignalLog(StatusNotifierItem& item)
    {
        QObject::connect(&item, &StatusNotifierItem::NewIcon, [this] { names += u"NewIcon"_s; });
        QObject::connect(&item, &StatusNotifierItem::NewAttentionIcon, [this] { names += u"NewAttentionIcon"_s; });
        QObject::connect(&item, &StatusNotifierItem::NewToolTip, [this] { names += u"NewToolTip"_s; });
        QObject::connect(&item, &StatusNotifierItem::NewStatus, [this](const QString& s) { names += u"NewStatus "_s + s; });
        QObject::connect(&item, &StatusNotifierItem::NewTitle, [this] { names += u"NewTitle"_s; });
    }
    QStringList names;
};

// The reply to a call that the object answers on this very thread, so the event loop runs while it waits.
QDBusMessage callOn(const QDBusConnection& from, const QDBusConnection& to, const QString& path,
                    const QString& interface, const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(to.baseService(), path, interface, method);
    call.setArguments(arguments);
    QDBusPendingCall pending = from.asyncCall(call);
    waitUntil([&] { return pending.isFinished(); });
    return pending.reply();
}

}  // namespace

TEST(StatusNotifierItem, TellsThePanelOfEachPropertyThatReadsDifferently)
{
    struct Case { const char* what; TrayLook look; QStringList signals; };
    TrayLook waiting = online();
    waiting.iconName = u"kivobar-needs-you-symbolic"_s;
    waiting.needsAttention = true;
    waiting.toolTipText = u"1 session needs you"_s;
    waiting.accessibleDescription = u"Reachable. 1 session needs you"_s;
    TrayLook described = waiting;
    described.accessibleDescription = u"Kivo is paused. 1 session needs you"_s;
    TrayLook tip = described;
    tip.toolTipText = u"2 sessions need you"_s;
    TrayLook relays = online();
    relays.toolTipTitle = u"Reachable from your devices · via eu-1, us-2"_s;
    relays.accessibleDescription = relays.toolTipTitle;
    const Case cases[] = {
        {"the first look", online(), {u"NewIcon"_s, u"NewToolTip"_s}},
        {"the same look", online(), {}},
        {"a new headline while nothing waits", relays, {u"NewIcon"_s, u"NewToolTip"_s}},
        {"a session waits", waiting, {u"NewIcon"_s, u"NewAttentionIcon"_s, u"NewStatus NeedsAttention"_s, u"NewToolTip"_s}},
        {"only what screen readers hear", described, {u"NewIcon"_s, u"NewAttentionIcon"_s}},
        {"only the tooltip's text", tip, {u"NewToolTip"_s}},
        {"back online", online(), {u"NewIcon"_s, u"NewStatus Active"_s, u"NewToolTip"_s}},
        {"waiting again", waiting, {u"NewIcon"_s, u"NewAttentionIcon"_s, u"NewStatus NeedsAttention"_s, u"NewToolTip"_s}},
    };
    StatusNotifierItem item(u""_s, QDBusObjectPath(u"/MenuBar"_s), fakePixmaps, StatusNotifierItem::IconSource::Named);
    SignalLog log(item);
    for (const Case& c : cases) {
        log.names.clear();
        item.show(c.look);
        EXPECT_EQ(log.names, c.signals) << c.what;
    }
}

TEST(StatusNotifierItem, GivesPanelsThatDrawSymbolicIconsAsTheyAreOnlyImages)
{
    StatusNotifierItem named(u""_s, QDBusObjectPath(u"/MenuBar"_s), fakePixmaps, StatusNotifierItem::IconSource::Named);
    StatusNotifierItem images(u""_s, QDBusObjectPath(u"/MenuBar"_s), fakePixmaps, StatusNotifierItem::IconSource::Images);
    for (StatusNotifierItem* item : {&named, &images})
        item->show(online());
    EXPECT_EQ(named.iconName(), u"kivobar-online-symbolic"_s);
    EXPECT_EQ(named.attentionIconName(), u"kivobar-needs-you-symbolic"_s);
    EXPECT_EQ(images.iconName(), u""_s);
    EXPECT_EQ(images.attentionIconName(), u""_s);
    EXPECT_EQ(images.toolTip().iconName, u""_s);
    EXPECT_EQ(images.iconPixmap(), named.iconPixmap());
    EXPECT_FALSE(images.iconPixmap().isEmpty());
    EXPECT_FALSE(images.attentionIconPixmap().isEmpty());
    EXPECT_EQ(images.iconAccessibleDesc(), u"Reachable"_s);
    EXPECT_EQ(images.attentionAccessibleDesc(), u"Reachable"_s);

    struct Case { const char* desktop; StatusNotifierItem::IconSource source; };
    const Case desktops[] = {{"LXQt", StatusNotifierItem::IconSource::Images},
                             {"X-Generic:lxqt", StatusNotifierItem::IconSource::Images},
                             {"KDE", StatusNotifierItem::IconSource::Named},
                             {"ubuntu:GNOME", StatusNotifierItem::IconSource::Named},
                             {"", StatusNotifierItem::IconSource::Named}};
    for (const Case& c : desktops)
        EXPECT_EQ(iconSourceFor(currentDesktop(QString::fromLatin1(c.desktop))), c.source) << c.desktop;
}

// Plasma opens the menu on a left click only when Activate fails; LXQt opens none on a left click at all.
TEST(PanelTray, ALeftClickOpensTheMenuWhereTheHostCanAndShowsTheStateWhereItCannot)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.running()) << "dbus-daemon must be installed";
    const QDBusConnection trayBus = bus.connect(u"tray"_s);
    const QDBusConnection panel = bus.connect(u"panel"_s);
    PanelTray tray(trayBus, u""_s, StatusNotifierItem::IconSource::Named);
    ASSERT_EQ(tray.start(), std::nullopt);
    int statusShown = 0;
    tray.setPickHandler([&](const Intent& action) {
        if (std::holds_alternative<intent::ShowStatus>(action))
            ++statusShown;
    });

    // Like Plasma: the failed activation makes it open the menu, and asks whether the menu needs updating.
    const QDBusMessage activated = callOn(panel, trayBus, u"/StatusNotifierItem"_s, u"org.kde.StatusNotifierItem"_s,
                                          u"Activate"_s, {0, 0});
    EXPECT_EQ(activated.type(), QDBusMessage::ErrorMessage) << "answered with an error";
    callOn(panel, trayBus, u"/MenuBar"_s, u"com.canonical.dbusmenu"_s, u"AboutToShow"_s, {0});
    waitUntil([] { return false; }, PanelTray::kMenuGrace * 2);
    EXPECT_EQ(statusShown, 0) << "the menu opened, so nothing else shows";

    // Like LXQt: nothing opens the menu.
    callOn(panel, trayBus, u"/StatusNotifierItem"_s, u"org.kde.StatusNotifierItem"_s, u"Activate"_s, {0, 0});
    EXPECT_TRUE(waitUntil([&] { return statusShown == 1; })) << "the click shows the state instead";
}
