#include "view/current_desktop.h"

#include <QLatin1StringView>
#include <QList>

#include <utility>

CurrentDesktop currentDesktop(QStringView xdgCurrentDesktop)
{
    // Derived sessions put their own name first ("ubuntu:GNOME", "X-Cinnamon"), so each name is looked at.
    static constexpr std::pair<QLatin1StringView, CurrentDesktop> kKnown[] = {
        {QLatin1StringView("GNOME"), CurrentDesktop::Gnome},
        {QLatin1StringView("KDE"), CurrentDesktop::Kde},
        {QLatin1StringView("XFCE"), CurrentDesktop::Xfce},
        {QLatin1StringView("LXQt"), CurrentDesktop::Lxqt},
    };
    for (const QStringView name : xdgCurrentDesktop.split(u':')) {
        for (const auto& [known, desktop] : kKnown) {
            if (name.trimmed().compare(known, Qt::CaseInsensitive) == 0)
                return desktop;
        }
    }
    return CurrentDesktop::Other;
}
