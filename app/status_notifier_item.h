#pragma once

#include "dbus_types.h"
#include "tray_look.h"

#include <QDBusObjectPath>
#include <QObject>

#include <functional>

/// The tray's icon on the session bus, as the StatusNotifierItem protocol that panels read: its icon,
/// attention status and tooltip, and where its menu is. Tells the panel only what changed.
class StatusNotifierItem : public QObject {
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
    Q_PROPERTY(QString OverlayIconName READ overlayIconName)
    Q_PROPERTY(DBusImageList OverlayIconPixmap READ overlayIconPixmap)
    Q_PROPERTY(QString AttentionIconName READ attentionIconName)
    Q_PROPERTY(DBusImageList AttentionIconPixmap READ attentionIconPixmap)
    Q_PROPERTY(QString AttentionMovieName READ attentionMovieName)
    Q_PROPERTY(DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    /// Images for an icon-theme name, drawn at several sizes; empty for a name without images.
    using Pixmaps = std::function<DBusImageList(const QString& iconName)>;

    /// `iconThemePath` holds an icon theme with our icons (empty when they are installed), `menuPath` is
    /// where the menu is on the same connection.
    StatusNotifierItem(QString iconThemePath, QDBusObjectPath menuPath, Pixmaps pixmaps, QObject* parent = nullptr);

    /// Shows `look`, signalling the panel for each part that changed; main thread.
    void show(const TrayLook& look);

    QString category() const;
    QString id() const;
    QString title() const;
    QString status() const;
    int windowId() const { return 0; }
    QString iconThemePath() const { return m_iconThemePath; }
    QString iconName() const { return m_look.iconName; }
    DBusImageList iconPixmap() const { return m_pixmaps(m_look.iconName); }
    QString overlayIconName() const { return {}; }
    DBusImageList overlayIconPixmap() const { return {}; }
    QString attentionIconName() const;
    DBusImageList attentionIconPixmap() const { return m_pixmaps(attentionIconName()); }
    QString attentionMovieName() const { return {}; }
    DBusToolTip toolTip() const;
    // Hosts then open the menu on a left click, instead of asking the app to activate a window it lacks.
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const { return m_menuPath; }

public Q_SLOTS:
    // The menu is all there is: clicks on the icon itself change nothing.
    Q_SCRIPTABLE void Activate(int x, int y);
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

private:
    QString m_iconThemePath;
    QDBusObjectPath m_menuPath;
    Pixmaps m_pixmaps;
    TrayLook m_look;
};
