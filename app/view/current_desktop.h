#pragma once

#include <QStringView>

/// The desktops whose panels want something of their own from the tray, or whose way to get a tray the
/// user is told.
enum class CurrentDesktop { Gnome, Kde, Xfce, Lxqt, Other };

/// The desktop that XDG_CURRENT_DESKTOP (a ":"-separated list, the most specific first) names; the first
/// one we know wins. Pure.
CurrentDesktop currentDesktop(QStringView xdgCurrentDesktop);
