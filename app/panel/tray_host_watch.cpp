#include "panel/tray_host_watch.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QString kWatcherPath = u"/StatusNotifierWatcher"_s;
const QString kWatcherInterface = u"org.kde.StatusNotifierWatcher"_s;

// Plasma runs the watcher in its daemon kded5, apart from the panel, and that watcher says a host is
// registered whether or not a panel runs. Hosts that register with a watcher own a name of this prefix.
const QString kPlasmaDaemon = u"org.kde.kded5"_s;
const QString kHostNamePrefix = u"org.kde.StatusNotifierHost-"_s;

// A watcher that has just taken its name may not serve its object yet; it is asked again this often.
constexpr int kRegisterAttempts = 20;
constexpr int kRegisterRetryMs = 250;

QDBusMessage busDriverCall(const QString& method)
{
    return QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                          u"org.freedesktop.DBus"_s, method);
}

}  // namespace

TrayHostWatch::TrayHostWatch(QDBusConnection bus, QString item, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_item(std::move(item))
{
}

void TrayHostWatch::start()
{
    m_watcherWatch =
        new QDBusServiceWatcher(kWatcherService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
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
    m_watcherOwner = owner;
    m_registered = false;
    setHostPresent(false);
    if (!owner.isEmpty())
        registerItem(kRegisterAttempts);
}

void TrayHostWatch::ask(QDBusMessage call, std::function<void(const QDBusMessage& reply)> answered)
{
    call.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, answered = std::move(answered), generation = m_generation](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        if (generation == m_generation)
            answered(done->reply());
    });
}

void TrayHostWatch::registerItem(int attemptsLeft)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherInterface,
                                                       u"RegisterStatusNotifierItem"_s);
    call << m_item;
    ask(call, [this, attemptsLeft, generation = m_generation](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ErrorMessage) {
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
    // Only the latest question's answer counts: an earlier one may come later and be out of date.
    const auto settle = [this, question = ++m_question](bool present) {
        if (question == m_question)
            setHostPresent(present);
    };
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                                       u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    call << kWatcherInterface << u"IsStatusNotifierHostRegistered"_s;
    ask(call, [this, settle](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage
            || !reply.arguments().value(0).value<QDBusVariant>().variant().toBool()) {
            settle(false);
            return;
        }
        // Where the watcher is a panel's own, its word is the panel's. Where it is Plasma's daemon's, only a
        // host's own name on the bus says that a panel is there.
        QDBusMessage daemon = busDriverCall(u"GetNameOwner"_s);
        daemon << kPlasmaDaemon;
        ask(daemon, [this, settle](const QDBusMessage& owner) {
            if (owner.type() != QDBusMessage::ReplyMessage || owner.arguments().value(0).toString() != m_watcherOwner) {
                settle(true);
                return;
            }
            ask(busDriverCall(u"ListNames"_s), [settle](const QDBusMessage& listed) {
                const QStringList names = listed.arguments().value(0).toStringList();
                settle(std::any_of(names.begin(), names.end(),
                                   [](const QString& name) { return name.startsWith(kHostNamePrefix); }));
            });
        });
    });
}

void TrayHostWatch::setHostPresent(bool present)
{
    if (present == m_hostPresent)
        return;
    m_hostPresent = present;
    Q_EMIT hostPresenceChanged(present);
}
