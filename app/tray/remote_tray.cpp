#include "tray/remote_tray.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

// libdbus's "no timeout": an action such as setting up waits on the user in a browser.
constexpr int kNoTimeout = std::numeric_limits<int>::max();

QVariantList actionArguments(const ActionRequest& request)
{
    QVariantList parameter;
    if (request.action == ActionRequest::Action::OpenSession)
        parameter += QVariant::fromValue(QDBusVariant(request.session));
    return {actionName(request.action), QVariant::fromValue(parameter)};
}

}  // namespace

RemoteTray::RemoteTray(QDBusConnection bus, const QString& agentHome)
    : m_bus(std::move(bus)), m_address(trayBusAddress(agentHome))
{
}

bool RemoteTray::running() const
{
    if (!m_bus.isConnected())
        return false;
    const QDBusReply<bool> owned = m_bus.interface()->isServiceRegistered(m_address.service);
    return owned.isValid() && owned.value();
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
    // The name lost its owner between our look and the call (QtDBus has no type of its own for it).
    if (error == u"org.freedesktop.DBus.Error.NameHasNoOwner"_s)
        return {Answer::Kind::Gone, reply.errorMessage()};
    switch (QDBusError(reply).type()) {
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return {Answer::Kind::NoAnswer, reply.errorMessage()};
    case QDBusError::NoReply:
        // libdbus says this both when the time is up and when the tray went away without answering.
        return running() ? Answer{Answer::Kind::NoAnswer, reply.errorMessage()} : Answer{Answer::Kind::Gone, reply.errorMessage()};
    case QDBusError::ServiceUnknown:
    case QDBusError::Disconnected:
        return {Answer::Kind::Gone, reply.errorMessage()};
    default:
        return {Answer::Kind::Refused, reply.errorMessage()};
    }
}
