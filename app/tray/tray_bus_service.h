#pragma once

#include "tray/service_intents.h"
#include "tray/tray_bus_address.h"
#include "view/action_request.h"
#include "view/menu_row.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QVariantList>

#include <functional>
#include <optional>
#include <variant>
#include <vector>

/// The tray on the session bus for launchers and scripts, under its agent home's own name: the freedesktop
/// org.freedesktop.Application interface (Activate shows the state, ActivateAction starts an action and
/// answers at once) and our io.kivo.KivoBar.Control (Check says whether an action applies now, Perform answers
/// when it has ended). An action applies when the menu shown now offers it; otherwise the call gets an error.
/// Sends nothing unless called. Main thread only.
class TrayBusService : public QObject {
    Q_OBJECT

public:
    /// What the service asks of the tray.
    struct Tray {
        std::function<std::vector<MenuRow>()> rows;                  ///< the menu as it would show now
        std::function<void(const Intent&, const IntentDone&)> perform;  ///< TrayController::perform
    };

    TrayBusService(QDBusConnection bus, TrayBusAddress address, Tray tray, QObject* parent = nullptr);
    /// Takes the object and the name off the bus.
    ~TrayBusService() override;

    /// Puts the object on the bus, then takes the name; the reason when the bus refuses either.
    std::optional<QString> start();

    const TrayBusAddress& address() const { return m_address; }

    // What the interfaces' methods do, each with the call to answer.
    void activate();
    void open(const QDBusMessage& call);
    void activateAction(const QString& name, const QVariantList& parameter, const QDBusMessage& call);
    void check(const QString& name, const QVariantList& parameter, const QDBusMessage& call);
    void perform(const QString& name, const QVariantList& parameter, const QDBusMessage& call);

private:
    // The intent a call asks for, or the error it is answered with; nothing is answered yet.
    std::variant<Intent, QDBusMessage> resolve(const QString& name, const QVariantList& parameter,
                                               const QDBusMessage& call) const;

    QDBusConnection m_bus;
    TrayBusAddress m_address;
    Tray m_tray;
    bool m_registered = false;
};

/// The request that an action name and its D-Bus parameter make, or the error name and message to answer
/// with: an unknown name, or a parameter the action does not take (open-session takes one integer from 1,
/// the others none). Pure.
struct BusRequestError {
    QString name;
    QString message;
};
std::variant<ActionRequest, BusRequestError> busRequest(const QString& name, const QVariantList& parameter);
