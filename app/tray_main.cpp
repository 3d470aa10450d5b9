#include "agent_home.h"
#include "kivobar.h"
#include "network_http_client.h"
#include "platform.h"

#include <QApplication>

using namespace Qt::StringLiterals;

/// The tray app's whole run, called by `kivobar` after it loaded this module; returns the exit status.
extern "C" __attribute__((visibility("default"))) int kivobarTrayMain(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"KivoBar"_s);
    QApplication::setApplicationDisplayName(u"Kivo Bar"_s);
    QApplication::setApplicationVersion(QStringLiteral(KIVOBAR_VERSION));
    QApplication::setOrganizationDomain(u"kivo.io"_s);
    QGuiApplication::setDesktopFileName(u"io.kivo.KivoBar"_s);
    // The menu is the only widget, and closing it must not end the app.
    QApplication::setQuitOnLastWindowClosed(false);

    const std::unique_ptr<Desktop> desktop = makeDesktop();
    const std::unique_ptr<LoginItem> loginItem =
        makeLoginItem(u"io.kivo.KivoBar"_s, QCoreApplication::applicationFilePath());
    NetworkHttpClient http;
    KivoBar bar(ServiceSetup{.home = agentHomeFromEnvironment(),
                             .desktop = desktop.get(),
                             .http = &http,
                             .releaseBase = QUrl(QStringLiteral(KIVOBAR_DOWNLOAD_BASE)),
                             .appVersion = QStringLiteral(KIVOBAR_VERSION)},
                *loginItem, QStringLiteral(KIVOBAR_DOWNLOAD_BASE));
    return QApplication::exec();
}
