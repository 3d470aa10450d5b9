#pragma once

#include "view/tray_view.h"
#include "xembed/menu_renderer.h"

#include <QMenu>
#include <QSystemTrayIcon>

/// The tray as Qt's widgets show it, for X11 desktops whose tray speaks only the older XEmbed protocol.
class WidgetTray : public TrayView {
public:
    WidgetTray();

    void show(const TrayLook& look, const std::vector<MenuRow>& rows) override;

private:
    QMenu m_menu;
    MenuRenderer m_renderer;
    QSystemTrayIcon m_icon;
    TrayLook m_look;
    bool m_shown = false;
};
