#pragma once

#include <QString>

class QIcon;

/// The tray image for an icon-theme name of ours, drawn at build time, carrying the name when the icon
/// theme has it. A null icon for a name we have no image for.
QIcon trayIcon(const QString& iconName);
