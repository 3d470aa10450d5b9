#include "tray/login_toggle.h"

#include "platform/login_item.h"
#include "service/service.h"

LoginToggle::LoginToggle(LoginItem& item, Service& service, QObject* parent)
    : QObject(parent), m_item(item), m_service(service), m_value(item.enabled())
{
}

void LoginToggle::set(bool on)
{
    // A refusal sets the flag back to what the item reports, which is itself a change and is tried
    // once more. A second refusal ends it: a login item whose status flips on every read must not
    // keep the menu busy forever.
    for (int pass = 0; pass < 2 && on != m_value; ++pass) {
        m_value = on;
        Q_EMIT changed();
        const Outcome outcome = m_item.setEnabled(on);
        if (outcome.ok)
            return;
        m_service.setMessage(outcome.message);
        on = m_item.enabled();
    }
    if (on != m_value) {
        m_value = on;
        Q_EMIT changed();
    }
}
