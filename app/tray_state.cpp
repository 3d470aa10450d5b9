#include "tray_state.h"

TrayState readTrayState(const Service& service, TraySettings settings,
                        const std::function<bool(const QString&)>& isExecutable)
{
    TrayState tray{.state = service.state(),
                   .busy = service.busy(),
                   .message = service.message(),
                   .updateAvailable = service.updateAvailable(),
                   .barUpdate = service.barUpdate(),
                   .atLogin = settings.atLogin,
                   .notify = settings.notify};
    if (const std::optional<Status>& status = service.status()) {
        tray.agentVersion = status->version;
        if (status->needsYou)
            tray.needsYou = *status->needsYou;
    }
    // Both rows that depend on the tool (set up, install) show only while the computer is not set up.
    if (tray.state.is(Reach::Kind::NotSetUp))
        tray.toolExecutable = isExecutable(service.toolPath());
    return tray;
}
