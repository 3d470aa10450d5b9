#pragma once

#include "menu_row.h"
#include "tray_state.h"

#include <QCoreApplication>
#include <QString>

#include <vector>

/// The tray menu as rows computed from the tray's state: a pure function, tested without a desktop.
class MenuContent {
    Q_DECLARE_TR_FUNCTIONS(MenuContent)

public:
    /// `toolPath` is the agent tool in the agent home; `installBase` the root of the download host,
    /// with no trailing slash.
    MenuContent(QString toolPath, QString installBase);

    /// Every row in menu order, with `shown` false where its condition does not hold.
    std::vector<MenuRow> rows(const TrayState& tray) const;

private:
    QString m_toolPath;
    QString m_installBase;
};
