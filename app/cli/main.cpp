// kivobar: prints the agent's state with --status, carries out an action given by name, or becomes the
// resident tray process. It links QtCore only, so that --status starts as fast as any QtCore program; what
// needs the session bus runs in a helper program this process turns into.

#include "cli/command_line.h"
#include "cli/status_dump.h"
#include "cli/status_watch.h"
#include "cli/wait_online.h"

#include <QCoreApplication>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// This program's own directory, so that its helpers are found wherever it was installed or built.
std::string executableDirectory()
{
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || size_t(length) >= path.size())
        return {};
    path.resize(size_t(length));
    return path.substr(0, path.rfind('/'));
}

// The helpers are programs of their own that this process turns into: they link QtDBus, which --status must
// not load, and one process never carries two copies of the model.
int becomeHelper(const char* name, const char* what, char** argv)
{
    const std::string directory = executableDirectory();
    // Beside this program in the build tree; in the helpers' folder once installed.
    const std::string candidates[] = {directory + "/" + name,
                                      directory + "/" KIVOBAR_HELPERS_FROM_BINARIES "/" + name};
    for (const std::string& candidate : candidates) {
        if (directory.empty() || ::access(candidate.c_str(), X_OK) != 0)
            continue;
        ::execv(candidate.c_str(), argv);
        std::fprintf(stderr, "kivobar: cannot start %s %s: %s\n", what, candidate.c_str(), std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "kivobar: cannot start %s: no %s beside %s or in %s/%s\n", what, name, directory.c_str(),
                 directory.c_str(), KIVOBAR_HELPERS_FROM_BINARIES);
    return 1;
}

int runTray(char** argv)
{
    return becomeHelper("kivobar-tray", "the tray", argv);
}

// kivobar-act takes --notify, when asked for, and then the action's words.
int runAction(const command::Act& act)
{
    std::vector<QByteArray> encoded{"kivobar-act"};
    if (act.notify)
        encoded.push_back("--notify");
    const QStringList& words = act.words;
    for (const QString& word : words)
        encoded.push_back(word.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return becomeHelper("kivobar-act", "the action", argv.data());
}

QString usage()
{
    return uR"(Usage: kivobar [--status [--json | --format FORMAT] [--watch]]
       kivobar status [--json | --format FORMAT] [--watch]
       kivobar wait-online [--timeout SECONDS]
       kivobar [--notify] ACTION
       kivobar help

Shows whether this computer is reachable from your other devices through the Kivo agent, as an
icon with a menu in the desktop's tray. It reads the agent's home folder every 3 seconds and never
talks to the agent itself. Started while it runs, it shows the state as a notification.

Options:
  --status       Print the agent's state, version, devices and waiting sessions once, then exit.
  --json         With --status: print one JSON object (docs: kivobar(1), kivobar-status.schema.json).
  --format FORMAT  With --status: text (the default), json, or the line of a status bar's module:
                 waybar, i3blocks or polybar.
  --watch        With --status: print again each time the state changes, until stopped.
  --notify       With an action: say a refusal or failure in a desktop notification as well (for
                 launchers, whose menus show no standard error).
  -h, --help     Print this help and exit.
  -v, --version  Print the version and exit.

Commands:
  status         As --status.
  wait-online    Wait until this computer is reachable: exit 0 as soon as it is, 1 when --timeout
                 SECONDS (30 unless given; 0 looks once) pass first.
  help           Print this help.

Actions, carried out by the running tray when there is one, so that its menu shows them:
  pause          Stop the agent.
  resume         Start the agent.
  toggle         Pause when running, resume when paused.
  set-up         Approve this computer in the browser, then start the agent.
  update         Update the agent to its newest release.
  dashboard      Open the agent's dashboard in a terminal.
  log            Show the agent's log.
  open-session ID|N
                 Open the session with that id (see --json), or the N-th of the "Needs you" list
                 (1 is the first).
  quit           Quit the running tray.

Exit status of an action: 0 done, 1 failed (its last line is on standard error), 2 wrong usage,
3 the action does not apply now (pause while paused, update with none available, ...).

Environment:
  KIVO_HOME      The agent's home folder; ~/.kivo when unset or empty.
)"_s;
}

}  // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments += QString::fromLocal8Bit(argv[i]);

    // Scripts read --status, so it is honoured wherever it stands, before anything else is looked at.
    if (wantsStatusDump(argc, argv)) {
        const std::variant<StatusOptions, QString> options = statusOptions(arguments);
        if (const QString* problem = std::get_if<QString>(&options)) {
            std::fprintf(stderr, "kivobar: %s\nTry 'kivobar --help' for more information.\n", qPrintable(*problem));
            return 2;
        }
        const StatusOptions& chosen = std::get<StatusOptions>(options);
        if (chosen == StatusOptions{})
            return runStatusDump(argc, argv);
        return runStatusOutput(argc, argv, chosen);
    }

    const Command command = parseCommandLine(arguments);
    if (std::holds_alternative<command::Help>(command)) {
        std::fputs(qPrintable(usage()), stdout);
        return 0;
    }
    if (std::holds_alternative<command::Version>(command)) {
        std::printf("kivobar %s\n", KIVOBAR_VERSION);
        return 0;
    }
    if (const auto* wrong = std::get_if<command::Wrong>(&command)) {
        std::fprintf(stderr, "kivobar: %s\nTry 'kivobar --help' for more information.\n", qPrintable(wrong->problem));
        return 2;
    }
    if (const auto* status = std::get_if<command::Status>(&command)) {
        if (status->options == StatusOptions{})
            return runStatusDump(argc, argv);
        return runStatusOutput(argc, argv, status->options);
    }
    if (const auto* wait = std::get_if<command::WaitOnline>(&command))
        return waitOnline(argc, argv, wait->timeout);
    if (const auto* act = std::get_if<command::Act>(&command))
        return runAction(*act);
    return runTray(argv);
}
