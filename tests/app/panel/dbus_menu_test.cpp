#include "exported_items.h"
#include "menu_rows.h"
#include "panel/dbus_menu.h"
#include "qt_printers.h"
#include "test_files.h"
#include "view/menu_content.h"

#include <QCoreApplication>

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
    DBusMenu m_menu{{u"/build/share/icons"_s}, [this](const Intent& action) { m_picked.push_back(action); }};
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
