#include "panel/panel_tray.h"

#include "panel/dbus_menu.h"
#include "panel/icon_pixmaps.h"
#include "panel/tray_host_watch.h"

using namespace Qt::StringLiterals;

PanelTray::PanelTray(QDBusConnection bus, QString iconThemePath, StatusNotifierItem::IconSource iconSource,
                     QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_menu(new DBusMenu(iconThemePath.isEmpty() ? QStringList() : QStringList{iconThemePath},
                          [this](const Intent& intent) { picked(intent); }, {}, this))
    , m_item(new StatusNotifierItem(iconThemePath, QDBusObjectPath(kMenuPath), iconPixmaps, iconSource, this))
    , m_hostWatch(new TrayHostWatch(m_bus, m_bus.baseService(), this))
{
    registerDBusTypes();
    connect(m_hostWatch, &TrayHostWatch::hostPresenceChanged, this, &PanelTray::hostPresenceChanged);
    // Plasma opens the menu when activating fails; LXQt never opens it on a left click. A click that opens
    // no menu still shows the user something: the state, as a notification.
    m_menuAwaited.setSingleShot(true);
    m_menuAwaited.setInterval(kMenuGrace);
    connect(m_item, &StatusNotifierItem::activated, &m_menuAwaited, qOverload<>(&QTimer::start));
    connect(m_menu, &DBusMenu::opening, &m_menuAwaited, &QTimer::stop);
    connect(&m_menuAwaited, &QTimer::timeout, this, [this] { picked(intent::ShowStatus{}); });
}

PanelTray::~PanelTray()
{
    m_bus.unregisterObject(kItemPath);
    m_bus.unregisterObject(kMenuPath);
}

std::optional<QString> PanelTray::start()
{
    constexpr QDBusConnection::RegisterOptions kOptions = QDBusConnection::ExportScriptableSlots
        | QDBusConnection::ExportScriptableSignals | QDBusConnection::ExportAllProperties;
    if (!m_bus.registerObject(kMenuPath, m_menu, kOptions) || !m_bus.registerObject(kItemPath, m_item, kOptions))
        return m_bus.lastError().isValid() ? m_bus.lastError().message() : u"the object paths are taken"_s;
    m_bus.connect(QString(), u"/org/freedesktop/DBus/Local"_s, u"org.freedesktop.DBus.Local"_s, u"Disconnected"_s, this,
                  SLOT(onDisconnected()));
    m_hostWatch->start();
    return std::nullopt;
}

void PanelTray::onDisconnected()
{
    Q_EMIT busLost();
}

bool PanelTray::hostPresent() const
{
    return m_hostWatch->hostPresent();
}

void PanelTray::show(const TrayLook& look, const std::vector<MenuRow>& rows)
{
    m_menu->show(rows);
    m_item->show(look);
}

StatusNotifierItem::IconSource iconSourceFor(CurrentDesktop desktop)
{
    // LXQt draws a symbolic icon in the colour its file has, so it gets the images with their own edge.
    return desktop == CurrentDesktop::Lxqt ? StatusNotifierItem::IconSource::Images
                                           : StatusNotifierItem::IconSource::Named;
}
