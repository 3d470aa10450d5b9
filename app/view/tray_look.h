#pragma once

#include "view/tray_state.h"

#include <QString>
#include <QStringView>

/// The symbol for a waiting agent session; outranks every reachability state.
inline constexpr QStringView kNeedsYouSymbol = u"exclamationmark.bubble.fill";
/// The symbol for a computer reachable from the user's devices.
inline constexpr QStringView kOnlineSymbol = u"mountain.2.fill";
/// The symbol for every other state: connecting, paused, not set up.
inline constexpr QStringView kOfflineSymbol = u"mountain.2";

/// The symbol name the tray shows for the state.
QString icon(const TrayState& tray);

/// The icon-theme name our own image for `symbol` is installed under; empty for an unknown symbol.
QString themeIconName(QStringView symbol);

/// How the tray item looks in the panel, besides its menu.
struct TrayLook {
    QString iconName;        ///< an icon-theme name of ours
    bool needsAttention = false;  ///< a session waits for the user
    QString toolTipTitle;    ///< simple markup: texts from the agent are escaped
    QString toolTipText;     ///< simple markup, lines apart; empty when there is nothing to add
    QString accessibleDescription;  ///< plain text read out for the icon: the headline, and how many wait

    friend bool operator==(const TrayLook&, const TrayLook&) = default;
};

/// The icon, attention and tooltip for the state.
TrayLook trayLook(const TrayState& tray);
