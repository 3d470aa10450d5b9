#pragma once

#include "panel/dbus_types.h"

#include <QString>

/// Our images for an icon-theme name, drawn at build time at each size a panel commonly asks for, as
/// the tray protocol carries them; empty for a name we have no images for.
DBusImageList iconPixmaps(const QString& iconName);
