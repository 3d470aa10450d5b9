#pragma once

#include "control/tray_bus_address.h"
#include "state/action_gate.h"
#include "view/action_request.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantList>

#include <optional>
#include <variant>

/// The tray on the session bus for launchers and scripts, under its agent home's own name: the freedesktop
/// org.freedesktop.Application interface (Activate shows the state, ActivateAction starts an action and
/// answers once it has started) and our io.kivo.KivoBar.Control (Check says whether an action applies now,
/// Perform answers when it has ended). Every call passes the tray's one gate; one it refuses gets an error.
/// Sends nothing unless called. Main thread only.
class TrayBusService : public QObject {
    Q_OBJECT

public:
    /// `gate` must outlive the service.
    TrayBusService(QDBusConnection bus, TrayBusAddress address, ActionGate& gate, QObject* parent = nullptr);
    /// Takes the object and the name off the bus.
    ~TrayBusService() override;

    /// Puts the object on the bus, then asks for the name. The problem, in words fit for the user, when the bus
    /// refuses either; while another process holds the name, this one waits in line for it and gets it when that
    /// process lets go.
    std::optional<QString> start();

    const TrayBusAddress& address() const { return m_address; }

    // What the interfaces' methods do, each with the call to answer.
    void activate();
    void open(const QDBusMessage& call);
    void activateAction(const QString& name, const QVariantList& parameter, const QDBusMessage& call);
    void check(const QString& name, const QVariantList& parameter, const QDBusMessage& call);
    void perform(const QString& name, const QVariantList& parameter, const QDBusMessage& call);

private:
    // The request a call makes, or the error it is answered with; nothing is answered yet.
    std::variant<ActionRequest, QDBusMessage> request(const QString& name, const QVariantList& parameter,
                                                      const QDBusMessage& call) const;

    QDBusConnection m_bus;
    TrayBusAddress m_address;
    ActionGate& m_gate;
    bool m_registered = false;
};

/// The request that an action name and its D-Bus parameter make, read as the command line reads the same words
/// (parseAction), or the error name and message to answer with: an unknown name, or a parameter the action does
/// not take (open-session takes one integer from 1, the others none). Pure.
struct BusRequestError {
    QString name;
    QString message;
};
std::variant<ActionRequest, BusRequestError> busRequest(const QString& name, const QVariantList& parameter);
