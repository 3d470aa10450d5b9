// The yardstick of a minimal Qt Widgets tray: an icon, a 7-row menu, and a 3-second timer that reads
// the agent's status file and renames the first row when the file changed (the agent rewrites it every
// 2 seconds, so every tick renames it).
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QMenu menu;
    QAction* first = menu.addAction(QStringLiteral("Reachable"));
    for (const char* label : {"Devices", "Pause", "Dashboard", "Log", "Open at login", "Quit"})
        menu.addAction(QString::fromLatin1(label));
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::darkGray);
    QSystemTrayIcon icon{QIcon(pixmap)};
    icon.setContextMenu(&menu);
    icon.show();
    const QString status = qEnvironmentVariable("KIVO_HOME") + QStringLiteral("/run/status.json");
    QByteArray last;
    int changes = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QFile file(status);
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QByteArray now = file.readAll();
        if (now != last) {
            last = now;
            first->setText(QStringLiteral("Reachable (change %1)").arg(++changes));
        }
    });
    timer.start(3000);
    return QApplication::exec();
}
