#include "cli/wait_online.h"

#include "service/agent_home.h"
#include "service/service.h"

#include <QCoreApplication>
#include <QTimer>

int waitOnline(int argc, char** argv, std::chrono::milliseconds timeout)
{
    // Standard error is for kivobar's own lines; this command has none to say.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QCoreApplication application(argc, argv);
    // No desktop and no network: the model only reads the agent home.
    Service service(ServiceSetup{.home = agentHomeFromEnvironment()});
    const auto online = [&service] { return service.state().is(Reach::Kind::Online); };
    if (online() || timeout.count() == 0)
        return online() ? 0 : 1;
    QObject::connect(&service, &Service::changed, &application, [online](Service::Property property) {
        if (property == Service::Property::State && online())
            QCoreApplication::exit(0);
    });
    // The agent writes its record every few seconds: a look every half second answers soon after it comes online,
    // at the cost of a small read.
    QTimer looks;
    QObject::connect(&looks, &QTimer::timeout, &service, &Service::refresh);
    looks.start(500);
    QTimer::singleShot(timeout, &application, [] { QCoreApplication::exit(1); });
    return QCoreApplication::exec();
}
