#include "freedesktop_notifier.h"

#include "platform.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace {

const QString kService = u"org.freedesktop.Notifications"_s;
const QString kPath = u"/org/freedesktop/Notifications"_s;
const QString kInterface = u"org.freedesktop.Notifications"_s;

QDBusMessage call(const QString& method)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    // With no notification service, nothing is started just for us.
    message.setAutoStartService(false);
    return message;
}

QString escaped(const QString& text)
{
    QString out = text;
    return out.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
}

}  // namespace

FreedesktopNotifier::FreedesktopNotifier(QDBusConnection bus, QString appName, QString desktopEntry, QString icon,
                                         QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_appName(std::move(appName))
    , m_desktopEntry(std::move(desktopEntry))
    , m_icon(std::move(icon))
{
    m_bus.connect(kService, kPath, kInterface, u"ActionInvoked"_s, this, SLOT(onActionInvoked(uint,QString)));
    m_bus.connect(kService, kPath, kInterface, u"NotificationClosed"_s, this,
                  SLOT(onNotificationClosed(uint,uint)));
    askCapabilities();
}

void FreedesktopNotifier::askCapabilities()
{
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call(u"GetCapabilities"_s)), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        const QDBusPendingReply<QStringList> reply = *answered;
        if (reply.isValid())
            m_bodyMarkup = reply.value().contains(u"body-markup"_s);
    });
}

Notifier::Id FreedesktopNotifier::notify(const Notification& notification, ActionHandler onAction)
{
    const Id id = ++m_lastId;
    m_shown.insert(id, {0, std::move(onAction)});

    QStringList actions;
    for (const auto& [key, label] : notification.actions)
        actions << key << label;
    const QVariantMap hints{{u"desktop-entry"_s, m_desktopEntry}, {u"urgency"_s, QVariant::fromValue(uchar(1))}};
    QDBusMessage message = call(u"Notify"_s);
    // A service that reads markup in the body would drop a text with "<" or "&" from the agent.
    message << m_appName << uint(0) << m_icon << notification.summary
            << (m_bodyMarkup ? escaped(notification.body) : notification.body) << actions << hints << int(-1);
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, id](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        const QDBusPendingReply<uint> reply = *answered;
        const auto shown = m_shown.find(id);
        if (!reply.isValid() || reply.value() == 0 || shown == m_shown.end()) {
            m_shown.remove(id);
            m_closeWhenShown.remove(id);
            return;
        }
        shown->serverId = reply.value();
        m_byServerId.insert(shown->serverId, id);
        if (m_closeWhenShown.remove(id))
            close(id);
    });
    return id;
}

void FreedesktopNotifier::close(Id id)
{
    const auto shown = m_shown.find(id);
    if (shown == m_shown.end())
        return;
    if (shown->serverId == 0) {
        m_closeWhenShown.insert(id);
        return;
    }
    m_bus.asyncCall(call(u"CloseNotification"_s) << shown->serverId);
    m_byServerId.remove(shown->serverId);
    m_shown.erase(shown);
}

void FreedesktopNotifier::onActionInvoked(uint serverId, const QString& key)
{
    const auto id = m_byServerId.constFind(serverId);
    if (id == m_byServerId.cend())
        return;
    // A copy: the handler may close this very notification.
    const ActionHandler handler = m_shown.value(*id).onAction;
    if (handler)
        handler(key);
}

void FreedesktopNotifier::onNotificationClosed(uint serverId, uint)
{
    const auto id = m_byServerId.constFind(serverId);
    if (id == m_byServerId.cend())
        return;
    m_shown.remove(*id);
    m_byServerId.erase(id);
}

std::unique_ptr<Notifier> makeNotifier()
{
    return std::make_unique<FreedesktopNotifier>(QDBusConnection::sessionBus(), u"Kivo Bar"_s,
                                                 u"io.kivo.KivoBar"_s, u"io.kivo.KivoBar"_s);
}
