#pragma once

#include "service/service.h"
#include "state/action_gate.h"
#include "tray/alerts.h"
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
/// gate through which everything the user asks for is carried out, whoever asks. Reads the model after each
/// change and tells the view only when something the user sees is different.
class TrayController : public QObject, private TrayDuties {
    Q_OBJECT

public:
    /// What the tray uses of the desktop besides the model's own services; everything must outlive it.
    struct Platform {
        LoginItem& loginItem;
        Notifier& notifier;
        QSettings& settings;  ///< keeps the user's choices across restarts
        ActionLedger& ledger;  ///< what the processes acting for this agent home agree on
        /// Told each state the user sees from now on, once per change; may be empty.
        std::function<void(const TrayState&)> shown = {};
    };

    /// Starts once the event loop runs. What `setup` points to must outlive the controller.
    TrayController(ServiceSetup setup, Platform platform, TrayView& view, QObject* parent = nullptr);
    ~TrayController() override;

    /// The one model, made the first time it is asked for and kept for the life of the tray.
    Service& service();

    /// The one way in for what the user asks for, whoever asks: the menu, the notifications, launchers and
    /// scripts on the bus. Made with the model.
    ActionGate& gate();

    /// No panel has shown the tray for a while on `desktop`: tells the user, if they want to be told.
    void trayMissing(CurrentDesktop desktop);

    /// A panel shows the tray (again): takes back what trayMissing told.
    void trayShown();

    /// Launchers and scripts cannot reach this tray on the bus, for the reason given: tells the user once.
    void unreachable(const QString& why);

private:
    void toggleAtLogin() override;
    void toggleNotify() override;
    void showStatus() override;
    void quit() override;

    void start();
    void scheduleUpdate();
    void update();
    TrayState currentState() const;

    ServiceSetup m_setup;
    Platform m_platform;
    TrayView& m_view;
    Alerts m_alerts;

    std::unique_ptr<Service> m_service;
    std::unique_ptr<ActionGate> m_gate;
    std::unique_ptr<LoginToggle> m_atLogin;
    bool m_notify;
    std::optional<TrayState> m_shown;
    bool m_updatePending = false;
    size_t m_sessionsHeld = 0;    // the most waiting sessions the menu or the alerts hold
    bool m_returnMemory = false;  // fewer are held now: give the freed memory back at the next refresh
};
