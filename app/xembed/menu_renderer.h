#pragma once

#include "view/menu_row.h"

#include <QHash>
#include <QString>

#include <functional>

#include <vector>

class QAction;
class QMenu;

/// Shows menu rows as the actions of one QMenu, changing only what differs from the last rows shown, so
/// that an open menu does not flicker.
class MenuRenderer {
public:
    using PickHandler = std::function<void(const Intent&)>;

    /// Takes over the actions of `menu`, which must outlive the renderer and hold no other actions;
    /// `onPick` runs with what a picked row does.
    MenuRenderer(QMenu& menu, PickHandler onPick);
    /// Deletes the actions it made.
    ~MenuRenderer();

    MenuRenderer(const MenuRenderer&) = delete;
    MenuRenderer& operator=(const MenuRenderer&) = delete;

    /// Makes the menu show `rows` in their order; rows are matched to actions by id. Main thread only.
    void render(const std::vector<MenuRow>& rows);

private:
    struct Entry {
        QAction* action = nullptr;
        MenuRow row;  // as last rendered; what it does is handed on when the QAction is picked
    };

    QAction* create(const MenuRow& row);
    void apply(QAction& action, const MenuRow& row) const;
    void trigger(const QString& id);

    QMenu& m_menu;
    PickHandler m_onPick;
    QHash<QString, Entry> m_entries;
};
