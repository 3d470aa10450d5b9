#pragma once

#include "service.h"
#include "status.h"

#include <QString>
#include <QUrl>

#include <variant>
#include <vector>

/// What picking a row does, as a plain value: the tray carries it out on the main thread.
namespace menu_action {
struct SetUp { friend bool operator==(const SetUp&, const SetUp&) = default; };
struct RunSteps {
    std::vector<Step> steps;
    friend bool operator==(const RunSteps&, const RunSteps&) = default;
};
struct OpenTerminal {
    QString commandLine;
    friend bool operator==(const OpenTerminal&, const OpenTerminal&) = default;
};
struct OpenSession {
    NeedsYou entry;
    friend bool operator==(const OpenSession&, const OpenSession&) = default;
};
struct ShowLog { friend bool operator==(const ShowLog&, const ShowLog&) = default; };
struct OpenUrl {
    QUrl url;
    friend bool operator==(const OpenUrl&, const OpenUrl&) = default;
};
struct ToggleAtLogin { friend bool operator==(const ToggleAtLogin&, const ToggleAtLogin&) = default; };
struct ToggleNotify { friend bool operator==(const ToggleNotify&, const ToggleNotify&) = default; };
struct Quit { friend bool operator==(const Quit&, const Quit&) = default; };
/// Shows the state as a notification: what a click on the icon does where the panel opens no menu.
struct ShowStatus { friend bool operator==(const ShowStatus&, const ShowStatus&) = default; };
}  // namespace menu_action

using MenuAction = std::variant<std::monostate, menu_action::SetUp, menu_action::RunSteps, menu_action::OpenTerminal,
                                menu_action::OpenSession, menu_action::ShowLog, menu_action::OpenUrl,
                                menu_action::ToggleAtLogin, menu_action::ToggleNotify, menu_action::Quit,
                                menu_action::ShowStatus>;

/// One row of the tray menu, as computed from the model; the renderers only show it.
struct MenuRow {
    enum class Kind { Text, Divider, Button, Toggle };

    QString id;        ///< stable across recomputations, so a renderer can update the row in place
    Kind kind = Kind::Text;
    QString label;     ///< shown as written: no mnemonics
    bool shown = true;
    bool enabled = true;
    std::optional<bool> checked;  ///< toggles only
    QString shortcut;             ///< portable key sequence text such as "Ctrl+Q"; empty for none
    MenuAction action;            ///< buttons and toggles

    /// True when the two rows look the same; what they do is not compared.
    bool looksLike(const MenuRow& other) const
    {
        return id == other.id && kind == other.kind && label == other.label && shown == other.shown
            && enabled == other.enabled && checked == other.checked && shortcut == other.shortcut;
    }

    friend bool operator==(const MenuRow&, const MenuRow&) = default;
};
