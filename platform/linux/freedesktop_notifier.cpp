#include "platform/linux/freedesktop_notifier.h"

#include "platform/platform.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString kService = u"org.freedesktop.Notifications"_s;
const QString kPath = u"/org/freedesktop/Notifications"_s;
const QString kInterface = u"org.freedesktop.Notifications"_s;
const QString kDefaultKey = u"default"_s;

// Servers that draw the "default" action as a button of its own, beside the others.
const QStringList kServersWithDefaultButton = {u"xfce"_s, u"lxqt"_s};

QDBusMessage call(const QString& method, bool startServer)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    // Some sessions start their notification server only when it is first called (dunst, mako); nothing
    // is started just to close a notification.
    message.setAutoStartService(startServer);
    return message;
}

QString escaped(const QString& text)
{
    QString out = text;
    return out.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s);
}

}  // namespace

NotificationServerTraits notificationServerTraits(const QString& serverName, const QStringList& capabilities)
{
    const bool defaultIsButton = std::any_of(kServersWithDefaultButton.begin(), kServersWithDefaultButton.end(),
        [&](const QString& name) { return serverName.contains(name, Qt::CaseInsensitive); });
    return {.actions = capabilities.contains(u"actions"_s),
            .bodyMarkup = capabilities.contains(u"body-markup"_s),
            .defaultIsButton = defaultIsButton};
}

QStringList wireActions(const Notification& notification, const NotificationServerTraits& server)
{
    QStringList wire;
    if (!server.actions)
        return wire;
    const auto click = std::find_if(notification.actions.begin(), notification.actions.end(),
                                    [&](const auto& action) { return action.first == notification.clickAction; });
    const bool hasClick = !notification.clickAction.isEmpty() && click != notification.actions.end();
    if (hasClick)
        wire << kDefaultKey << click->second;
    for (const auto& [key, label] : notification.actions) {
        if (server.defaultIsButton && hasClick && key == notification.clickAction)
            continue;
        if (key != kDefaultKey)
            wire << key << label;
    }
    return wire;
}

FreedesktopNotifier::FreedesktopNotifier(QDBusConnection bus, QString appName, QString desktopEntry, QString icon,
                                         QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_appName(std::move(appName))
    , m_desktopEntry(std::move(desktopEntry))
    , m_icon(std::move(icon))
    , m_ownerWatch(new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this))
{
    connect(m_ownerWatch, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { onOwnerChanged(owner); });
    m_bus.connect(kService, kPath, kInterface, u"ActionInvoked"_s, this,
                  SLOT(onActionInvoked(uint,QString,QDBusMessage)));
    m_bus.connect(kService, kPath, kInterface, u"NotificationClosed"_s, this,
                  SLOT(onNotificationClosed(uint,uint,QDBusMessage)));
}

void FreedesktopNotifier::onOwnerChanged(const QString& owner)
{
    if (owner == m_owner)
        return;
    // A new server counts its ids afresh: ours of the old one would name other apps' notifications.
    // Those not yet shown stay: they wait for a server, or their answer will say which server took them.
    m_owner = owner;
    m_traits.reset();
    for (const Id id : std::as_const(m_byServerId))
        m_shown.remove(id);
    m_byServerId.clear();
}

