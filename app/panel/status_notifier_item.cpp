#include "panel/status_notifier_item.h"

#include "view/app_identity.h"

#include <QDBusError>

using namespace Qt::StringLiterals;

namespace {

// What the panel reads for each of the item's change signals, as the getters give it. The images follow
// from the icon's name, so their theme name stands for them. The attention icon counts only while the item
// asks for attention: panels draw it then alone, and telling them of it at any other time would have them
// read the images again for nothing each time the headline changes.
struct Face {
    QString iconName;
    QString iconImages;
    QString iconDescription;
    QString attentionIconName;
    QString attentionDescription;
    QString status;
    DBusToolTip toolTip;
};

Face faceOf(const StatusNotifierItem& item, const TrayLook& look)
{
    if (!look.needsAttention)
        return {item.iconName(), look.iconName, item.iconAccessibleDesc(), {}, {}, item.status(), item.toolTip()};
    return {item.iconName(),        look.iconName, item.iconAccessibleDesc(), item.attentionIconName(),
            item.attentionAccessibleDesc(), item.status(), item.toolTip()};
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(QString iconThemePath, QDBusObjectPath menuPath, Pixmaps pixmaps,
                                       IconSource source, QObject* parent)
    : QObject(parent)
    , m_iconThemePath(std::move(iconThemePath))
    , m_menuPath(std::move(menuPath))
    , m_pixmaps(std::move(pixmaps))
    , m_iconSource(source)
{
}

void StatusNotifierItem::show(const TrayLook& look)
{
    const Face before = faceOf(*this, m_look);
    m_look = look;
    const Face after = faceOf(*this, m_look);
    if (after.iconName != before.iconName || after.iconImages != before.iconImages
        || after.iconDescription != before.iconDescription)
        Q_EMIT NewIcon();
    if (m_look.needsAttention
        && (after.attentionIconName != before.attentionIconName || after.attentionDescription != before.attentionDescription))
        Q_EMIT NewAttentionIcon();
    if (after.status != before.status)
        Q_EMIT NewStatus(after.status);
    if (after.toolTip != before.toolTip)
        Q_EMIT NewToolTip();
}

QString StatusNotifierItem::category() const
{
    return u"ApplicationStatus"_s;
}

QString StatusNotifierItem::id() const
{
    return kAppId;
}

QString StatusNotifierItem::title() const
{
    return kAppName;
}

QString StatusNotifierItem::status() const
{
    return m_look.needsAttention ? u"NeedsAttention"_s : u"Active"_s;
}

QString StatusNotifierItem::iconName() const
{
    return m_iconSource == IconSource::Named ? m_look.iconName : QString();
}

QString StatusNotifierItem::attentionIconName() const
{
    return m_iconSource == IconSource::Named ? themeIconName(kNeedsYouSymbol) : QString();
}

DBusToolTip StatusNotifierItem::toolTip() const
{
    return {iconName(), {}, m_look.toolTipTitle, m_look.toolTipText};
}

void StatusNotifierItem::Activate(int, int)
{
    if (calledFromDBus())
        sendErrorReply(QDBusError::NotSupported, u"Kivo Bar has no window: its menu is all there is"_s);
    Q_EMIT activated();
}

void StatusNotifierItem::SecondaryActivate(int, int) {}
void StatusNotifierItem::ContextMenu(int, int) {}
void StatusNotifierItem::Scroll(int, const QString&) {}
