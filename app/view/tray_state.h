#pragma once

#include "service/reach.h"
#include "service/release_manifest.h"
#include "service/status.h"

#include <QString>

#include <optional>
#include <vector>

/// Everything the tray's icon, tooltip and menu are computed from, read at one moment: when two of
/// these are equal, the user sees no difference, so nothing needs recomputing or telling the panel.
struct TrayState {
    Reach state = Reach::stopped();
    bool hasRecord = false;               ///< a status record was read
    std::optional<QString> agentVersion;  ///< the status record's version; absent with no record
    std::vector<NeedsYou> needsYou;       ///< an absent list reads as empty
    std::optional<QString> busy;
    std::optional<QString> message;
    std::optional<QString> updateAvailable;
    std::optional<BarUpdate> barUpdate;
    bool toolInstalled = false;  ///< the agent tool is there to run
    bool atLogin = false;
    bool notify = true;

    friend bool operator==(const TrayState&, const TrayState&) = default;
};
