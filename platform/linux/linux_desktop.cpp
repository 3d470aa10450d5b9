#include "platform/linux/linux_desktop.h"

#include "platform/platform.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QProcess>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace {

const QString kPortalService = u"org.freedesktop.portal.Desktop"_s;

}  // namespace

LinuxDesktop::LinuxDesktop(const QProcessEnvironment& environment)
    : m_search{environment.value(u"PATH"_s), environment.value(u"TERMINAL"_s)}
{
}

std::optional<Command> LinuxDesktop::terminalFor(const QString& scriptPath) const
{
    // Looked up on every call: the user may install or choose a terminal while the app runs.
    return linuxTerminalCommand(scriptPath, m_search);
}

std::optional<Command> LinuxDesktop::logViewerFor(const QString&) const
{
    // There is no common log viewer for plain files; a terminal that follows the file serves everyone.
    return std::nullopt;
}

bool LinuxDesktop::startDetached(const Command& command)
{
    return QProcess::startDetached(command.program, command.arguments);
}

void LinuxDesktop::openUrl(const QUrl& url)
{
    const QString text = url.toString(QUrl::FullyEncoded);
    // Holds no reference to this object: the portal may answer after it is gone.
    const auto openWithXdgOpen = [path = m_search.path, text] {
        if (const std::optional<QString> program = findOnPath(u"xdg-open"_s, path))
            QProcess::startDetached(*program, {text});
    };
    // The portal is the desktop's own way, and the only one inside a sandbox; it is asked only when it is
    // already running, so that no portal is started just for this.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(kPortalService)) {
        openWithXdgOpen();
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, u"/org/freedesktop/portal/desktop"_s,
                                                       u"org.freedesktop.portal.OpenURI"_s, u"OpenURI"_s);
    call << QString() << text << QVariantMap();
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, [openWithXdgOpen](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        if (done->isError())
            openWithXdgOpen();
    });
}

std::unique_ptr<Desktop> makeDesktop()
{
    return std::make_unique<LinuxDesktop>(QProcessEnvironment::systemEnvironment());
}
