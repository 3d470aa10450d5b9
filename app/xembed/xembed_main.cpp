// kivobar-xembed: the tray for X11 desktops whose tray speaks only the older XEmbed protocol. The
// resident tray process becomes this program when no panel of the newer kind turned up and such a
// tray is there; `kivobar-xembed --probe` answers whether one is (exit status 0) or not (1).

#include "service/agent_home.h"
#include "tray/tray_process.h"
#include "view/app_identity.h"
#include "xembed/widget_tray.h"

#include <QApplication>
#include <QDir>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>

namespace {

// What the resident process handed on (the instance lock among it) stays ours, and does not pass on to
// the programs we start, or the lock would outlive us in them.
void keepInheritedDescriptorsToOurselves()
{
    DIR* descriptors = ::opendir("/proc/self/fd");
    if (!descriptors)
        return;
    while (const dirent* entry = ::readdir(descriptors)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != ::dirfd(descriptors))
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    ::closedir(descriptors);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--probe") == 0)
        return QSystemTrayIcon::isSystemTrayAvailable() ? 0 : 1;
    keepInheritedDescriptorsToOurselves();
    TrayProcess::prepareApplication();
    // The menu is the only widget, and closing it must not end the app.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(kAppId);
    WidgetTray tray;
    TrayProcess app(tray, QDir(agentHomeFromEnvironment()).absolutePath());
    return QApplication::exec();
}
