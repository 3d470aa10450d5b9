// kivobar-xembed: the tray for X11 desktops whose tray speaks only the older XEmbed protocol. The
// resident tray process becomes this program when no panel of the newer kind turned up and such a
// tray is there, and this one becomes the resident tray again as soon as a panel of the newer kind has a
// watcher on the bus; `kivobar-xembed --probe` answers whether an XEmbed tray is there (exit status 0) or
// not (1).

#include "service/agent_home.h"
#include "tray/tray_handover.h"
#include "tray/tray_process.h"
#include "view/app_identity.h"
#include "xembed/widget_tray.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <vector>

namespace {

// What the resident process handed on (the instance lock among it) stays ours, and does not pass on to
// the programs we start, or the lock would outlive us in them. Returns those descriptors, for handing back.
std::vector<int> keepInheritedDescriptorsToOurselves()
{
    std::vector<int> inherited;
    DIR* descriptors = ::opendir("/proc/self/fd");
    if (!descriptors)
        return inherited;
    while (const dirent* entry = ::readdir(descriptors)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != ::dirfd(descriptors) && ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0)
            inherited.push_back(fd);
    }
    ::closedir(descriptors);
    return inherited;
}

// Becomes the resident tray again, handing on what the resident tray handed us; returns if that failed.
void handBack(char** argv, const std::vector<int>& inherited)
{
    for (const int fd : inherited)
        ::fcntl(fd, F_SETFD, 0);
    const QString failure = TrayHandover::become(QStringLiteral("kivobar-tray"), argv);
    for (const int fd : inherited)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::fprintf(stderr, "kivobar: %s\n", qPrintable(failure));
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--probe") == 0)
        return QSystemTrayIcon::isSystemTrayAvailable() ? 0 : 1;
    const std::vector<int> inherited = keepInheritedDescriptorsToOurselves();
    // A panel of the newer kind shows the tray better: a menu of its own, attention, a name for screen readers.
    // One may have come since the resident tray looked.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (TrayHandover::watcherRunning(bus))
        handBack(argv, inherited);
    TrayProcess::prepareApplication();
    // The menu is the only widget, and closing it must not end the app.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(kAppId);
    WidgetTray tray;
    TrayProcess app(tray, QDir(agentHomeFromEnvironment()).absolutePath());

    // A panel that comes later gets the tray too, once no action of ours is under way: its steps belong to
    // this process. Tried once; a failure to start the resident tray leaves this one showing.
    Service& model = app.controller().service();
    bool handedBack = false;
    const auto handBackWhenIdle = [&] {
        if (!handedBack && !model.busy()) {
            handedBack = true;
            handBack(argv, inherited);
        }
    };
    WatcherArrival panel(bus);
    QObject::connect(&panel, &WatcherArrival::arrived, &application, [&] {
        handBackWhenIdle();
        QObject::connect(&model, &Service::changed, &application, handBackWhenIdle);
    });
    panel.start();
    return QApplication::exec();
}
