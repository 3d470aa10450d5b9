// kivobar-xembed: the tray for X11 desktops whose tray speaks only the older XEmbed protocol. The
// resident tray process becomes this program when no panel of the newer kind turned up and such a
// tray is there; `kivobar-xembed --probe` answers whether one is (exit status 0) or not (1).

#include "tray_app.h"
#include "widget_tray.h"

#include <QApplication>

#include <cstring>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--probe") == 0)
        return QSystemTrayIcon::isSystemTrayAvailable() ? 0 : 1;
    TrayApp::describeApplication();
    // The menu is the only widget, and closing it must not end the app.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("io.kivo.KivoBar"));
    WidgetTray tray;
    TrayApp app(tray);
    return QApplication::exec();
}
