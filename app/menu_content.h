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

    /// The first row: how reachable this computer is, in words.
    static QString headline(const Reach& state);

    /// A waiting session's row label; `detail` cut after 60 user-perceived characters.
    static QString sessionLabel(const NeedsYou& entry);

    /// At most `count` user-perceived characters of `text`; a longer text is cut there and ends in "…".
    static QString shortened(const QString& text, qsizetype count);

    /// How many characters of a progress or failure line the menu shows; the tooltip shows it whole.
    static constexpr qsizetype kLineCharacters = 200;

private:
    QString m_toolPath;
    QString m_installBase;
};
