#pragma once

#include "view/menu_row.h"

#include <QHash>
#include <QStringList>
#include <QVariantMap>

#include <vector>

/// The tray menu as the panel last saw it through the dbusmenu protocol (numeric item ids, properties
/// by the protocol's names, a layout revision), and what the panel must be told when the rows change.
/// Plain data: the D-Bus side only sends what this computes.
class ExportedMenu {
public:
    /// One item under the menu's root; its properties are computed from the row when asked for, so that a
    /// long menu holds only its rows.
    struct Item {
        int id = 0;
        MenuRow row;
    };

    /// What changed with the last update, as the panel must hear it: nothing, one property update for
    /// the items listed, or one new layout (rows came, went or moved) that the panel reads whole.
    struct Change {
        enum class Kind { None, Properties, Layout };
        Kind kind = Kind::None;
        std::vector<std::pair<int, QVariantMap>> updated;  ///< Properties: the new values by item id
        std::vector<std::pair<int, QStringList>> removed;  ///< Properties: names back at their default

        friend bool operator==(const Change&, const Change&) = default;
    };

    static constexpr int kRootId = 0;

    /// Takes `rows` as the menu from now on; rows keep their item ids across updates by their row ids.
    Change update(const std::vector<MenuRow>& rows);

    /// Goes up by one with every layout change; starts at 1.
    uint revision() const { return m_revision; }
    /// The items in menu order.
    const std::vector<Item>& items() const { return m_items; }
    /// The item with the numeric id, or null.
    const Item* find(int id) const;

    /// The properties the protocol gives the row: every one the row can change, defaults included.
    static QVariantMap properties(const MenuRow& row);
    /// The root's properties.
    static QVariantMap rootProperties();

private:
    std::vector<Item> m_items;
    QHash<QString, int> m_idsByRow;
    QHash<int, size_t> m_positions;
    int m_nextId = 1;
    uint m_revision = 1;
};
