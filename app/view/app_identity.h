#pragma once

#include <QLatin1StringView>

/// The app's id: its desktop entry's name without ".desktop", its icon's name, and how panels and
/// notification servers tell it from other apps.
inline constexpr QLatin1StringView kAppId{"io.kivo.KivoBar"};

/// The app's name as the user reads it.
inline constexpr QLatin1StringView kAppName{"Kivo Bar"};
