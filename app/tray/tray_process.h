#pragma once

#include "control/tray_bus_service.h"
#include "fetch/process_http_client.h"
#include "state/action_ledger.h"
#include "state/tray_activity.h"
#include "tray/tray_controller.h"

#include <QSettings>
#include <QString>

#include <memory>

class Desktop;
class LoginItem;
class Notifier;
class TrayView;

/// Everything one tray process runs, whatever shows the tray: the desktop's services, the settings, the
/// release checks' client, the controller for this process's agent home, the service on the session bus that
/// launchers and scripts reach it by, and the file that tells `kivobar --status` what only the tray knows.
/// Where they are made.
class TrayProcess {
public:
    /// Call after the application object exists; `view` must outlive it. `agentHome` as
    /// agentHomeFromEnvironment gives it.
    TrayProcess(TrayView& view, const QString& agentHome);
    ~TrayProcess();

    TrayController& controller() { return *m_controller; }

    /// Names the application (organisation, name, version) for settings and the desktop, and speaks the
    /// user's language; call once the application object exists.
    static void prepareApplication();

    /// A program installed beside the tray programs, such as "kivobar-fetch".
    static QString helperPath(const QString& name);

    /// Where our icons are as an icon theme: the build tree's when run from there, else the installed one;
    /// empty when neither is found.
    static QString iconThemePath();

private:
    void publish(const TrayActivity& activity);

    std::unique_ptr<Desktop> m_desktop;
    std::unique_ptr<LoginItem> m_loginItem;
    std::unique_ptr<Notifier> m_notifier;
    QSettings m_settings;
    ProcessHttpClient m_http;
    ActionLedger m_ledger;
    ActivityFile m_activityFile;
    std::optional<TrayActivity> m_published;
    std::unique_ptr<TrayController> m_controller;
    std::unique_ptr<TrayBusService> m_busService;
};
