#include "state/read_tray_state.h"

#include "service/service.h"

TrayState readTrayState(const Service& service, TraySettings settings)
{
    TrayState tray{.state = service.state(),
                   .busy = service.busy(),
                   .message = service.message(),
                   .updateAvailable = service.updateAvailable(),
                   .barUpdate = service.barUpdate(),
                   .toolInstalled = service.toolInstalled(),
                   .atLogin = settings.atLogin,
                   .notify = settings.notify};
    if (const std::optional<Status>& status = service.status()) {
        tray.hasRecord = true;
        tray.agentVersion = status->version;
        if (status->needsYou)
            tray.needsYou = *status->needsYou;
    }
    return tray;
}
