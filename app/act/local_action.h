#pragma once

#include "service/service.h"
#include "view/action_request.h"

#include <QString>

/// The exit statuses of an action on the command line.
namespace action_exit {
inline constexpr int kDone = 0;
inline constexpr int kFailed = 1;
inline constexpr int kWrongUsage = 2;
inline constexpr int kNotApplicable = 3;
}  // namespace action_exit

/// Writes a line from the agent tool to standard error, with nothing in it that would act on a terminal.
void printToolLine(const QString& line);

/// Carries out `request` with a model of this process's own, for when no tray runs for the agent home, and
/// only when the menu the tray would show now offers it: `update` first asks whether a newer agent exists.
/// Prints each progress line on standard output as it comes, and the failure's last line on standard error.
/// Returns the exit status; runs the event loop until the action has ended.
int actAlone(const ActionRequest& request, ServiceSetup setup);
