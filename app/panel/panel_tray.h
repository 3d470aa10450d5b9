#pragma once

#include "panel/status_notifier_item.h"
#include "view/current_desktop.h"
#include "view/tray_view.h"

#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include <chrono>

class DBusMenu;
class TrayHostWatch;

/// The tray as panels show it over D-Bus: a StatusNotifierItem with its dbusmenu, registered with the
/// panels' watcher whenever one runs. Needs the session bus only, never a display.
class PanelTray : public QObject, public TrayView {
    Q_OBJECT

public:
    /// How long a host that asked to activate the item has to start opening the menu; after that, the
    /// click shows the state as a notification instead, as on panels that never open a menu on a left click.
    static constexpr std::chrono::milliseconds kMenuGrace{1000};

    /// `iconThemePath` holds an icon theme with our icons, for a run from the build tree; empty otherwise.
    PanelTray(QDBusConnection bus, QString iconThemePath, StatusNotifierItem::IconSource iconSource,
              QObject* parent = nullptr);
    ~PanelTray() override;

    /// Puts the item and its menu on the bus and starts looking for a panel; the reason when the bus refuses.
    std::optional<QString> start();

    void show(const TrayLook& look, const std::vector<MenuRow>& rows) override;

    /// True while a panel shows the item, as far as the tray has heard.
    bool hostPresent() const;

    static constexpr QLatin1StringView kItemPath{"/StatusNotifierItem"};
    static constexpr QLatin1StringView kMenuPath{"/MenuBar"};

Q_SIGNALS:
    void hostPresenceChanged(bool present);
    /// The session bus went away, as it does when the desktop session ends.
    void busLost();

private Q_SLOTS:
    // The receiver of the bus's own Disconnected signal, which needs a slot by name.
    void onDisconnected();

private:
    QDBusConnection m_bus;
    DBusMenu* m_menu = nullptr;
    StatusNotifierItem* m_item = nullptr;
    TrayHostWatch* m_hostWatch = nullptr;
    QTimer m_menuAwaited;  // runs from an activation until a host starts opening the menu
};

/// How the panels of `desktop` want the icon.
StatusNotifierItem::IconSource iconSourceFor(CurrentDesktop desktop);
