#pragma once

#include "view/menu_content.h"
#include "view/menu_row.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

/// Rows as the menu's own are made, for tests of what shows them.
inline MenuRow textRow(const QString& id, const QString& label)
{
    return {.id = id, .kind = MenuRow::Kind::Text, .label = label};
}

inline MenuRow dividerRow(const QString& id)
{
    return {.id = id, .kind = MenuRow::Kind::Divider};
}

inline MenuRow buttonRow(const QString& id, const QString& label, Intent intent = intent::ShowLog{})
{
    return {.id = id, .kind = MenuRow::Kind::Button, .label = label, .intent = std::move(intent)};
}

inline MenuRow toggleRow(const QString& id, const QString& label, bool checked)
{
    return {.id = id, .kind = MenuRow::Kind::Toggle, .label = label, .checked = checked,
            .intent = intent::ToggleAtLogin{}};
}

/// The row with `id`; fails the test when there is none.
template <typename Rows>
auto rowWithId(Rows& rows, const QString& id) -> decltype(*rows.begin())
{
    const auto found = std::find_if(rows.begin(), rows.end(), [&id](const MenuRow& r) { return r.id == id; });
    EXPECT_NE(found, rows.end()) << "no row " << id.toStdString();
    if (found == rows.end()) {
        static MenuRow none;
        return none;
    }
    return *found;
}

/// The tray's state with `sessions` sessions waiting ("coder · repo-N"), online unless `state` says otherwise.
inline TrayState waitingState(int sessions, Reach state = Reach::online({QStringLiteral("eu-1")}, 1))
{
    TrayState tray{.state = std::move(state), .hasRecord = true, .agentVersion = QStringLiteral("1.4.2")};
    for (int i = 0; i < sessions; ++i) {
        tray.needsYou.push_back({.agent = QStringLiteral("coder"), .where = QStringLiteral("repo-%1").arg(i),
                                 .run = QStringLiteral("r-%1").arg(i)});
    }
    return tray;
}
