#include "exported_items.h"
#include "private_bus.h"
#include "menu_rows.h"
#include "panel/dbus_menu.h"
#include "qt_printers.h"
#include "test_files.h"
#include "view/menu_content.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

std::vector<MenuRow> menuFor(int sessions, bool paused = false)
{
    return MenuContent::rows(paused ? waitingState(sessions, Reach::stopped()) : waitingState(sessions));
}

int idOf(const DBusMenu& menu, const QString& rowId)
{
    return itemIdOf(menu.exported(), rowId);
}

class DBusMenuTest : public testing::Test {
protected:
    void SetUp() override
    {
        registerDBusTypes();
        QObject::connect(&m_menu, &DBusMenu::LayoutUpdated, [this](uint revision, int parent) {
            m_layouts.push_back({revision, parent});
        });
        QObject::connect(&m_menu, &DBusMenu::ItemsPropertiesUpdated,
                         [this](const DBusMenuItemList& updated, const DBusMenuItemKeysList&) {
            m_propertyUpdates.push_back(updated);
        });
    }

    std::vector<Intent> m_picked;
    std::chrono::steady_clock::time_point m_now{};
    DBusMenu m_menu{{u"/build/share/icons"_s}, [this](const Intent& action) { m_picked.push_back(action); },
                    [this] { return m_now; }};
    std::vector<std::pair<uint, int>> m_layouts;
    std::vector<DBusMenuItemList> m_propertyUpdates;
};

}  // namespace

TEST_F(DBusMenuTest, SendsOneSignalPerChangeAndNoneWhenNothingChanged)
{
    m_menu.show(menuFor(0));
    m_menu.show(menuFor(0));
    ASSERT_EQ(m_layouts.size(), 1u);
    EXPECT_EQ(m_layouts.back(), std::make_pair(m_menu.exported().revision(), 0));

    m_menu.show(menuFor(0, true));
    EXPECT_EQ(m_layouts.size(), 1u);
    EXPECT_EQ(m_propertyUpdates.size(), 1u) << "many rows changed, one signal";

    m_menu.show(menuFor(1000, true));
    m_menu.show(menuFor(0, true));
    EXPECT_EQ(m_layouts.size(), 3u);
    EXPECT_EQ(m_propertyUpdates.size(), 1u);
}

TEST_F(DBusMenuTest, ServesTheLayoutAndPropertiesAsAPanelAsksForThem)
{
    m_menu.show(menuFor(2));
    DBusMenuLayoutItem layout;
    const uint revision = m_menu.GetLayout(0, -1, {}, layout);
    EXPECT_EQ(revision, m_menu.exported().revision());
    EXPECT_EQ(layout.id, 0);
    EXPECT_EQ(layout.properties.value(u"children-display"_s), u"submenu"_s);
    ASSERT_EQ(layout.children.size(), qsizetype(menuFor(2).size()));
    EXPECT_EQ(layout.children.front().properties.value(u"label"_s), u"Reachable from your devices \u00b7 via eu-1"_s);

    DBusMenuLayoutItem onlyLabels;
    m_menu.GetLayout(0, 1, {u"label"_s}, onlyLabels);
    EXPECT_EQ(onlyLabels.children.front().properties.keys(), QStringList{u"label"_s});

    DBusMenuLayoutItem rootAlone;
    m_menu.GetLayout(0, 0, {}, rootAlone);
    EXPECT_TRUE(rootAlone.children.isEmpty());

    const int quit = idOf(m_menu, u"quit"_s);
    const DBusMenuItemList group = m_menu.GetGroupProperties({quit, 99999}, {u"label"_s});
    ASSERT_EQ(group.size(), 1) << "unknown ids are left out";
    EXPECT_EQ(group.front().id, quit);
    EXPECT_EQ(group.front().properties.value(u"label"_s), u"Quit Kivo Bar"_s);
    EXPECT_EQ(m_menu.GetProperty(quit, u"label"_s).variant(), u"Quit Kivo Bar"_s);

    QList<int> errors;
    EXPECT_TRUE(m_menu.AboutToShowGroup({0, quit, 99999}, errors).isEmpty());
    EXPECT_EQ(errors, QList<int>{99999});
    EXPECT_FALSE(m_menu.AboutToShow(0));
}

