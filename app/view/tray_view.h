#pragma once

#include "view/menu_row.h"
#include "view/tray_look.h"

#include <functional>
#include <utility>
#include <vector>

/// What shows the tray to the user: an icon in the panel and its menu.
class TrayView {
public:
    using PickHandler = std::function<void(const Intent&)>;

    virtual ~TrayView() = default;

    /// Shows the look and the rows, telling the panel only what differs from what it shows; main thread.
    virtual void show(const TrayLook& look, const std::vector<MenuRow>& rows) = 0;

    /// What runs, on the main thread, when the user picks a row.
    void setPickHandler(PickHandler handler) { m_onPick = std::move(handler); }

protected:
    void picked(const Intent& action) const
    {
        if (m_onPick)
            m_onPick(action);
    }

private:
    PickHandler m_onPick;
};
