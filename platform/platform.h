#pragma once

#include "platform/desktop.h"
#include "platform/login_item.h"
#include "platform/notifier.h"

#include <QString>

#include <memory>

/// The login item of this user session for the app `appId`, which starts `executable` (an absolute path) with
/// the variables `startWith` set, apart from the items with other variables.
std::unique_ptr<LoginItem> makeLoginItem(const QString& appId, const QString& executable,
                                         const LoginVariables& startWith);

/// The desktop of this session, as the process environment describes it.
std::unique_ptr<Desktop> makeDesktop();

/// The desktop's notifications on this session's bus, in the name of the app `appName`, whose desktop entry
/// and icon are both named `appId`.
std::unique_ptr<Notifier> makeNotifier(const QString& appId, const QString& appName);
