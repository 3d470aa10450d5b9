#include "tray/tray_bus_service.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusError>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

// An integer of any of D-Bus's integer types, as callers send whichever their language makes.
std::optional<qint64> integerIn(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return value.toLongLong();
    case QMetaType::ULongLong:
        if (value.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return value.toLongLong();
    default:
        return std::nullopt;
    }
}

}  // namespace

/// org.freedesktop.Application, as launchers call it.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
    Q_CLASSINFO("D-Bus Introspection",
        "  <interface name=\"org.freedesktop.Application\">\n"
        "    <method name=\"Activate\">\n"
        "      <arg name=\"platform_data\" type=\"a{sv}\" direction=\"in\"/>\n"
        "    </method>\n"
        "    <method name=\"Open\">\n"
        "      <arg name=\"uris\" type=\"as\" direction=\"in\"/>\n"
        "      <arg name=\"platform_data\" type=\"a{sv}\" direction=\"in\"/>\n"
        "    </method>\n"
        "    <method name=\"ActivateAction\">\n"
        "      <arg name=\"action_name\" type=\"s\" direction=\"in\"/>\n"
        "      <arg name=\"parameter\" type=\"av\" direction=\"in\"/>\n"
        "      <arg name=\"platform_data\" type=\"a{sv}\" direction=\"in\"/>\n"
        "    </method>\n"
        "  </interface>\n")

public:
    ApplicationAdaptor(TrayBusService& service, QObject* object) : QDBusAbstractAdaptor(object), m_service(service) {}

public Q_SLOTS:
    /// Shows the state, as a click on the icon does where the panel opens no menu.
    void Activate(const QVariantMap& platformData)
    {
        Q_UNUSED(platformData)
        m_service.activate();
    }

    /// Refused: Kivo Bar opens nothing it is given.
    void Open(const QStringList& uris, const QVariantMap& platformData, const QDBusMessage& call)
    {
        Q_UNUSED(uris)
        Q_UNUSED(platformData)
        m_service.open(call);
    }

    /// Starts the named action when the menu offers it now; answers once it has started.
    void ActivateAction(const QString& name, const QVariantList& parameter, const QVariantMap& platformData,
                        const QDBusMessage& call)
    {
        Q_UNUSED(platformData)
        m_service.activateAction(name, parameter, call);
    }

private:
    TrayBusService& m_service;
};

/// io.kivo.KivoBar.Control, for callers that wait for an action's end (the command line).
class ControlAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.kivo.KivoBar.Control")
    Q_CLASSINFO("D-Bus Introspection",
        "  <interface name=\"io.kivo.KivoBar.Control\">\n"
        "    <method name=\"Check\">\n"
        "      <arg name=\"action_name\" type=\"s\" direction=\"in\"/>\n"
        "      <arg name=\"parameter\" type=\"av\" direction=\"in\"/>\n"
        "    </method>\n"
        "    <method name=\"Perform\">\n"
        "      <arg name=\"action_name\" type=\"s\" direction=\"in\"/>\n"
        "      <arg name=\"parameter\" type=\"av\" direction=\"in\"/>\n"
        "      <arg name=\"succeeded\" type=\"b\" direction=\"out\"/>\n"
        "      <arg name=\"line\" type=\"s\" direction=\"out\"/>\n"
        "    </method>\n"
        "  </interface>\n")

public:
    ControlAdaptor(TrayBusService& service, QObject* object) : QDBusAbstractAdaptor(object), m_service(service) {}

public Q_SLOTS:
    /// Answers when the named action applies now, with the NotApplicable error when it does not.
    void Check(const QString& name, const QVariantList& parameter, const QDBusMessage& call)
    {
        m_service.check(name, parameter, call);
    }

    /// Carries out the named action and answers once it has ended: whether it succeeded, and the line that
    /// says why when it did not.
    bool Perform(const QString& name, const QVariantList& parameter, const QDBusMessage& call, QString& line)
    {
        m_service.perform(name, parameter, call);
        line.clear();
        return false;  // never sent: the answer goes out when the action has ended
    }

private:
    TrayBusService& m_service;
};

