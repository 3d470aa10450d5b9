#pragma once

#include "service/service.h"
#include "tray/alerts.h"
#include "tray/service_intents.h"
#include "view/intent.h"
#include "view/tray_state.h"

#include <QObject>

#include <memory>
#include <optional>

class LoginItem;
class LoginToggle;
class Notifier;
class QSettings;
class TrayView;

/// The tray's controller: the one model, the view that follows it, the notifications about it, and the
/// one place where what the user asks for is carried out. Reads the model after each change and tells
/// the view only when something the user sees is different.
class TrayController : public QObject {
    Q_OBJECT

public:
    /// What the tray uses of the desktop besides the model's own services; everything must outlive it.
    struct Platform {
        LoginItem& loginItem;
        Notifier& notifier;
        QSettings& settings;  ///< keeps the user's choices across restarts
        /// Told each state the user sees from now on, once per change; may be empty.
        std::function<void(const TrayState&)> shown = {};
    };

    /// Starts once the event loop runs. What `setup` points to must outlive the controller.
    TrayController(ServiceSetup setup, Platform platform, TrayView& view, QObject* parent = nullptr);
    ~TrayController() override;

    /// The one model, made the first time it is asked for and kept for the life of the tray.
    Service& service();

    /// Carries out what the user asked for, however they asked; main thread. `done`, when given, runs once it
    /// has ended: when an action of the agent tool finishes, at once for everything else.
    void perform(const Intent& intent, const IntentDone& done = {});

    /// The menu's rows as they would show now, for deciding what applies.
    std::vector<MenuRow> rows() const;

    /// No panel has shown the tray for a while on `desktop`: tells the user, if they want to be told.
    void trayMissing(CurrentDesktop desktop);

    /// A panel shows the tray (again): takes back what trayMissing told.
    void trayShown();

private:
    void start();
    void scheduleUpdate();
    void update();
    TrayState currentState() const;

    ServiceSetup m_setup;
    Platform m_platform;
    TrayView& m_view;
    Alerts m_alerts;

    std::unique_ptr<Service> m_service;
    std::unique_ptr<LoginToggle> m_atLogin;
    bool m_notify;
    std::optional<TrayState> m_shown;
    bool m_updatePending = false;
    size_t m_sessionsHeld = 0;    // the most waiting sessions the menu or the alerts hold
    bool m_returnMemory = false;  // fewer are held now: give the freed memory back at the next refresh
};
