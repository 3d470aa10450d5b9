#pragma once

#include "alerts.h"
#include "menu_content.h"
#include "service.h"
#include "tray_state.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class Desktop;
class LoginItem;
class LoginToggle;
class Notifier;
class QSettings;
class TrayView;

/// The tray app: the one model, and the icon and menu that follow it in a view. Reads the model after
/// each change and tells the view only when something the user sees is different.
class KivoBar : public QObject {
    Q_OBJECT

public:
    /// What the app uses of the desktop; everything must outlive the app.
    struct Platform {
        LoginItem& loginItem;
        Desktop& desktop;
        Notifier& notifier;
        QSettings& settings;  ///< keeps the user's choices across restarts
    };

    /// Starts once the event loop runs. What `setup` points to must outlive the app; `installBase` is the
    /// root of the download host, without a trailing slash.
    KivoBar(ServiceSetup setup, Platform platform, TrayView& view, QString installBase, QObject* parent = nullptr);
    ~KivoBar() override;

    /// The one model, made the first time it is asked for and kept for the life of the app.
    Service& service();

    /// What the view shows now; empty before the first showing.
    const std::optional<TrayState>& shown() const { return m_shown; }

    /// Carries out what a picked row does; main thread.
    void perform(const MenuAction& action);

    /// No panel has shown the tray for a while: tells the user, if they want to be told.
    void trayMissing();

private:
    void start();
    void scheduleUpdate();
    void update();
    TrayState currentState() const;

    ServiceSetup m_setup;
    Platform m_platform;
    TrayView& m_view;
    Alerts m_alerts;
    QString m_installBase;
    std::optional<MenuContent> m_content;  // made with the model: it names the model's agent tool

    std::unique_ptr<Service> m_service;
    std::unique_ptr<LoginToggle> m_atLogin;
    bool m_notify;
    std::optional<TrayState> m_shown;
    bool m_updatePending = false;
    size_t m_sessionsHeld = 0;    // the most waiting sessions the menu or the alerts hold
    bool m_returnMemory = false;  // fewer are held now: give the freed memory back at the next refresh
};
