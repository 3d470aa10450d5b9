#pragma once

#include "menu_row.h"
#include "status.h"

#include <QUrl>

#include <functional>
#include <vector>

class LoginToggle;
class Service;

/// The tray menu as rows computed from the model, the open-at-login flag and one look at the disk.
class MenuContent {
public:
    /// What the rows need from the desktop besides the model.
    struct Platform {
        std::function<void(const QUrl&)> openUrl;           ///< the desktop's default handler; result ignored
        std::function<void()> quit;                         ///< orderly application quit
        std::function<bool(const QString&)> isExecutable;   ///< exists and the user may execute it
        QString installBase;                                ///< root of the download host, no trailing slash
    };

    MenuContent(Service& service, LoginToggle& atLogin, Platform platform);

    /// Every row in menu order, with `shown` false where its condition does not hold; main thread only.
    std::vector<MenuRow> rows() const;

    /// The first row: how reachable this computer is, in words.
    QString headline() const;

    /// A waiting session's row label; `detail` cut after 60 user-perceived characters.
    static QString sessionLabel(const NeedsYou& entry);

private:
    Service& m_service;
    LoginToggle& m_atLogin;
    Platform m_platform;
};
