#include "xembed/widget_tray.h"

#include "xembed/bundled_icon.h"

using namespace Qt::StringLiterals;

WidgetTray::WidgetTray() : m_renderer(m_menu, [this](const Intent& action) { picked(action); })
{
    m_icon.setContextMenu(&m_menu);
}

void WidgetTray::show(const TrayLook& look, const std::vector<MenuRow>& rows)
{
    m_renderer.render(rows);
    if (!m_shown || look.iconName != m_look.iconName)
        m_icon.setIcon(trayIcon(look.iconName));
    if (!m_shown || look.toolTipTitle != m_look.toolTipTitle || look.toolTipText != m_look.toolTipText) {
        // The look's texts are already escaped for markup; as rich text, they read as written.
        QString text = look.toolTipTitle;
        if (!look.toolTipText.isEmpty())
            text += u"<br>"_s + QString(look.toolTipText).replace(u'\n', u"<br>"_s);
        m_icon.setToolTip(u"<qt>"_s + text + u"</qt>"_s);
    }
    m_look = look;
    if (!m_shown) {
        m_shown = true;
        m_icon.show();
    }
}
