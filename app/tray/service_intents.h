#pragma once

#include "service/step_process.h"
#include "view/intent.h"

#include <functional>

class Service;

/// What runs on the main thread once an intent has been carried out: how it ended, with the line that
/// says why when it failed.
using IntentDone = std::function<void(const StepOutcome& outcome)>;

/// Carries out an intent that is the model's to carry out (an action of the agent tool, a terminal window,
/// the log, a download page); `done`, when given, runs once it has ended: for the tool's actions when the
/// run ends, for the others at once. False, with `done` not run, for an intent that is not the model's:
/// the toggles, showing the state and quitting belong to the tray.
bool performOnService(Service& model, const Intent& intent, const IntentDone& done);
