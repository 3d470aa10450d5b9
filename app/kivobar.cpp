#include "kivobar.h"

#include "login_toggle.h"
#include "menu_content.h"
#include "menu_renderer.h"
#include "status_icon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMenu>
#include <QPalette>
#include <QSystemTrayIcon>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

// The freedesktop tray protocol: panels register as hosts with this watcher, apps register their items.
const QString kWatcherService = u"org.kde.StatusNotifierWatcher"_s;
const QString kWatcherPath = u"/StatusNotifierWatcher"_s;
const QString kWatcherInterface = u"org.kde.StatusNotifierWatcher"_s;

// A desktop whose tray only speaks the older XEmbed protocol has a session bus but never a watcher.
// After this long without one the icon goes there instead.
constexpr int kXEmbedGraceMs = 30'000;

// How often, and how far apart, a new watcher is asked before the icon is registered with it again.
constexpr int kRegisterAttempts = 20;
constexpr int kRegisterRetryMs = 500;

}  // namespace

KivoBar::KivoBar(ServiceSetup setup, LoginItem& loginItem, QString installBase, QObject* parent)
    : QObject(parent), m_setup(std::move(setup)), m_loginItem(loginItem), m_installBase(std::move(installBase))
{
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
    m_atLogin = std::make_unique<LoginToggle>(m_loginItem, model);
    m_content = std::make_unique<MenuContent>(model, *m_atLogin, MenuContent::Platform{
        .openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); },
        .quit = [] { QCoreApplication::quit(); },
        .isExecutable = [](const QString& path) {
            const QFileInfo file(path);
            return file.isFile() && file.isExecutable();
        },
        .installBase = m_installBase});
    m_menu = std::make_unique<QMenu>();

    connect(&model, &Service::changed, this, &KivoBar::scheduleUpdate);
    connect(m_atLogin.get(), &LoginToggle::changed, this, &KivoBar::scheduleUpdate);
    waitForTrayHost();
}

void KivoBar::scheduleUpdate()
{
    // A refresh assigns two properties in a row, and each assignment notifies: recompute once, after both.
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
    // Nobody sees the menu before the icon is there.
    if (!m_tray)
        return;
    m_renderer->render(m_content->rows());
    // The panel is told about every icon or tooltip that is set, changed or not.
    const QString symbol = icon(*m_service);
    if (symbol != m_symbol) {
        m_symbol = symbol;
        m_tray->setIcon(trayIcon(symbol, QApplication::palette().color(QPalette::WindowText)));
    }
    const QString toolTip = m_content->headline();
    if (toolTip != m_toolTip) {
        m_toolTip = toolTip;
        m_tray->setToolTip(toolTip);
    }
}

void KivoBar::waitForTrayHost()
{
    // Qt picks the tray protocol once per process, when the first tray icon is made: the D-Bus one
    // only if a panel is registered at that moment, else XEmbed for good. An app started at login
    // before the panel would lose its icon, so the icon is made only once a panel is there.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        showTrayIcon(MenuRenderer::Labels::Widget);
        return;
    }
    m_panelWatch = new QDBusServiceWatcher(kWatcherService, bus, QDBusServiceWatcher::WatchForRegistration, this);
    connect(m_panelWatch, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        if (!m_tray)
            askForTrayHost();
        else if (m_viaPanel)
            registerAgain(kRegisterAttempts);
    });
    bus.connect(kWatcherService, kWatcherPath, kWatcherInterface, u"StatusNotifierHostRegistered"_s, this,
                SLOT(askForTrayHost()));
    askForTrayHost();

    if (QGuiApplication::platformName() == u"xcb") {
        QTimer::singleShot(kXEmbedGraceMs, this, [this] {
            if (!m_tray && !QDBusConnection::sessionBus().interface()->isServiceRegistered(kWatcherService))
                showTrayIcon(MenuRenderer::Labels::Widget);
        });
    }
}

void KivoBar::askWatcher(std::function<void(std::optional<bool>)> answer)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                                       u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    call << kWatcherInterface << u"IsStatusNotifierHostRegistered"_s;
    // Asking must not start a watcher of its own: Qt's check does not either.
    call.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [answer = std::move(answer)](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *answered;
        answer(reply.isValid() ? std::optional<bool>(reply.value().variant().toBool()) : std::nullopt);
    });
}

void KivoBar::askForTrayHost()
{
    if (m_tray)
        return;
    askWatcher([this](std::optional<bool> hostRegistered) {
        if (!m_tray && hostRegistered.value_or(false))
            showTrayIcon(MenuRenderer::Labels::DBusMenu);
    });
}

void KivoBar::registerAgain(int attemptsLeft)
{
    // A restarted panel brings a new watcher that knows nothing of our icon. Qt 6.4 tells it at once,
    // often before the watcher serves its object, and gives up on the error. So wait until the
    // watcher answers, then register afresh: hiding and showing the icon does that.
    askWatcher([this, attemptsLeft](std::optional<bool> hostRegistered) {
        if (hostRegistered) {
            m_tray->hide();
            m_tray->show();
        } else if (attemptsLeft > 1) {
            QTimer::singleShot(kRegisterRetryMs, this, [this, attemptsLeft] { registerAgain(attemptsLeft - 1); });
        }
    });
}

void KivoBar::showTrayIcon(MenuRenderer::Labels labels)
{
    if (m_tray)
        return;
    m_viaPanel = labels == MenuRenderer::Labels::DBusMenu;
    m_renderer = std::make_unique<MenuRenderer>(*m_menu, labels);
    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setContextMenu(m_menu.get());
    update();
    m_tray->show();
}
