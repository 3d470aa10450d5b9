#include "service.h"
#include "shell_quote.h"
#include "terminal_script.h"

#include "desktop.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUuid>
#include <QtGlobal>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr QFileDevice::Permissions kOwnerOnly =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

constexpr QFileDevice::Permissions kGroupOrOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup
    | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

}  // namespace

QByteArray terminalScriptText(const QString& commandLine)
{
    // The script removes itself before anything else can fail, and `exec` makes the command the window's
    // own process, so nothing is left behind when it ends.
    return u"#!/bin/sh\nrm -f \"$0\"\nexec "_s.toUtf8() + commandLine.toUtf8() + '\n';
}

QString terminalScriptName()
{
    return u"kivo-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u".command"_s;
}

bool writeTerminalScript(const QString& path, const QString& commandLine)
{
    // A QTemporaryFile is created owner-only (0600, whatever the umask) and, on Linux, without a name at all;
    // QSaveFile would create it 0666 less the umask. The execute bit is added through the open descriptor,
    // and the name appears only once the text is complete, so no other user ever gets a moment to read or
    // change the script that a terminal is about to run.
    QTemporaryFile file(path + u".XXXXXX"_s);
    if (!file.open() || !file.setPermissions(kOwnerOnly))
        return false;
    const QByteArray text = terminalScriptText(commandLine);
    if (file.write(text) != text.size() || !file.flush())
        return false;
    // Refuses an existing file at `path` rather than replacing it.
    if (!file.rename(path))
        return false;
    file.setAutoRemove(false);
    return true;
}

QString userTemporaryDirectory(const QString& runtimeDirectory)
{
    // The runtime directory is the user's own for the login session; it is only trusted when it really is
    // private, since a script in it is about to be executed.
    if (!runtimeDirectory.isEmpty() && QDir::isAbsolutePath(runtimeDirectory)) {
        const QFileInfo info(runtimeDirectory);
        if (info.isDir() && info.ownerId() == ::geteuid() && !(info.permissions() & kGroupOrOthers))
            return runtimeDirectory;
    }
    return QDir::tempPath();
}

QString userTemporaryDirectory()
{
    return userTemporaryDirectory(qEnvironmentVariable("XDG_RUNTIME_DIR"));
}

QString Service::toolPath() const
{
    return m_home + u"/bin/kivo"_s;
}

QString Service::logPath() const
{
    return m_home + u"/logs/kivod.log"_s;
}

void Service::openTerminal(const QString& commandLine)
{
    if (!m_setup.desktop)
        return;
    const QString directory =
        m_setup.temporaryDirectory.isEmpty() ? userTemporaryDirectory() : m_setup.temporaryDirectory;
    // Absolute, because some terminals run the script from a server process with a different working directory.
    const QString path = QDir(directory).absoluteFilePath(terminalScriptName());
    // Failures are silent: a script that could not be written is still handed to the terminal, which then
    // shows the user that it is missing.
    writeTerminalScript(path, commandLine);
    if (const std::optional<Command> terminal = m_setup.desktop->terminalFor(path))
        m_setup.desktop->startDetached(*terminal);
}

void Service::open(const NeedsYou& entry)
{
    // `run` is the rest of a command line that the agent itself wrote into its status record, so it reaches
    // the shell as it stands.
    if (entry.run) {
        openTerminal(shellQuote(toolPath()) + u" agent --on this watch "_s + *entry.run);
        return;
    }
    if (!entry.session)
        return;
    // "=" makes tmux take the session of exactly this name, never one whose name merely begins with it.
    QString command = u"tmux attach -t "_s + shellQuote(u'=' + *entry.session);
    // The escaped semicolon reaches tmux, which takes it as the boundary between its two commands.
    if (entry.window)
        command += u" \\; select-window -t "_s + shellQuote(*entry.window);
    openTerminal(command);
}

void Service::showLog()
{
    if (!m_setup.desktop)
        return;
    // -F keeps following when the log does not exist yet or the agent starts a new one.
    if (const std::optional<Command> viewer = m_setup.desktop->logViewerFor(logPath()))
        m_setup.desktop->startDetached(*viewer);
    else
        openTerminal(u"tail -n 200 -F "_s + shellQuote(logPath()));
}