TEST_F(DBusMenuTest, AClickRunsTheRowsActionAfterTheCallReturnsAndOnlyForRowsThatCanBePicked)
{
    m_menu.show(menuFor(1));
    m_menu.Event(idOf(m_menu, u"pause"_s), u"clicked"_s, QDBusVariant(0), 0);
    EXPECT_TRUE(m_picked.empty()) << "not while the panel waits for its answer";
    ASSERT_TRUE(waitUntil([this] { return m_picked.size() == 1; }));
    EXPECT_EQ(m_picked.back(), Intent(intent::Pause{}));

    // Hovering, a text row, a hidden row and an id that does not exist do nothing.
    m_menu.Event(idOf(m_menu, u"quit"_s), u"hovered"_s, QDBusVariant(0), 0);
    m_menu.Event(idOf(m_menu, u"headline"_s), u"clicked"_s, QDBusVariant(0), 0);
    m_menu.Event(idOf(m_menu, u"resume"_s), u"clicked"_s, QDBusVariant(0), 0);
    m_menu.Event(99999, u"clicked"_s, QDBusVariant(0), 0);
    const QList<int> unknown = m_menu.EventGroup({{idOf(m_menu, u"log"_s), u"clicked"_s, QDBusVariant(0), 0},
                                                  {424242, u"clicked"_s, QDBusVariant(0), 0}});
    EXPECT_EQ(unknown, QList<int>{424242});
    ASSERT_TRUE(waitUntil([this] { return m_picked.size() == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(m_picked.size(), 2u);
    EXPECT_EQ(m_picked.back(), Intent(intent::ShowLog{}));
}

TEST_F(DBusMenuTest, TakesAFloodOfClicksOnOneRowForOnePick)
{
    m_menu.show(menuFor(1));
    const int log = idOf(m_menu, u"log"_s);
    for (int i = 0; i < 1000; ++i)
        m_menu.Event(log, u"clicked"_s, QDBusVariant(0), 0);
    m_menu.Event(idOf(m_menu, u"dashboard"_s), u"clicked"_s, QDBusVariant(0), 0);
    ASSERT_TRUE(waitUntil([this] { return m_picked.size() == 2; }));
    m_now += DBusMenu::kRepeatedPick;
    m_menu.Event(log, u"clicked"_s, QDBusVariant(0), 0);
    ASSERT_TRUE(waitUntil([this] { return m_picked.size() == 3; })) << "a later pick of the same row counts";
    QCoreApplication::processEvents();
    EXPECT_EQ(m_picked, (std::vector<Intent>{intent::ShowLog{}, intent::OpenDashboard{}, intent::ShowLog{}}));
}

// One call of any panel must not cost the tray its connection: an answer over the bus's size limit would.
TEST(DBusMenuOnTheBus, AnswersAnHugeRequestWithTheMenuOnceAndGoesOnAnswering)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.running()) << "dbus-daemon must be installed";
    registerDBusTypes();
    QDBusConnection tray = bus.connect(u"tray"_s);
    const QDBusConnection panel = bus.connect(u"panel"_s);
    DBusMenu menu({}, {});
    TrayState state = waitingState(1);
    state.needsYou[0].where = QString(1000, u'w');
    menu.show(MenuContent::rows(state));
    ASSERT_TRUE(tray.registerObject(u"/MenuBar"_s, &menu, QDBusConnection::ExportScriptableSlots));

    const auto call = [&](const QString& method, const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(tray.baseService(), u"/MenuBar"_s,
                                                              u"com.canonical.dbusmenu"_s, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = panel.asyncCall(message, 60'000);
        waitUntil([&] { return pending.isFinished(); }, std::chrono::seconds(60));
        return pending.reply();
    };
    const std::vector<MenuRow> rows = MenuContent::rows(state);
    const auto sessionRow = std::find_if(rows.begin(), rows.end(), [](const MenuRow& r) { return r.id.startsWith(u"needs:"_s); });
    ASSERT_NE(sessionRow, rows.end());
    const int session = itemIdOf(menu.exported(), sessionRow->id);
    const QDBusMessage flood = call(u"GetGroupProperties"_s,
                                    {QVariant::fromValue(QList<int>(1'200'000, session)),
                                     QVariant::fromValue(QStringList(100'000, u"label"_s))});
    ASSERT_EQ(flood.type(), QDBusMessage::ReplyMessage) << flood.errorMessage().toStdString();
    const DBusMenuItemList items = qdbus_cast<DBusMenuItemList>(flood.arguments().value(0));
    ASSERT_EQ(items.size(), 1) << "each item once";
    EXPECT_EQ(items.front().properties.keys(), QStringList{u"label"_s});

    EXPECT_TRUE(tray.isConnected());
    const QDBusMessage layout = call(u"GetLayout"_s, {0, -1, QStringList()});
    EXPECT_EQ(layout.type(), QDBusMessage::ReplyMessage) << "and answers the next call";
}
