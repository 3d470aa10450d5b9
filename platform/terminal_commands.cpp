#include "platform/terminal_commands.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

/// How one terminal is told to run a program: the arguments that go before it.
struct KnownTerminal {
    QLatin1StringView name;
    QLatin1StringView option;  // empty when the program follows the terminal's own options directly
};

// In the order they are tried when the user has chosen nothing. xfce4-terminal's -e takes one string that
// it splits itself, so it gets -x; gnome-terminal has deprecated -e in favour of "--".
constexpr KnownTerminal kKnownTerminals[] = {
    {"gnome-terminal"_L1, "--"_L1},
    {"konsole"_L1, "-e"_L1},
    {"xfce4-terminal"_L1, "-x"_L1},
    {"kitty"_L1, {}},
    {"alacritty"_L1, "-e"_L1},
    {"foot"_L1, {}},
    {"xterm"_L1, "-e"_L1},
};

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

Command runIn(const QString& terminal, QLatin1StringView option, const QString& scriptPath)
{
    if (option.isEmpty())
        return {terminal, {scriptPath}};
    return {terminal, {QString(option), scriptPath}};
}

/// $TERMINAL runs the script in its own way when it is a terminal we know, else with the usual -e.
Command userTerminal(const QString& terminal, const QString& scriptPath)
{
    const QString name = QFileInfo(terminal).fileName();
    for (const KnownTerminal& known : kKnownTerminals) {
        if (name == known.name)
            return runIn(terminal, known.option, scriptPath);
    }
    return runIn(terminal, "-e"_L1, scriptPath);
}

std::optional<QString> resolveUserTerminal(const QString& terminal, const QString& path)
{
    if (terminal.isEmpty())
        return std::nullopt;
    if (QDir::isAbsolutePath(terminal))
        return isExecutableFile(terminal) ? std::optional(terminal) : std::nullopt;
    // A relative path would be taken against whatever our working directory happens to be.
    if (terminal.contains(u'/'))
        return std::nullopt;
    return findOnPath(terminal, path);
}

}  // namespace

Command macosTerminalCommand(const QString& scriptPath)
{
    return {u"/usr/bin/open"_s, {u"-a"_s, u"Terminal"_s, scriptPath}};
}

Command macosLogViewerCommand(const QString& logPath)
{
    return {u"/usr/bin/open"_s, {u"-a"_s, u"Console"_s, logPath}};
}

std::optional<QString> findOnPath(const QString& name, const QString& path)
{
    // Empty and relative entries would mean the working directory, which is not the user's choice of
    // programs; they are skipped rather than searched.
    for (const QString& directory : path.split(u':', Qt::SkipEmptyParts)) {
        if (!QDir::isAbsolutePath(directory))
            continue;
        const QString candidate = directory + u'/' + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<Command> linuxTerminalCommand(const QString& scriptPath, const TerminalSearch& search)
{
    if (const std::optional<QString> launcher = findOnPath(u"xdg-terminal-exec"_s, search.path))
        return Command{*launcher, {scriptPath}};
    if (const std::optional<QString> terminal = resolveUserTerminal(search.terminal, search.path))
        return userTerminal(*terminal, scriptPath);
    // Debian policy obliges every x-terminal-emulator to take the program and its arguments after -e.
    if (const std::optional<QString> debian = findOnPath(u"x-terminal-emulator"_s, search.path))
        return Command{*debian, {u"-e"_s, scriptPath}};
    for (const KnownTerminal& known : kKnownTerminals) {
        if (const std::optional<QString> terminal = findOnPath(QString(known.name), search.path))
            return runIn(*terminal, known.option, scriptPath);
    }
    return std::nullopt;
}
