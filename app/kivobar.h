#pragma once

#include "menu_renderer.h"
#include "service.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class LoginItem;
class LoginToggle;
class MenuContent;
class QDBusServiceWatcher;
class QMenu;
class QSystemTrayIcon;

/// The tray app: the one model, its menu and its icon in the panel. It shows no window; the icon
/// appears once the panel can show it, and the menu follows every change of the model.
class KivoBar : public QObject {
    Q_OBJECT

public:
    /// Starts once the event loop runs; `loginItem` and what `setup` points to must outlive the app.
    /// `installBase` is the root of the download host, without a trailing slash.
    KivoBar(ServiceSetup setup, LoginItem& loginItem, QString installBase, QObject* parent = nullptr);
    ~KivoBar() override;

    /// The one model, made the first time it is asked for and kept for the life of the app.
    Service& service();

private Q_SLOTS:
    // Also the receiver of the panel watcher's D-Bus signal, which needs a slot by name.
    void askForTrayHost();

private:
    void start();
    void scheduleUpdate();
    void update();
    void waitForTrayHost();
    // Asks the panels' watcher whether a panel is registered; nothing when the watcher did not answer.
    void askWatcher(std::function<void(std::optional<bool>)> answer);
    void registerAgain(int attemptsLeft);
    // `labels`: whether the panel draws the menu (the D-Bus tray) or Qt does (XEmbed).
    void showTrayIcon(MenuRenderer::Labels labels);

    ServiceSetup m_setup;
    LoginItem& m_loginItem;
    QString m_installBase;

    // In the order they are made; destroyed the other way round, the tray icon before the menu.
    std::unique_ptr<Service> m_service;
    std::unique_ptr<LoginToggle> m_atLogin;
    std::unique_ptr<MenuContent> m_content;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<MenuRenderer> m_renderer;
    QDBusServiceWatcher* m_panelWatch = nullptr;
    std::unique_ptr<QSystemTrayIcon> m_tray;

    bool m_viaPanel = false;  // the icon went to a panel over D-Bus, not to an XEmbed tray
    QString m_symbol;   // shown by the tray icon; empty before it exists
    QString m_toolTip;
    bool m_updatePending = false;
};
