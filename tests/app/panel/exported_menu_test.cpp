#include "exported_items.h"
#include "menu_rows.h"
#include "panel/exported_menu.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using Kind = ExportedMenu::Change::Kind;

std::vector<MenuRow> menuFor(const TrayState& tray)
{
    return MenuContent::rows(tray);
}

TrayState waiting(int sessions)
{
    return waitingState(sessions);
}

std::vector<int> ids(const ExportedMenu& menu)
{
    std::vector<int> out;
    for (const ExportedMenu::Item& item : menu.items())
        out.push_back(item.id);
    return out;
}

}  // namespace

TEST(ExportedMenu, GivesEachKindOfRowItsProtocolProperties)
{
    MenuRow text{.id = u"t"_s, .kind = MenuRow::Kind::Text, .label = u"a_b & c"_s};
    MenuRow hidden = buttonRow(u"h"_s, u"Hidden"_s);
    hidden.shown = false;
    hidden.enabled = false;
    MenuRow quit = buttonRow(u"q"_s, u"Quit"_s);
    quit.shortcut = u"Ctrl+Q"_s;
    const MenuRow toggle = toggleRow(u"g"_s, u"On"_s, true);

    struct Case { MenuRow row; QVariantMap expected; };
    const Case cases[] = {
        {text, {{u"label"_s, u"a__b & c"_s}, {u"enabled"_s, false}, {u"visible"_s, true}}},
        {{.id = u"d"_s, .kind = MenuRow::Kind::Divider}, {{u"type"_s, u"separator"_s}, {u"visible"_s, true}}},
        {buttonRow(u"b"_s, u"Pick"_s), {{u"label"_s, u"Pick"_s}, {u"enabled"_s, true}, {u"visible"_s, true}}},
        {hidden, {{u"label"_s, u"Hidden"_s}, {u"enabled"_s, false}, {u"visible"_s, false}}},
        {toggle, {{u"label"_s, u"On"_s}, {u"enabled"_s, true}, {u"visible"_s, true}, {u"toggle-type"_s, u"checkmark"_s},
                  {u"toggle-state"_s, 1}}},
        {quit, {{u"label"_s, u"Quit"_s}, {u"enabled"_s, true}, {u"visible"_s, true},
                {u"shortcut"_s, QVariant::fromValue(QList<QStringList>{{u"Control"_s, u"q"_s}})}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExportedMenu::properties(c.row), c.expected) << c.row.id.toStdString();
}

TEST(ExportedMenu, TellsThePanelOnlyWhatChangedWithOneSignal)
{
    ExportedMenu menu;
    EXPECT_EQ(menu.update(menuFor(waiting(0))).kind, Kind::Layout) << "the first rows are a new layout";
    const uint revision = menu.revision();
    const std::vector<int> before = ids(menu);

    EXPECT_EQ(menu.update(menuFor(waiting(0))).kind, Kind::None);

    TrayState paused = waiting(0);
    paused.state = Reach::stopped();
    paused.message = u"error: not signed in"_s;
    const ExportedMenu::Change change = menu.update(menuFor(paused));
    EXPECT_EQ(change.kind, Kind::Properties);
    EXPECT_EQ(menu.revision(), revision);
    EXPECT_EQ(ids(menu), before) << "rows keep their ids";
    // Headline relabelled; device line, pause hidden; message and resume shown.
    const auto idOf = [&](const char* row) { return itemIdOf(menu, QString::fromLatin1(row)); };
    std::map<int, QVariantMap> updated(change.updated.begin(), change.updated.end());
    EXPECT_EQ(updated.size(), 5u);
    EXPECT_EQ(updated[idOf("headline")], (QVariantMap{{u"label"_s, u"Kivo is paused: this computer is unreachable"_s}}));
    EXPECT_EQ(updated[idOf("devices")], (QVariantMap{{u"label"_s, u""_s}, {u"visible"_s, false}}));
    EXPECT_EQ(updated[idOf("message")], (QVariantMap{{u"label"_s, u"error: not signed in"_s}, {u"visible"_s, true}}));
    EXPECT_EQ(updated[idOf("pause")], (QVariantMap{{u"visible"_s, false}}));
    EXPECT_EQ(updated[idOf("resume")], (QVariantMap{{u"visible"_s, true}})) << "back at its default, and said so";
    EXPECT_TRUE(change.removed.empty());
}

// Hosts that cache item properties apply only what a new layout names: a property left out when it is back
// at its default would keep its old value there. So a row names the same properties in every state.
TEST(ExportedMenu, NamesTheSamePropertiesOfARowInEveryState)
{
    TrayState notSetUp{.state = Reach::notSetUp(), .busy = u"Approve…"_s};
    TrayState paused{.state = Reach::stopped(), .message = u"error"_s, .updateAvailable = u"2.0.0"_s,
                     .barUpdate = BarUpdate{u"1.1"_s, QUrl(u"https://b.test"_s)}, .atLogin = true};
    const TrayState states[] = {waiting(0), waiting(2), notSetUp, paused};
    std::map<QString, QStringList> names;
    for (const TrayState& state : states) {
        for (const MenuRow& row : menuFor(state)) {
            const QStringList keys = ExportedMenu::properties(row).keys();
            const auto [known, first] = names.try_emplace(row.id, keys);
            EXPECT_EQ(known->second, keys) << row.id.toStdString();
        }
    }
}

TEST(ExportedMenu, SendsOneLayoutChangeWhenAThousandRowsComeAndGo)
{
    ExportedMenu menu;
    menu.update(menuFor(waiting(0)));
    const uint revision = menu.revision();
    const int headline = menu.items().front().id;

    const ExportedMenu::Change many = menu.update(menuFor(waiting(1000)));
    EXPECT_EQ(many.kind, Kind::Layout);
    EXPECT_EQ(menu.revision(), revision + 1);
    EXPECT_EQ(menu.items().size(), menuFor(waiting(1000)).size());
    EXPECT_EQ(menu.update(menuFor(waiting(1000))).kind, Kind::None);

    EXPECT_EQ(menu.update(menuFor(waiting(0))).kind, Kind::Layout);
    EXPECT_EQ(menu.revision(), revision + 2);
    EXPECT_EQ(menu.items().front().id, headline) << "the fixed rows keep their ids through it all";
}

TEST(ExportedMenu, FindsItemsByIdAndKeepsTheNewestActionOfARowThatLooksTheSame)
{
    ExportedMenu menu;
    const NeedsYou first{.agent = u"coder"_s, .where = u"repo"_s, .run = u"r-1"_s};
    NeedsYou second = first;
    second.run = u"r-2"_s;
    MenuRow row = buttonRow(u"session"_s, u"coder \u00b7 repo"_s, intent::OpenSession{first});
    menu.update({row});
    const int id = menu.items().front().id;
    row.intent = intent::OpenSession{second};
    EXPECT_EQ(menu.update({row}).kind, Kind::None);
    ASSERT_NE(menu.find(id), nullptr);
    EXPECT_EQ(menu.find(id)->row.intent, Intent(intent::OpenSession{second}));
    EXPECT_EQ(menu.find(ExportedMenu::kRootId), nullptr);
    EXPECT_EQ(menu.find(id + 1), nullptr);
}

// The exporter tells the panel of a row only when it does not look like the last one, so what "looks
// like" compares must be exactly what the panel is sent.
TEST(ExportedMenu, ARowLooksLikeAnotherExactlyWhenThePanelIsSentTheSame)
{
    const MenuRow base = buttonRow(u"row"_s, u"Pause Kivo"_s, intent::Pause{});
    std::vector<std::pair<const char*, MenuRow>> variants;
    const auto vary = [&](const char* what, auto change) {
        MenuRow row = base;
        change(row);
        variants.emplace_back(what, row);
    };
    vary("the same", [](MenuRow&) {});
    vary("label", [](MenuRow& r) { r.label = u"Resume Kivo"_s; });
    vary("shown", [](MenuRow& r) { r.shown = false; });
    vary("enabled", [](MenuRow& r) { r.enabled = false; });
    vary("kind", [](MenuRow& r) { r.kind = MenuRow::Kind::Text; });
    vary("checked", [](MenuRow& r) { r.kind = MenuRow::Kind::Toggle; r.checked = true; });
    vary("shortcut", [](MenuRow& r) { r.shortcut = u"Ctrl+Q"_s; });
    vary("what it asks for", [](MenuRow& r) { r.intent = intent::Resume{}; });
    for (const auto& [what, row] : variants) {
        EXPECT_EQ(base.looksLike(row), ExportedMenu::properties(base) == ExportedMenu::properties(row)) << what;
    }
}
