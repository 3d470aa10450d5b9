#pragma once

#include "desktop.h"
#include "login_item.h"
#include "notifier.h"

#include <QString>

#include <memory>

/// The login item of this user session for the app `appId`, which starts `executable` (an absolute path).
std::unique_ptr<LoginItem> makeLoginItem(const QString& appId, const QString& executable);

/// The desktop of this session, as the process environment describes it.
std::unique_ptr<Desktop> makeDesktop();

/// The desktop's notifications on this session's bus, in the app's name.
std::unique_ptr<Notifier> makeNotifier();
