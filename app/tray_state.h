#pragma once

#include "reach.h"
#include "service.h"
#include "status.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

/// Everything the tray's icon, tooltip and menu are computed from, read at one moment: when two of
/// these are equal, the user sees no difference, so nothing needs recomputing or telling the panel.
struct TrayState {
    Reach state = Reach::stopped();
    std::optional<QString> agentVersion;  ///< the status record's version; absent with no record
    std::vector<NeedsYou> needsYou;       ///< an absent list reads as empty
    std::optional<QString> busy;
    std::optional<QString> message;
    std::optional<QString> updateAvailable;
    std::optional<BarUpdate> barUpdate;
    bool toolExecutable = false;  ///< looked at only while not set up
    bool atLogin = false;
    bool notify = true;

    friend bool operator==(const TrayState&, const TrayState&) = default;
};

/// The tray's settings besides the model: the two toggles the menu shows.
struct TraySettings {
    bool atLogin = false;
    bool notify = true;
};

/// Reads the model; `isExecutable` tests the agent tool, and is called only when the menu needs it.
TrayState readTrayState(const Service& service, TraySettings settings,
                        const std::function<bool(const QString&)>& isExecutable);
