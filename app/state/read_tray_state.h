#pragma once

#include "view/tray_state.h"

class Service;

/// The tray's settings besides the model: the two toggles the menu shows.
struct TraySettings {
    bool atLogin = false;
    bool notify = true;
};

/// The model as the tray shows it now.
TrayState readTrayState(const Service& service, TraySettings settings);
