#include "fake_notification_server.h"

using namespace Qt::StringLiterals;

namespace {

const QString kService = u"org.freedesktop.Notifications"_s;
const QString kPath = u"/org/freedesktop/Notifications"_s;

}  // namespace

FakeNotificationServer::FakeNotificationServer(QDBusConnection connection, QString name, QStringList capabilities)
    : m_connection(std::move(connection)), m_name(std::move(name)), m_capabilities(std::move(capabilities))
{
    m_serving = m_connection.registerObject(kPath, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals)
        && m_connection.registerService(kService);
}

FakeNotificationServer::~FakeNotificationServer()
{
    stop();
}

void FakeNotificationServer::stop()
{
    if (!m_serving)
        return;
    m_connection.unregisterService(kService);
    m_connection.unregisterObject(kPath);
    m_serving = false;
}

QString FakeNotificationServer::GetServerInformation(QString& vendor, QString& version, QString& specVersion)
{
    vendor = u"test"_s;
    version = u"1.0"_s;
    specVersion = u"1.2"_s;
    return m_name;
}

uint FakeNotificationServer::Notify(const QString&, uint replacesId, const QString&, const QString& summary,
                                    const QString& body, const QStringList& actions, const QVariantMap& hints, int)
{
    const uint id = replacesId != 0 ? replacesId : m_nextId++;
    notified.push_back({id, replacesId, summary, body, actions, hints});
    return id;
}

void FakeNotificationServer::CloseNotification(uint id)
{
    closed.push_back(id);
    Q_EMIT NotificationClosed(id, 3);
}
