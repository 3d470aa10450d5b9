#pragma once

#include "desktop.h"
#include "login_item.h"

#include <QString>

#include <memory>

/// The login item of this user session for the app `appId`, which starts `executable` (an absolute path).
std::unique_ptr<LoginItem> makeLoginItem(const QString& appId, const QString& executable);

/// The desktop of this session, as the process environment describes it.
std::unique_ptr<Desktop> makeDesktop();
