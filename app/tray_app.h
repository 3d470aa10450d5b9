#pragma once

#include "kivobar.h"
#include "process_http_client.h"

#include <QSettings>
#include <QString>

#include <memory>

class Desktop;
class LoginItem;
class Notifier;
class TrayView;

/// The tray app as both tray programs run it, whatever shows it: the desktop's services, the login
/// item, the release checks' client, and the app itself for this process's agent home.
class TrayApp {
public:
    /// Call after the application object exists; `view` must outlive the app. `agentHome` as
    /// agentHomeFromEnvironment gives it.
    TrayApp(TrayView& view, const QString& agentHome);
    ~TrayApp();

    KivoBar& bar() { return *m_bar; }

    /// Names the application (organisation, name, version) for settings and the desktop, and speaks the
    /// user's language; call once the application object exists.
    static void prepareApplication();

    /// A program installed beside the tray programs, such as "kivobar-fetch".
    static QString helperPath(const QString& name);

    /// Where our icons are as an icon theme: the build tree's when run from there, else the installed one;
    /// empty when neither is found.
    static QString iconThemePath();

private:
    std::unique_ptr<Desktop> m_desktop;
    std::unique_ptr<LoginItem> m_loginItem;
    std::unique_ptr<Notifier> m_notifier;
    QSettings m_settings;
    ProcessHttpClient m_http;
    std::unique_ptr<KivoBar> m_bar;
};
