#pragma once

#include <QLatin1StringView>
#include <QString>

/// Where the tray of one agent home answers scripts and launchers on the session bus: a well-known name of
/// its own per home (so that only one tray can hold it) and the object path the name implies, as the
/// org.freedesktop.Application interface has it.
struct TrayBusAddress {
    QString service;  ///< io.kivo.KivoBar.h<key of the home>
    QString path;     ///< /io/kivo/KivoBar/h<key of the home>

    friend bool operator==(const TrayBusAddress&, const TrayBusAddress&) = default;
};

/// The address of the tray for `agentHome`, the same for every spelling of the home (agentHomeKey).
TrayBusAddress trayBusAddress(const QString& agentHome);

/// The freedesktop interface that launchers use: Activate, Open, ActivateAction.
inline constexpr QLatin1StringView kApplicationInterface{"org.freedesktop.Application"};

/// Our own interface on the same object, for callers that wait for an action's end: Check and Perform.
inline constexpr QLatin1StringView kControlInterface{"io.kivo.KivoBar.Control"};

/// The errors the tray answers with: an action that does not apply now, and a name that is no action.
inline constexpr QLatin1StringView kNotApplicableError{"io.kivo.KivoBar.Error.NotApplicable"};
inline constexpr QLatin1StringView kUnknownActionError{"io.kivo.KivoBar.Error.UnknownAction"};
/// What ActivateAction answers when the action failed before it could answer: a window that could not be opened.
inline constexpr QLatin1StringView kFailedError{"io.kivo.KivoBar.Error.Failed"};
