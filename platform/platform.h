#pragma once

#include "login_item.h"

#include <QString>

#include <memory>

/// The login item of this user session for the app `appId`, which starts `executable` (an absolute path).
std::unique_ptr<LoginItem> makeLoginItem(const QString& appId, const QString& executable);
