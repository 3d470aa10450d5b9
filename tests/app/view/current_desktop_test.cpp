#include "view/current_desktop.h"

#include <QString>

#include <gtest/gtest.h>

TEST(CurrentDesktop, IsTheFirstKnownNameOfTheList)
{
    struct Case { const char* variable; CurrentDesktop desktop; };
    const Case cases[] = {
        {"GNOME", CurrentDesktop::Gnome},
        {"ubuntu:GNOME", CurrentDesktop::Gnome},
        {"GNOME-Classic:GNOME", CurrentDesktop::Gnome},
        {"KDE", CurrentDesktop::Kde},
        {"XFCE", CurrentDesktop::Xfce},
        {"LXQt", CurrentDesktop::Lxqt},
        {"X-Generic:lxqt", CurrentDesktop::Lxqt},
        {"KDE:GNOME", CurrentDesktop::Kde},
        {"sway", CurrentDesktop::Other},
        {"", CurrentDesktop::Other},
    };
    for (const Case& c : cases)
        EXPECT_EQ(currentDesktop(QString::fromLatin1(c.variable)), c.desktop) << c.variable;
}
