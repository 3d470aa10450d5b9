#pragma once

#include "view/menu_row.h"
#include "view/tray_state.h"

#include <QCoreApplication>

#include <vector>

/// What the id of a waiting session's row starts with; the session's id follows (sessionIds).
inline const QString kSessionRowPrefix = QStringLiteral("needs:");

/// The tray menu as rows computed from the tray's state: a pure function, tested without a desktop.
class MenuContent {
    Q_DECLARE_TR_FUNCTIONS(MenuContent)

public:
    /// Every row in menu order, with `shown` false where its condition does not hold; main thread (the
    /// labels are looked up in the user's language).
    static std::vector<MenuRow> rows(const TrayState& tray);
};
