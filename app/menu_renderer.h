#pragma once

#include "menu_row.h"

#include <QHash>
#include <QString>

#include <vector>

class QAction;
class QMenu;

/// Shows menu rows as the actions of one QMenu, changing only what differs from the last rows shown:
/// every change of an action makes the panel read the whole menu again over D-Bus.
class MenuRenderer {
public:
    /// Who draws the menu, which decides how a label is written so that it shows as it reads.
    enum class Labels {
        Widget,    ///< Qt draws the menu: "&" marks a mnemonic
        DBusMenu,  ///< the panel draws it from the D-Bus menu Qt exports: "_" marks a mnemonic there
    };

    /// Takes over the actions of `menu`, which must outlive the renderer and hold no other actions.
    explicit MenuRenderer(QMenu& menu, Labels labels = Labels::Widget);
    /// Deletes the actions it made.
    ~MenuRenderer();

    MenuRenderer(const MenuRenderer&) = delete;
    MenuRenderer& operator=(const MenuRenderer&) = delete;

    /// Makes the menu show `rows` in their order; rows are matched to actions by id. Main thread only.
    void render(const std::vector<MenuRow>& rows);

private:
    struct Entry {
        QAction* action = nullptr;
        MenuRow row;  // as last rendered; its action runs when the QAction is picked
    };

    QAction* create(const MenuRow& row);
    void apply(QAction& action, const MenuRow& row) const;
    void trigger(const QString& id);

    QMenu& m_menu;
    Labels m_labels;
    QHash<QString, Entry> m_entries;
};
