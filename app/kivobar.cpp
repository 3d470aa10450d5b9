#include "kivobar.h"

#include "desktop.h"
#include "login_toggle.h"
#include "memory.h"
#include "tray_look.h"
#include "tray_view.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString kNotifyKey = u"notify"_s;

bool isExecutableFile(const QString& path)
{
    const QFileInfo file(path);
    return file.isFile() && file.isExecutable();
}

template <typename... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

}  // namespace

KivoBar::KivoBar(ServiceSetup setup, Platform platform, TrayView& view, QString installBase, QObject* parent)
    : QObject(parent)
    , m_setup(std::move(setup))
    , m_platform(platform)
    , m_view(view)
    , m_alerts(platform.notifier, [this](const MenuAction& action) { perform(action); })
    , m_installBase(std::move(installBase))
    , m_notify(platform.settings.value(kNotifyKey, true).toBool())
{
    m_alerts.setEnabled(m_notify);
    m_view.setPickHandler([this](const MenuAction& action) { perform(action); });
    QTimer::singleShot(0, this, &KivoBar::start);
}

KivoBar::~KivoBar() = default;

Service& KivoBar::service()
{
    if (!m_service)
        m_service = std::make_unique<Service>(m_setup);
    return *m_service;
}

void KivoBar::start()
{
    Service& model = service();
    m_content.emplace(model.toolPath(), m_installBase);
    m_atLogin = std::make_unique<LoginToggle>(m_platform.loginItem, model);
    connect(&model, &Service::changed, this, &KivoBar::scheduleUpdate);
    connect(&model, &Service::runFailed, this,
            [this](const Step& step, const QString& line) { m_alerts.onRunFailed(step, line); });
    connect(&model, &Service::terminalMissing, this, [this] { m_alerts.onTerminalMissing(); });
    connect(m_atLogin.get(), &LoginToggle::changed, this, &KivoBar::scheduleUpdate);
    update();
}

void KivoBar::scheduleUpdate()
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

void KivoBar::update()
{
    // Asked for when fewer waiting sessions are held, and done one refresh later: by then the panel has
    // read the shorter menu and the model has let go of the longer record.
    if (std::exchange(m_returnMemory, false))
        returnFreedMemory();
    TrayState state = currentState();
    // Most refreshes find what the last one found (only the record's time moved): nothing to recompute.
    if (m_shown == state)
        return;
    m_view.show(trayLook(state), m_content->rows(state));
    m_alerts.onWaiting(state.needsYou, state.agentVersion.has_value());
    const size_t held = std::max(state.needsYou.size(), m_alerts.remembered());
    m_returnMemory = held < m_sessionsHeld;
    m_sessionsHeld = held;
    m_shown = std::move(state);
}

TrayState KivoBar::currentState() const
{
    return readTrayState(*m_service, {.atLogin = m_atLogin->value(), .notify = m_notify}, isExecutableFile);
}

void KivoBar::trayMissing()
{
    m_alerts.onTrayMissing();
}

void KivoBar::perform(const MenuAction& action)
{
    Service& model = service();
    std::visit(Overloaded{
        [](std::monostate) {},
        [&model](const menu_action::SetUp&) { model.setUp(); },
        [&model](const menu_action::RunSteps& run) { model.runSteps(run.steps); },
        [&model](const menu_action::OpenTerminal& open) { model.openTerminal(open.commandLine); },
        [&model](const menu_action::OpenSession& open) { model.open(open.entry); },
        [&model](const menu_action::ShowLog&) { model.showLog(); },
        [this](const menu_action::OpenUrl& open) { m_platform.desktop.openUrl(open.url); },
        [this](const menu_action::ToggleAtLogin&) { m_atLogin->set(!m_atLogin->value()); },
        [this](const menu_action::ToggleNotify&) {
            m_notify = !m_notify;
            m_alerts.setEnabled(m_notify);
            m_platform.settings.setValue(kNotifyKey, m_notify);
            scheduleUpdate();
        },
        [](const menu_action::Quit&) { QCoreApplication::quit(); },
        [this](const menu_action::ShowStatus&) {
            if (!m_content)
                return;
            const TrayState state = currentState();
            m_alerts.showStatus(state, m_content->rows(state));
        },
    }, action);
}
