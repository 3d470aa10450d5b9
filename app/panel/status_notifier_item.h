#pragma once

#include "panel/dbus_types.h"
#include "view/tray_look.h"

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QObject>

#include <functional>

/// The tray's icon on the session bus, as the StatusNotifierItem protocol that panels read: its icon,
/// attention status, tooltip and descriptions for screen readers, and where its menu is. Tells the panel
/// only what changed.
class StatusNotifierItem : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(DBusImageList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString IconAccessibleDesc READ iconAccessibleDesc)
    Q_PROPERTY(QString OverlayIconName READ overlayIconName)
    Q_PROPERTY(DBusImageList OverlayIconPixmap READ overlayIconPixmap)
    Q_PROPERTY(QString AttentionIconName READ attentionIconName)
    Q_PROPERTY(DBusImageList AttentionIconPixmap READ attentionIconPixmap)
    Q_PROPERTY(QString AttentionAccessibleDesc READ attentionAccessibleDesc)
    Q_PROPERTY(QString AttentionMovieName READ attentionMovieName)
    Q_PROPERTY(DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    /// Images for an icon-theme name, drawn at several sizes; empty for a name without images.
    using Pixmaps = std::function<DBusImageList(const QString& iconName)>;

    /// How the panel is given the icon.
    enum class IconSource {
        Named,   ///< by icon-theme name, with images as well: the panel recolours our symbolic icons
        Images,  ///< by images only, which carry their own contrast: for panels that draw symbolic icons as they are
    };

    /// `iconThemePath` holds an icon theme with our icons (empty when they are installed), `menuPath` is
    /// where the menu is on the same connection.
    StatusNotifierItem(QString iconThemePath, QDBusObjectPath menuPath, Pixmaps pixmaps, IconSource source,
                       QObject* parent = nullptr);

    /// Shows `look`, signalling the panel once for each of its properties that now reads differently.
    void show(const TrayLook& look);

    QString category() const;
    QString id() const;
    QString title() const;
    QString status() const;
    int windowId() const { return 0; }
    QString iconThemePath() const { return m_iconThemePath; }
    QString iconName() const;
    DBusImageList iconPixmap() const { return m_pixmaps(m_look.iconName); }
    QString iconAccessibleDesc() const { return m_look.accessibleDescription; }
    QString overlayIconName() const { return {}; }
    DBusImageList overlayIconPixmap() const { return {}; }
    QString attentionIconName() const;
    DBusImageList attentionIconPixmap() const { return m_pixmaps(themeIconName(kNeedsYouSymbol)); }
    QString attentionAccessibleDesc() const { return m_look.accessibleDescription; }
    QString attentionMovieName() const { return {}; }
    DBusToolTip toolTip() const;
    // Hosts that read it open the menu on a left click, instead of asking the app to activate a window it lacks.
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const { return m_menuPath; }

public Q_SLOTS:
    /// A left click on a host that does not read ItemIsMenu. Answered with an error: the menu is all there
    /// is, and Plasma opens it only when activating fails.
    Q_SCRIPTABLE void Activate(int x, int y);
    // Middle clicks, right clicks the host handles itself and scrolling change nothing.
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);

Q_SIGNALS:
    Q_SCRIPTABLE void NewTitle();
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewAttentionIcon();
    Q_SCRIPTABLE void NewOverlayIcon();
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewStatus(const QString& status);

    /// A host asked to activate the item (a left click where the host does not read ItemIsMenu). Not on the bus.
    void activated();

private:
    QString m_iconThemePath;
    QDBusObjectPath m_menuPath;
    Pixmaps m_pixmaps;
    IconSource m_iconSource;
    TrayLook m_look;
};
