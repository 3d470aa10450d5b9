#include "platform/desktop.h"
#include "service/service.h"
#include "service/shell_quote.h"
#include "service/terminal_script.h"

using namespace Qt::StringLiterals;

QString Service::toolPath() const
{
    return m_home + u"/bin/kivo"_s;
}

QString Service::logPath() const
{
    return m_home + u"/logs/kivod.log"_s;
}

bool Service::openTerminal(const QString& commandLine)
{
    if (!m_setup.desktop)
        return false;
    const ScriptPlaces places = m_setup.temporaryDirectory.isEmpty()
        ? scriptPlacesFromEnvironment()
        : ScriptPlaces{.temporary = m_setup.temporaryDirectory};
    // Failures are silent, but a terminal is only ever started on a script that was written.
    std::optional<TerminalScript> script = TerminalScript::write(places, commandLine);
    if (!script)
        return false;
    // A script that no terminal runs would stay behind for good.
    const std::optional<Command> terminal = m_setup.desktop->terminalFor(script->path());
    if (!terminal) {
        script->remove();
        Q_EMIT terminalMissing();
        return false;
    }
    if (!m_setup.desktop->startDetached(*terminal)) {
        script->remove();
        return false;
    }
    return true;
}

bool Service::open(const NeedsYou& entry)
{
    // `run` is the rest of a command line that the agent itself wrote into its status record, so it reaches
    // the shell as it stands.
    if (entry.run)
        return openTerminal(shellQuote(toolPath()) + u" agent --on this watch "_s + *entry.run);
    if (!entry.session)
        return false;
    // "=" makes tmux take the session of exactly this name, never one whose name merely begins with it.
    QString command = u"tmux attach -t "_s + shellQuote(u'=' + *entry.session);
    // The escaped semicolon reaches tmux, which takes it as the boundary between its two commands.
    if (entry.window)
        command += u" \\; select-window -t "_s + shellQuote(*entry.window);
    return openTerminal(command);
}

QString Service::installCommand() const
{
    // The install endpoint is the root of the download host that also serves the release manifests: no
    // path, not even a "/".
    const QString root = m_setup.releaseBase.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment
                                                      | QUrl::RemoveUserInfo).toString();
    return u"sh -c 'curl -fsSL "_s + root + u" | sh; exec $SHELL'"_s;
}

bool Service::install()
{
    return openTerminal(installCommand());
}

bool Service::openDashboard()
{
    return openTerminal(shellQuote(toolPath()));
}

void Service::getBar()
{
    if (m_barUpdate && m_setup.desktop)
        m_setup.desktop->openUrl(m_barUpdate->url);
}

bool Service::showLog()
{
    if (!m_setup.desktop)
        return false;
    // -F keeps following when the log does not exist yet or the agent starts a new one.
    if (const std::optional<Command> viewer = m_setup.desktop->logViewerFor(logPath()))
        return m_setup.desktop->startDetached(*viewer);
    return openTerminal(u"tail -n 200 -F "_s + shellQuote(logPath()));
}
