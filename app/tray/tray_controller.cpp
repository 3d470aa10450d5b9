#include "tray/tray_controller.h"

#include "platform/memory.h"
#include "state/read_tray_state.h"
#include "tray/login_toggle.h"
#include "view/menu_content.h"
#include "view/tray_look.h"
#include "view/tray_view.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString kNotifyKey = u"notify"_s;

}  // namespace

TrayController::TrayController(ServiceSetup setup, Platform platform, TrayView& view, QObject* parent)
    : QObject(parent)
    , m_setup(std::move(setup))
    , m_platform(platform)
    , m_view(view)
    , m_alerts(platform.notifier, [this](const Intent& intent) { gate().perform(intent); })
    , m_notify(platform.settings.value(kNotifyKey, true).toBool())
{
    m_alerts.setEnabled(m_notify);
    m_view.setPickHandler([this](const Intent& intent) { gate().perform(intent); });
    QTimer::singleShot(0, this, &TrayController::start);
}

TrayController::~TrayController() = default;

Service& TrayController::service()
{
    if (!m_service)
        m_service = std::make_unique<Service>(m_setup);
    return *m_service;
}

ActionGate& TrayController::gate()
{
    if (!m_gate) {
        m_gate = std::make_unique<ActionGate>(ActionGate::Setup{.model = service(),
                                                                .tray = [this] { return currentState(); },
                                                                .ledger = m_platform.ledger,
                                                                .duties = this});
        connect(m_gate.get(), &ActionGate::runFailed, this,
                [this](const Intent& intent, const QString& line) { m_alerts.onRunFailed(intent, line); });
    }
    return *m_gate;
}

void TrayController::start()
{
    Service& model = service();
    m_atLogin = std::make_unique<LoginToggle>(m_platform.loginItem, model);
    connect(&model, &Service::changed, this, &TrayController::scheduleUpdate);
    connect(&model, &Service::terminalMissing, this, [this] { m_alerts.onTerminalMissing(); });
    connect(m_atLogin.get(), &LoginToggle::changed, this, &TrayController::scheduleUpdate);
    update();
}

void TrayController::scheduleUpdate()
{
    // A refresh assigns two properties in a row, and each assignment notifies: read the model once, after both.
    if (m_updatePending)
        return;
    m_updatePending = true;
    QMetaObject::invokeMethod(this, [this] {
        m_updatePending = false;
        update();
    }, Qt::QueuedConnection);
}

void TrayController::update()
{
    // Asked for when fewer waiting sessions are held, and done one refresh later: by then the panel has
    // read the shorter menu and the model has let go of the longer record.
    if (std::exchange(m_returnMemory, false))
        returnFreedMemory();
    TrayState state = currentState();
    // Most refreshes find what the last one found (only the record's time moved): nothing to recompute.
    if (m_shown == state)
        return;
    m_view.show(trayLook(state), MenuContent::rows(state));
    m_alerts.onWaiting(state.needsYou, state.hasRecord);
    if (m_platform.shown)
        m_platform.shown(state);
    const size_t held = std::max(state.needsYou.size(), m_alerts.remembered());
    m_returnMemory = held < m_sessionsHeld;
    m_sessionsHeld = held;
    m_shown = std::move(state);
}

TrayState TrayController::currentState() const
{
    return readTrayState(*m_service, {.atLogin = m_atLogin->value(), .notify = m_notify});
}

void TrayController::trayMissing(CurrentDesktop desktop)
{
    m_alerts.onTrayMissing(desktop);
}

void TrayController::trayShown()
{
    m_alerts.onTrayShown();
}

void TrayController::unreachable(const QString& why)
{
    m_alerts.onUnreachable(why);
}

void TrayController::toggleAtLogin()
{
    m_atLogin->set(!m_atLogin->value());
}

void TrayController::toggleNotify()
{
    m_notify = !m_notify;
    m_alerts.setEnabled(m_notify);
    m_platform.settings.setValue(kNotifyKey, m_notify);
    scheduleUpdate();
}

void TrayController::showStatus()
{
    const TrayState state = currentState();
    m_alerts.showStatus(state, MenuContent::rows(state));
}

void TrayController::quit()
{
    QCoreApplication::quit();
}
