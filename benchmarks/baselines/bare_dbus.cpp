// The yardstick for the resident tray's memory: a QtCore and QtDBus program that owns a bus name and
// reads the agent's status file every 3 seconds, and does nothing else.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QTimer>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!QDBusConnection::sessionBus().registerService(QStringLiteral("io.kivo.BareBaseline")))
        return 1;
    const QString status = qEnvironmentVariable("KIVO_HOME") + QStringLiteral("/run/status.json");
    QTimer timer;
    QByteArray last;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QFile file(status);
        if (file.open(QIODevice::ReadOnly))
            last = file.readAll();
    });
    timer.start(3000);
    return QCoreApplication::exec();
}
