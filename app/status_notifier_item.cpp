#include "status_notifier_item.h"

using namespace Qt::StringLiterals;

StatusNotifierItem::StatusNotifierItem(QString iconThemePath, QDBusObjectPath menuPath, Pixmaps pixmaps,
                                       QObject* parent)
    : QObject(parent)
    , m_iconThemePath(std::move(iconThemePath))
    , m_menuPath(std::move(menuPath))
    , m_pixmaps(std::move(pixmaps))
{
}

void StatusNotifierItem::show(const TrayLook& look)
{
    const TrayLook before = std::exchange(m_look, look);
    if (look.iconName != before.iconName)
        Q_EMIT NewIcon();
    if (look.needsAttention != before.needsAttention)
        Q_EMIT NewStatus(status());
    if (look.toolTipTitle != before.toolTipTitle || look.toolTipText != before.toolTipText)
        Q_EMIT NewToolTip();
}

QString StatusNotifierItem::category() const
{
    return u"ApplicationStatus"_s;
}

QString StatusNotifierItem::id() const
{
    return u"io.kivo.KivoBar"_s;
}

QString StatusNotifierItem::title() const
{
    return u"Kivo Bar"_s;
}

QString StatusNotifierItem::status() const
{
    return m_look.needsAttention ? u"NeedsAttention"_s : u"Active"_s;
}

QString StatusNotifierItem::attentionIconName() const
{
    return themeIconName(kNeedsYouSymbol);
}

DBusToolTip StatusNotifierItem::toolTip() const
{
    return {m_look.iconName, {}, m_look.toolTipTitle, m_look.toolTipText};
}

void StatusNotifierItem::Activate(int, int) {}
void StatusNotifierItem::SecondaryActivate(int, int) {}
void StatusNotifierItem::ContextMenu(int, int) {}
void StatusNotifierItem::Scroll(int, const QString&) {}