Notifier::Id FreedesktopNotifier::notify(const Notification& notification, ActionHandler onAction)
{
    const Id id = ++m_lastId;
    m_shown.insert(id, {.onAction = std::move(onAction)});
    if (const Id earlier = notification.replaces; earlier != 0) {
        // In the place of one that waits for the server's traits: it waits there instead.
        const auto waiting = std::find_if(m_waiting.begin(), m_waiting.end(), [&](const auto& w) { return w.first == earlier; });
        if (waiting != m_waiting.end()) {
            const quint64 theirs = waiting->second.replaces;
            *waiting = {id, notification};
            waiting->second.replaces = theirs;
            forget(earlier);
            return id;
        }
        // In the place of one that itself waits for another's answer: it takes over that wait.
        for (auto follower = m_followers.begin(); follower != m_followers.end(); ++follower) {
            if (follower->first == earlier) {
                const Id shownFirst = follower.key();
                forget(earlier);
                m_followers[shownFirst] = {id, notification};
                m_followers[shownFirst].second.replaces = shownFirst;
                return id;
            }
        }
        // In the place of one sent but not answered for: it waits for the answer, which says what to replace.
        const auto sent = m_shown.constFind(earlier);
        if (sent != m_shown.cend() && sent->serverId == 0) {
            if (const auto before = m_followers.constFind(earlier); before != m_followers.cend())
                forget(before->first);
            m_followers[earlier] = {id, notification};
            return id;
        }
    }
    if (m_traits) {
        send(id, notification);
        return id;
    }
    m_waiting.emplace_back(id, notification);
    if (m_waiting.size() > kMaxWaiting) {
        forget(m_waiting.front().first);
        m_waiting.pop_front();
    }
    inquire();
    return id;
}

void FreedesktopNotifier::inquire()
{
    if (m_inquiring)
        return;
    m_inquiring = true;
    struct Answers {
        QString serverName;
        std::optional<QStringList> capabilities;
        QString server;
        int left = 2;
    };
    auto answers = std::make_shared<Answers>();
    // What the answer can speak for: a server that came after the question was sent was not asked.
    const Id askedFor = m_lastId;
    const auto finish = [this, answers, askedFor] {
        if (--answers->left > 0)
            return;
        m_inquiring = false;
        if (!answers->capabilities) {
            // No server, or one that does not answer: what waited when the question was sent is not shown.
            while (!m_waiting.empty() && m_waiting.front().first <= askedFor) {
                forget(m_waiting.front().first);
                m_waiting.pop_front();
            }
            if (!m_waiting.empty())
                inquire();
            return;
        }
        std::deque<std::pair<Id, Notification>> waiting;
        waiting.swap(m_waiting);
        // The server that answered owns the name now, whether or not its arrival has been heard of yet.
        onOwnerChanged(answers->server);
        m_traits = notificationServerTraits(answers->serverName, *answers->capabilities);
        for (const auto& [id, notification] : waiting) {
            if (m_shown.contains(id))
                send(id, notification);
        }
    };
    auto* information = new QDBusPendingCallWatcher(m_bus.asyncCall(call(u"GetServerInformation"_s, true)), this);
    connect(information, &QDBusPendingCallWatcher::finished, this, [answers, finish](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        const QDBusPendingReply<QString, QString, QString, QString> reply = *answered;
        if (reply.isValid())
            answers->serverName = reply.argumentAt<0>();
        finish();
    });
    auto* capabilities = new QDBusPendingCallWatcher(m_bus.asyncCall(call(u"GetCapabilities"_s, true)), this);
    connect(capabilities, &QDBusPendingCallWatcher::finished, this, [answers, finish](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        const QDBusPendingReply<QStringList> reply = *answered;
        if (reply.isValid()) {
            answers->capabilities = reply.value();
            answers->server = reply.reply().service();
        }
        finish();
    });
}

