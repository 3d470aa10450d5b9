#include "control/tray_bus_service.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusError>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A parameter as the word the command line would have been given: a text as it is, an integer of any of D-Bus's
// integer types (callers send whichever their language makes) as its digits. Empty for any other type.
std::optional<QString> wordOf(const QVariant& value)
{
    switch (value.metaType().id()) {
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        return QString::number(value.toLongLong());
    case QMetaType::ULongLong:
        return QString::number(value.toULongLong());
    case QMetaType::QString:
        return value.toString();
    default:
        return std::nullopt;
    }
}

void answer(QDBusConnection bus, const QDBusMessage& reply)
{
    bus.send(reply);
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
    QStringList words{name};
    for (const QVariant& value : parameter) {
        const std::optional<QString> word = wordOf(value);
        if (!word) {
            return BusRequestError{QDBusError::errorString(QDBusError::InvalidArgs),
                                   u"the parameter of an action holds integers and texts only"_s};
        }
        words += *word;
    }
    std::variant<ActionRequest, ActionWordsProblem> parsed = parseAction(words);
    if (const auto* problem = std::get_if<ActionWordsProblem>(&parsed)) {
        const bool unknown = problem->kind == ActionWordsProblem::Kind::UnknownAction;
        return BusRequestError{unknown ? QString(kUnknownActionError) : QDBusError::errorString(QDBusError::InvalidArgs),
                               problem->text};
    }
    return std::get<ActionRequest>(parsed);
}

TrayBusService::TrayBusService(QDBusConnection bus, TrayBusAddress address, ActionGate& gate, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_address(std::move(address)), m_gate(gate)
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
    // Not replaceable: nobody takes the name over from the tray. Queued when another process holds it, so that the
    // tray, which holds the home's lock, gets its name back as soon as that process lets go.
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_bus.interface()->registerService(
        m_address.service, QDBusConnectionInterface::QueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid())
        return reply.error().message();
    if (reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return std::nullopt;
    const QDBusReply<uint> holder = m_bus.interface()->servicePid(m_address.service);
    return u"%1 holds the name %2 on the session bus, by which launchers and scripts reach this tray; until it lets "
           "go, kivobar's actions from the command line act without the tray"_s
        .arg(holder.isValid() ? u"process %1"_s.arg(holder.value()) : u"another process"_s, m_address.service);
}

std::variant<ActionRequest, QDBusMessage> TrayBusService::request(const QString& name, const QVariantList& parameter,
                                                                 const QDBusMessage& call) const
{
    std::variant<ActionRequest, BusRequestError> request = busRequest(name, parameter);
    if (const auto* error = std::get_if<BusRequestError>(&request))
        return call.createErrorReply(error->name, error->message);
    return std::get<ActionRequest>(request);
}

void TrayBusService::activate()
{
    m_gate.perform(intent::ShowStatus{});
}

void TrayBusService::open(const QDBusMessage& call)
{
    call.setDelayedReply(true);
    answer(m_bus, call.createErrorReply(QDBusError::NotSupported, u"Kivo Bar opens no files or addresses"_s));
}

void TrayBusService::activateAction(const QString& name, const QVariantList& parameter, const QDBusMessage& call)
{
    call.setDelayedReply(true);
    std::variant<ActionRequest, QDBusMessage> asked = request(name, parameter, call);
    if (const auto* error = std::get_if<QDBusMessage>(&asked)) {
        answer(m_bus, *error);
        return;
    }
    // Answered as soon as the action has ended or started, whichever comes first: a launcher waits for no run.
    auto answered = std::make_shared<bool>(false);
    const auto reply = [bus = m_bus, call, answered](const QDBusMessage& message) {
        if (std::exchange(*answered, true))
            return;
        answer(bus, message);
    };
    m_gate.perform(std::get<ActionRequest>(asked), [reply, call](const ActionOutcome& outcome) {
        switch (outcome.kind) {
        case ActionOutcome::Kind::Done: reply(call.createReply()); break;
        case ActionOutcome::Kind::Failed: reply(call.createErrorReply(QString(kFailedError), outcome.line)); break;
        case ActionOutcome::Kind::NotApplicable: reply(call.createErrorReply(QString(kNotApplicableError), outcome.line)); break;
        }
    });
    reply(call.createReply());
}

void TrayBusService::check(const QString& name, const QVariantList& parameter, const QDBusMessage& call)
{
    call.setDelayedReply(true);
    std::variant<ActionRequest, QDBusMessage> asked = request(name, parameter, call);
    if (const auto* error = std::get_if<QDBusMessage>(&asked)) {
        answer(m_bus, *error);
        return;
    }
    const std::variant<Intent, QString> decided = m_gate.decide(std::get<ActionRequest>(asked));
    if (const QString* why = std::get_if<QString>(&decided))
        answer(m_bus, call.createErrorReply(QString(kNotApplicableError), *why));
    else
        answer(m_bus, call.createReply());
}

void TrayBusService::perform(const QString& name, const QVariantList& parameter, const QDBusMessage& call)
{
    call.setDelayedReply(true);
    std::variant<ActionRequest, QDBusMessage> asked = request(name, parameter, call);
    if (const auto* error = std::get_if<QDBusMessage>(&asked)) {
        answer(m_bus, *error);
        return;
    }
    // The caller may have gone by the time the action ends; the answer then finds nobody, harmlessly.
    m_gate.perform(std::get<ActionRequest>(asked), [bus = m_bus, call](const ActionOutcome& outcome) {
        if (outcome.kind == ActionOutcome::Kind::NotApplicable)
            answer(bus, call.createErrorReply(QString(kNotApplicableError), outcome.line));
        else
            answer(bus, call.createReply({outcome.kind == ActionOutcome::Kind::Done, outcome.line}));
    });
}

#include "tray_bus_service.moc"
