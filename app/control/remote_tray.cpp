#include "control/remote_tray.h"

#include "state/instance_lock.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

// libdbus's "no timeout": an action such as setting up waits on the user in a browser.
constexpr int kNoTimeout = std::numeric_limits<int>::max();

// The action's name and its parameter, an array of variants ("av"): QtDBus sends each element of a list as a
// variant of its own, so the place goes in as the integer it is, an id as the text it is.
QVariantList actionArguments(const ActionRequest& request)
{
    QVariantList parameter;
    if (request.action == ActionRequest::Action::OpenSession && !request.sessionId.isEmpty())
        parameter += request.sessionId;
    else if (request.action == ActionRequest::Action::OpenSession)
        parameter += QVariant::fromValue(qlonglong(request.session));
    return {actionName(request.action), QVariant::fromValue(parameter)};
}

}  // namespace

RemoteTray::RemoteTray(QDBusConnection bus, const QString& agentHome, std::optional<ScriptDirectory> lockFolder)
    : m_bus(std::move(bus)), m_home(agentHome), m_lockFolder(std::move(lockFolder)), m_address(trayBusAddress(agentHome))
{
}

RemoteTray::Standing RemoteTray::standing() const
{
    if (!m_bus.isConnected())
        return {};
    const QDBusReply<uint> owner = m_bus.interface()->servicePid(m_address.service);
    if (!owner.isValid())
        return {};
    // Anyone may ask for the name first; the lock in the user's own folder only the tray of this home can hold.
    const bool trusted = !m_lockFolder || InstanceLock::holder(*m_lockFolder, m_home) == qint64(owner.value());
    return {.owner = owner.value(), .trusted = trusted};
}

RemoteTray::Answer RemoteTray::activate() const
{
    return call(QString(kApplicationInterface), u"Activate"_s, {QVariantMap()}, int(kAnswerTime.count()));
}

RemoteTray::Answer RemoteTray::check(const ActionRequest& request) const
{
    return call(QString(kControlInterface), u"Check"_s, actionArguments(request), int(kAnswerTime.count()));
}

RemoteTray::Answer RemoteTray::perform(const ActionRequest& request) const
{
    return call(QString(kControlInterface), u"Perform"_s, actionArguments(request), kNoTimeout);
}

RemoteTray::Answer RemoteTray::call(const QString& interface, const QString& method, const QVariantList& arguments,
                                    int timeoutMs) const
{
    if (!m_bus.isConnected())
        return {Answer::Kind::Gone, m_bus.lastError().message()};
    QDBusMessage message = QDBusMessage::createMethodCall(m_address.service, m_address.path, interface, method);
    message.setArguments(arguments);
    // The tray is never started for the call: it either runs already or is not wanted.
    message.setAutoStartService(false);
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        const QVariantList values = reply.arguments();
        if (values.size() == 2 && !values[0].toBool())
            return {Answer::Kind::Failed, values[1].toString()};
        return {Answer::Kind::Done, {}};
    }
    const QString error = reply.errorName();
    if (error == kNotApplicableError)
        return {Answer::Kind::NotApplicable, reply.errorMessage()};
    // The name lost its owner between our look and the call (QtDBus has no type of its own for it): the call
    // reached nobody.
    if (error == u"org.freedesktop.DBus.Error.NameHasNoOwner"_s)
        return {Answer::Kind::Gone, reply.errorMessage()};
    switch (QDBusError(reply).type()) {
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return {Answer::Kind::NoAnswer, reply.errorMessage()};
    case QDBusError::NoReply:
        // libdbus says this both when the time is up and when the tray went away after the call reached it.
        return standing().owner ? Answer{Answer::Kind::NoAnswer, reply.errorMessage()}
                                : Answer{Answer::Kind::Lost, reply.errorMessage()};
    case QDBusError::ServiceUnknown:
        return {Answer::Kind::Gone, reply.errorMessage()};
    case QDBusError::Disconnected:
        return {Answer::Kind::Lost, reply.errorMessage()};
    default:
        return {Answer::Kind::Refused, reply.errorMessage()};
    }
}
