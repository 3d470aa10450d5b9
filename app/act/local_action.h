#pragma once

#include "service/service.h"
#include "state/action_gate.h"
#include "view/action_request.h"

/// The exit statuses of an action on the command line.
namespace action_exit {
inline constexpr int kDone = 0;
inline constexpr int kFailed = 1;
inline constexpr int kWrongUsage = 2;
inline constexpr int kNotApplicable = 3;
}  // namespace action_exit

/// Carries out `request` with a model of this process's own, for when no tray runs for the agent home, through the
/// same gate as the tray's: `update` first asks whether a newer agent exists. Prints each progress line on standard
/// output as it comes. Runs the event loop until the action has ended, and says how.
ActionOutcome actAlone(const ActionRequest& request, ServiceSetup setup);
