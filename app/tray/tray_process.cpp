#include "tray/tray_process.h"

#include "platform/platform.h"
#include "service/agent_home.h"
#include "state/user_folder.h"
#include "view/app_identity.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// The first of the paths, relative to this program's folder, that exists; empty when none does.
QString besideThisProgram(std::initializer_list<QString> candidates)
{
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& candidate : candidates) {
        const QString path = QDir::cleanPath(here.absoluteFilePath(candidate));
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

// The program users start, for the login item: beside this one in the build tree, in the binary
// folder once installed.
QString launcherPath()
{
    const QString found = besideThisProgram({u"kivobar"_s, QStringLiteral(KIVOBAR_LAUNCHER_FROM_HELPERS)});
    return found.isEmpty() ? QCoreApplication::applicationFilePath() : found;
}

// What the login item starts the tray with: the agent home, unless it is the one the tray finds by itself,
// so that the tray that starts at login is the one for the home it was picked for.
LoginVariables loginVariables(const QString& home)
{
    if (agentHomeIdentity(home) == agentHomeIdentity(agentHome(std::nullopt, QDir::homePath())))
        return {};
    return {{u"KIVO_HOME"_s, home}};
}

}  // namespace

TrayProcess::TrayProcess(TrayView& view, const QString& agentHome)
    : m_desktop(makeDesktop())
    , m_loginItem(makeLoginItem(kAppId, launcherPath(), loginVariables(agentHome)))
    , m_notifier(makeNotifier(kAppId, kAppName))
    // Fetching in a helper process keeps Qt's network stack and OpenSSL, several megabytes once a
    // single https request was made, out of the tray for good.
    , m_http(helperPath(u"kivobar-fetch"_s))
    , m_ledger(userFolder(true), agentHome)
    , m_activityFile(userFolder(true), agentHome)
    , m_controller(std::make_unique<TrayController>(
          ServiceSetup{.home = agentHome,
                       .desktop = m_desktop.get(),
                       .http = &m_http,
                       .releaseBase = QUrl(QStringLiteral(KIVOBAR_DOWNLOAD_BASE)),
                       .appVersion = QStringLiteral(KIVOBAR_VERSION)},
          TrayController::Platform{*m_loginItem, *m_notifier, m_settings, m_ledger,
                                   [this](const TrayState& state) { publish(trayActivity(state)); }},
          view))
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    m_busService = std::make_unique<TrayBusService>(bus, trayBusAddress(agentHome), m_controller->gate());
    // After the controller has started, which it does once the event loop runs: no call finds it unready.
    QTimer::singleShot(0, m_busService.get(), [this] {
        if (const std::optional<QString> problem = m_busService->start()) {
            std::fprintf(stderr, "kivobar: launchers and scripts cannot reach this tray on the session bus: %s\n",
                         qPrintable(*problem));
            m_controller->unreachable(*problem);
        }
    });
}

TrayProcess::~TrayProcess()
{
    // Nobody is left to tell what it says.
    publish({});
}

void TrayProcess::publish(const TrayActivity& activity)
{
    // Written when it reads differently, and once at the start, which also clears what a crashed tray left.
    if (m_published == activity)
        return;
    m_published = activity;
    m_activityFile.publish(activity);
}

void TrayProcess::prepareApplication()
{
    QCoreApplication::setApplicationName(u"KivoBar"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(KIVOBAR_VERSION));
    QCoreApplication::setOrganizationName(u"Kivo"_s);
    QCoreApplication::setOrganizationDomain(u"kivo.io"_s);
    // In the user's language where we have it (LANGUAGE, then the locale); English otherwise.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(), u"kivobar"_s, u"_"_s, u":/i18n"_s))
        QCoreApplication::installTranslator(translator);
}

QString TrayProcess::helperPath(const QString& name)
{
    return QCoreApplication::applicationDirPath() + u'/' + name;
}

QString TrayProcess::iconThemePath()
{
    const QString icon = u"/hicolor/scalable/status/kivobar-online-symbolic.svg"_s;
    const QString found =
        besideThisProgram({u"../share/icons"_s + icon, QStringLiteral(KIVOBAR_ICONS_FROM_HELPERS) + icon});
    return found.isEmpty() ? QString() : found.chopped(icon.size());
}
