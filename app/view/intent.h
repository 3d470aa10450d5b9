#pragma once

#include "service/status.h"

#include <variant>

/// What the user asks for, as a plain value, whichever way they asked: a menu row, a notification's
/// button, the command line. The tray carries it out on the main thread; the model owns how.
namespace intent {
struct SetUp { friend bool operator==(const SetUp&, const SetUp&) = default; };
struct Install { friend bool operator==(const Install&, const Install&) = default; };
struct Resume { friend bool operator==(const Resume&, const Resume&) = default; };
struct Pause { friend bool operator==(const Pause&, const Pause&) = default; };
struct Update { friend bool operator==(const Update&, const Update&) = default; };
/// Opens the download page of the newer Kivo Bar the model knows of.
struct GetBar { friend bool operator==(const GetBar&, const GetBar&) = default; };
struct OpenDashboard { friend bool operator==(const OpenDashboard&, const OpenDashboard&) = default; };
struct OpenSession {
    NeedsYou entry;
    friend bool operator==(const OpenSession&, const OpenSession&) = default;
};
struct ShowLog { friend bool operator==(const ShowLog&, const ShowLog&) = default; };
struct ToggleAtLogin { friend bool operator==(const ToggleAtLogin&, const ToggleAtLogin&) = default; };
struct ToggleNotify { friend bool operator==(const ToggleNotify&, const ToggleNotify&) = default; };
/// Shows the state as a notification: what a click on the icon does where the panel opens no menu.
struct ShowStatus { friend bool operator==(const ShowStatus&, const ShowStatus&) = default; };
struct Quit { friend bool operator==(const Quit&, const Quit&) = default; };
}  // namespace intent

using Intent = std::variant<std::monostate, intent::SetUp, intent::Install, intent::Resume, intent::Pause,
                            intent::Update, intent::GetBar, intent::OpenDashboard, intent::OpenSession,
                            intent::ShowLog, intent::ToggleAtLogin, intent::ToggleNotify, intent::ShowStatus,
                            intent::Quit>;
