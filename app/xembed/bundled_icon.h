#pragma once

#include <QString>

class QColor;
class QIcon;

/// The tray image for an icon-theme name of ours: the theme's own, by name, when the theme has it;
/// otherwise our image drawn at build time, in `colour`. A null icon for a name we have no image for.
QIcon trayIcon(const QString& iconName, const QColor& colour);
