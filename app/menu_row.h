#pragma once

#include <QString>

#include <functional>
#include <optional>

/// One row of the tray menu, as computed from the model; the renderer only shows it.
struct MenuRow {
    enum class Kind { Text, Divider, Button, Toggle };

    QString id;        ///< stable across recomputations, so the renderer can update the row in place
    Kind kind = Kind::Text;
    QString label;
    bool shown = true;
    bool enabled = true;
    std::optional<bool> checked;  ///< toggles only
    QString shortcut;             ///< portable key sequence text such as "Ctrl+Q"; empty for none
    std::function<void()> action; ///< buttons and toggles; runs on the main thread when picked

    /// True when the two rows look the same (the action is not compared).
    bool looksLike(const MenuRow& other) const
    {
        return id == other.id && kind == other.kind && label == other.label && shown == other.shown
            && enabled == other.enabled && checked == other.checked && shortcut == other.shortcut;
    }
};
