#pragma once

#include "view/intent.h"

#include <QString>

#include <optional>

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
    Intent intent;                ///< what picking it asks for: buttons and toggles

    /// True when a user can pick the row wherever it shows: an enabled button or toggle that asks for
    /// something. Text rows are information, never picked.
    bool pickable() const
    {
        return (kind == Kind::Button || kind == Kind::Toggle) && enabled && !std::holds_alternative<std::monostate>(intent);
    }

    /// True when the two rows look the same; what they ask for is not compared. Every other field is,
    /// without listing them, so a field added later is never left out.
    bool looksLike(const MenuRow& other) const
    {
        MenuRow same = other;
        same.intent = intent;
        return *this == same;
    }

    friend bool operator==(const MenuRow&, const MenuRow&) = default;
};