std::variant<ActionRequest, BusRequestError> busRequest(const QString& name, const QVariantList& parameter)
{
    const std::optional<ActionRequest::Action> action = actionNamed(name);
    if (!action) {
        return BusRequestError{QString(kUnknownActionError),
                               u"No action \"%1\"; the actions are %2"_s.arg(name, actionNames().join(u", "_s))};
    }
    if (*action != ActionRequest::Action::OpenSession) {
        if (!parameter.isEmpty())
            return BusRequestError{QDBusError::errorString(QDBusError::InvalidArgs), u"%1 takes no parameter"_s.arg(name)};
        return ActionRequest{.action = *action};
    }
    const std::optional<qint64> place = parameter.size() == 1 ? integerIn(parameter.front()) : std::nullopt;
    if (!place || *place < 1) {
        return BusRequestError{QDBusError::errorString(QDBusError::InvalidArgs),
                               u"open-session takes one integer: the session's place in the \"Needs you\" list, from 1"_s};
    }
    return ActionRequest{.action = *action, .session = *place};
}

TrayBusService::TrayBusService(QDBusConnection bus, TrayBusAddress address, Tray tray, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_address(std::move(address)), m_tray(std::move(tray))
{
    new ApplicationAdaptor(*this, this);
    new ControlAdaptor(*this, this);
}

TrayBusService::~TrayBusService()
{
    if (!m_registered)
        return;
    m_bus.unregisterObject(m_address.path);
    m_bus.unregisterService(m_address.service);
}

std::optional<QString> TrayBusService::start()
{
    if (!m_bus.registerObject(m_address.path, this, QDBusConnection::ExportAdaptors))
        return m_bus.lastError().isValid() ? m_bus.lastError().message() : u"the object path %1 is taken"_s.arg(m_address.path);
    m_registered = true;
    // Not queued and not replaceable: one tray per agent home holds the name, and no other takes it over.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_bus.interface()->registerService(
        m_address.service, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid())
        return reply.error().message();
    if (reply.value() != QDBusConnectionInterface::ServiceRegistered)
        return u"another process holds %1"_s.arg(m_address.service);
    return std::nullopt;
}

std::variant<Intent, QDBusMessage> TrayBusService::resolve(const QString& name, const QVariantList& parameter,
                                                          const QDBusMessage& call) const
{
    const std::variant<ActionRequest, BusRequestError> request = busRequest(name, parameter);
    if (const auto* error = std::get_if<BusRequestError>(&request))
        return call.createErrorReply(error->name, error->message);
    const ActionRequest& wanted = std::get<ActionRequest>(request);
    const std::vector<MenuRow> rows = m_tray.rows();
    if (std::optional<Intent> intent = intentFor(wanted, rows))
        return std::move(*intent);
    return call.createErrorReply(QString(kNotApplicableError), refusal(wanted, rows));
}

void TrayBusService::activate()
{
    m_tray.perform(intent::ShowStatus{}, {});
}

void TrayBusService::open(const QDBusMessage& call)
{
    call.setDelayedReply(true);
    m_bus.send(call.createErrorReply(QDBusError::NotSupported, u"Kivo Bar opens no files or addresses"_s));
}

void TrayBusService::activateAction(const QString& name, const QVariantList& parameter, const QDBusMessage& call)
{
    std::variant<Intent, QDBusMessage> resolved = resolve(name, parameter, call);
    if (auto* error = std::get_if<QDBusMessage>(&resolved)) {
        call.setDelayedReply(true);
        m_bus.send(*error);
        return;
    }
    // The empty answer goes out as this returns; how the action ends shows in the menu and notifications.
    m_tray.perform(std::get<Intent>(resolved), {});
}

void TrayBusService::check(const QString& name, const QVariantList& parameter, const QDBusMessage& call)
{
    std::variant<Intent, QDBusMessage> resolved = resolve(name, parameter, call);
    if (auto* error = std::get_if<QDBusMessage>(&resolved)) {
        call.setDelayedReply(true);
        m_bus.send(*error);
    }
}

void TrayBusService::perform(const QString& name, const QVariantList& parameter, const QDBusMessage& call)
{
    call.setDelayedReply(true);
    std::variant<Intent, QDBusMessage> resolved = resolve(name, parameter, call);
    if (auto* error = std::get_if<QDBusMessage>(&resolved)) {
        m_bus.send(*error);
        return;
    }
    // The caller may have gone by the time the action ends; the answer then finds nobody, harmlessly.
    m_tray.perform(std::get<Intent>(resolved), [bus = m_bus, call](const StepOutcome& outcome) {
        QDBusConnection(bus).send(call.createReply({outcome.succeeded, outcome.lastLine}));
    });
}

#include "tray_bus_service.moc"