void FreedesktopNotifier::send(Id id, const Notification& notification)
{
    uint replaces = 0;
    const auto earlier = m_shown.constFind(notification.replaces);
    if (notification.replaces != 0 && notification.replaces != id && earlier != m_shown.cend()
        && earlier->serverId != 0 && earlier->server == m_owner) {
        replaces = earlier->serverId;
        forget(notification.replaces);
    }
    const QStringList actions = wireActions(notification, *m_traits);
    // Looked up after the earlier one is forgotten: removing from a QHash may move its other entries.
    Shown& entry = m_shown[id];
    for (qsizetype i = 0; i + 1 < actions.size(); i += 2)
        entry.keys.insert(actions[i]);
    entry.clickAction = notification.clickAction;

    const QVariantMap hints{{u"desktop-entry"_s, m_desktopEntry}, {u"urgency"_s, QVariant::fromValue(uchar(1))}};
    QDBusMessage message = call(u"Notify"_s, true);
    // A server that reads markup in the body would drop, or act on, a "<" or "&" in a text from the agent.
    message << m_appName << replaces << m_icon << notification.summary
            << (m_traits->bodyMarkup ? escaped(notification.body) : notification.body) << actions << hints << int(-1);
    ++m_sending;
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, id](QDBusPendingCallWatcher* answered) {
        answered->deleteLater();
        --m_sending;
        const QDBusPendingReply<uint> reply = *answered;
        const auto shown = m_shown.find(id);
        // An answer from a server that has since been replaced names nothing the current one shows.
        if (!reply.isValid() || reply.value() == 0 || shown == m_shown.end()
            || reply.reply().service() != m_owner) {
            forget(id);
            releaseFollower(id);
            return;
        }
        shown->serverId = reply.value();
        shown->server = m_owner;
        // A server may give an id again that it gave before; the newer notification is the one it shows.
        if (const auto previous = m_byServerId.constFind(shown->serverId); previous != m_byServerId.cend())
            m_shown.remove(*previous);
        m_byServerId.insert(shown->serverId, id);
        if (m_closeWhenShown.remove(id))
            close(id);
        releaseFollower(id);
    });
}

void FreedesktopNotifier::releaseFollower(Id id)
{
    const auto follower = m_followers.find(id);
    if (follower == m_followers.end())
        return;
    const auto [next, notification] = *follower;
    m_followers.erase(follower);
    // Closed meanwhile, or its server went: it shows no more.
    if (!m_shown.contains(next))
        return;
    if (m_traits) {
        send(next, notification);
        return;
    }
    m_waiting.emplace_back(next, notification);
    inquire();
}

void FreedesktopNotifier::forget(Id id)
{
    const auto shown = m_shown.find(id);
    if (shown == m_shown.end())
        return;
    if (shown->serverId != 0 && m_byServerId.value(shown->serverId) == id)
        m_byServerId.remove(shown->serverId);
    m_closeWhenShown.remove(id);
    m_shown.erase(shown);
}

bool FreedesktopNotifier::settled() const
{
    return !m_inquiring && m_waiting.empty() && m_followers.isEmpty() && m_sending == 0;
}

void FreedesktopNotifier::close(Id id)
{
    const auto shown = m_shown.constFind(id);
    if (shown == m_shown.cend())
        return;
    if (shown->serverId == 0) {
        m_closeWhenShown.insert(id);
        return;
    }
    m_bus.asyncCall(call(u"CloseNotification"_s, false) << shown->serverId);
    forget(id);
}

std::optional<Notifier::Id> FreedesktopNotifier::ours(uint serverId, const QDBusMessage& message) const
{
    const auto id = m_byServerId.constFind(serverId);
    if (id == m_byServerId.cend() || message.service() != m_owner)
        return std::nullopt;
    return *id;
}

void FreedesktopNotifier::onActionInvoked(uint serverId, const QString& key, const QDBusMessage& message)
{
    const std::optional<Id> id = ours(serverId, message);
    if (!id)
        return;
    Shown& shown = m_shown[*id];
    // Once: a server, or anyone speaking in its name, may repeat the signal. The notification stays ours
    // to close, since a server may keep showing it.
    if (shown.acted || !shown.keys.contains(key))
        return;
    shown.acted = true;
    // A copy: the handler may close this very notification.
    const ActionHandler handler = shown.onAction;
    const QString picked = key == kDefaultKey ? shown.clickAction : key;
    if (handler)
        handler(picked);
}

void FreedesktopNotifier::onNotificationClosed(uint serverId, uint, const QDBusMessage& message)
{
    if (const std::optional<Id> id = ours(serverId, message))
        forget(*id);
}

std::unique_ptr<Notifier> makeNotifier(const QString& appId, const QString& appName)
{
    return std::make_unique<FreedesktopNotifier>(QDBusConnection::sessionBus(), appName, appId, appId);
}
