#include "panel/tray_host_watch.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString kWatcherService = u"org.kde.StatusNotifierWatcher"_s;
const QString kWatcherPath = u"/StatusNotifierWatcher"_s;
const QString kWatcherInterface = u"org.kde.StatusNotifierWatcher"_s;

// A watcher that has just taken its name may not serve its object yet; it is asked again this often.
constexpr int kRegisterAttempts = 20;
constexpr int kRegisterRetryMs = 250;

}  // namespace

TrayHostWatch::TrayHostWatch(QDBusConnection bus, QString item, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_item(std::move(item))
{
}

void TrayHostWatch::start()
{
    m_watcherWatch = new QDBusServiceWatcher(kWatcherService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcherWatch, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { onWatcherOwnerChanged(owner); });
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
        m_bus.connect(kWatcherService, kWatcherPath, kWatcherInterface, QString::fromLatin1(signal), this,
                      SLOT(askForHost()));
    }
    const QDBusReply<QString> owner = m_bus.interface()->serviceOwner(kWatcherService);
    onWatcherOwnerChanged(owner.isValid() ? owner.value() : QString());
}

void TrayHostWatch::onWatcherOwnerChanged(const QString& owner)
{
    ++m_generation;
    m_registered = false;
    setHostPresent(false);
    if (!owner.isEmpty())
        registerItem(kRegisterAttempts);
}

void TrayHostWatch::registerItem(int attemptsLeft)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherInterface,
                                                       u"RegisterStatusNotifierItem"_s);
    call << m_item;
    call.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, attemptsLeft, generation = m_generation](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        if (generation != m_generation)
            return;
        if (!answered->isError()) {
            m_registered = true;
            askForHost();
        } else if (attemptsLeft > 1) {
            QTimer::singleShot(kRegisterRetryMs, this, [this, attemptsLeft, generation] {
                if (generation == m_generation)
                    registerItem(attemptsLeft - 1);
            });
        }
    });
}

void TrayHostWatch::askForHost()
{
    if (!m_registered)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                                       u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    call << kWatcherInterface << u"IsStatusNotifierHostRegistered"_s;
    call.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, generation = m_generation](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        if (generation != m_generation)
            return;
        const QDBusPendingReply<QDBusVariant> reply = *answered;
        setHostPresent(reply.isValid() && reply.value().variant().toBool());
    });
}

void TrayHostWatch::setHostPresent(bool present)
{
    if (present == m_hostPresent)
        return;
    m_hostPresent = present;
    Q_EMIT hostPresenceChanged(present);
}
