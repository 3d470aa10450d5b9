#include "control/tray_bus_address.h"

#include "service/agent_home.h"

using namespace Qt::StringLiterals;

TrayBusAddress trayBusAddress(const QString& agentHome)
{
    // An element of a bus name may not start with a digit, and the key may: the "h" (for home) goes first.
    const QString element = u'h' + agentHomeKey(agentHome);
    return {.service = u"io.kivo.KivoBar."_s + element, .path = u"/io/kivo/KivoBar/"_s + element};
}
