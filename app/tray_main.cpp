#include "agent_home.h"
#include "kivobar.h"
#include "platform.h"
#include "process_http_client.h"

#include <QApplication>
#include <QFileInfo>

#include <dlfcn.h>

using namespace Qt::StringLiterals;

extern "C" __attribute__((visibility("default"))) int kivobarTrayMain(int argc, char** argv);

namespace {

// The fetch helper is installed beside this module, in the build tree and once installed alike.
QString fetchHelperPath()
{
    Dl_info module{};
    if (::dladdr(reinterpret_cast<void*>(&kivobarTrayMain), &module) == 0 || !module.dli_fname)
        return {};
    return QFileInfo(QString::fromLocal8Bit(module.dli_fname)).absolutePath() + u"/kivobar-fetch"_s;
}

}  // namespace

/// The tray app's whole run, called by `kivobar` after it loaded this module; returns the exit status.
int kivobarTrayMain(int argc, char** argv)
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
    // Fetching in a helper process keeps Qt's network stack and OpenSSL, several megabytes once a
    // single https request was made, out of the tray for good.
    ProcessHttpClient http(fetchHelperPath());
    KivoBar bar(ServiceSetup{.home = agentHomeFromEnvironment(),
                             .desktop = desktop.get(),
                             .http = &http,
                             .releaseBase = QUrl(QStringLiteral(KIVOBAR_DOWNLOAD_BASE)),
                             .appVersion = QStringLiteral(KIVOBAR_VERSION)},
                *loginItem, QStringLiteral(KIVOBAR_DOWNLOAD_BASE));
    return QApplication::exec();
}
