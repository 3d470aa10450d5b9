#include "linux_desktop.h"

#include "platform.h"

#include <QProcess>

using namespace Qt::StringLiterals;

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

std::unique_ptr<Desktop> makeDesktop()
{
    return std::make_unique<LinuxDesktop>(QProcessEnvironment::systemEnvironment());
}
