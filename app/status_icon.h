#pragma once

#include <QString>
#include <QStringView>

class QColor;
class QIcon;
class Service;

/// The symbol for a waiting agent session; outranks every reachability state.
inline constexpr QStringView kNeedsYouSymbol = u"exclamationmark.bubble.fill";
/// The symbol for a computer reachable from the user's devices.
inline constexpr QStringView kOnlineSymbol = u"mountain.2.fill";
/// The symbol for every other state: connecting, paused, not set up.
inline constexpr QStringView kOfflineSymbol = u"mountain.2";

/// The symbol name the tray shows for the model as it is now; main thread only.
QString icon(const Service& service);

/// The icon-theme name our own image for `symbol` is installed under; empty for an unknown symbol.
QString themeIconName(const QString& symbol);

/// The tray image for `symbol`: the icon theme's, by name, when the theme has it; otherwise our bundled
/// image drawn in `colour`. A null icon for an unknown symbol.
QIcon trayIcon(const QString& symbol, const QColor& colour);
