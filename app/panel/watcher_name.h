#pragma once

#include <QLatin1StringView>

/// The name panels' StatusNotifier watcher owns on the session bus: whoever looks for the panel protocol looks
/// for it, the widget tray too, which links nothing else of this room.
inline constexpr QLatin1StringView kWatcherService{"org.kde.StatusNotifierWatcher"};
