// kivobar: prints the agent's state with --status, or becomes the resident tray process. It links
// QtCore only, so that --status starts as fast as any QtCore program.

#include "cli/status_dump.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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

// The tray is a program of its own that this process turns into: it links QtDBus, which --status
// must not load, and one process never carries two copies of the model.
int runTray(char** argv)
{
    const std::string directory = executableDirectory();
    // Beside this program in the build tree; in the helpers' folder once installed.
    const std::string candidates[] = {directory + "/kivobar-tray",
                                      directory + "/" KIVOBAR_HELPERS_FROM_BINARIES "/kivobar-tray"};
    for (const std::string& candidate : candidates) {
        if (directory.empty() || ::access(candidate.c_str(), X_OK) != 0)
            continue;
        ::execv(candidate.c_str(), argv);
        std::fprintf(stderr, "kivobar: cannot start the tray %s: %s\n", candidate.c_str(), std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "kivobar: cannot start the tray: no kivobar-tray beside %s or in %s/%s\n",
                 directory.c_str(), directory.c_str(), KIVOBAR_HELPERS_FROM_BINARIES);
    return 1;
}

QString usage()
{
    return uR"(Usage: kivobar [--status]

Shows whether this computer is reachable from your other devices through the Kivo agent, as an
icon with a menu in the desktop's tray. It reads the agent's home folder every 3 seconds and never
talks to the agent itself.

Options:
  --status       Print the agent's state, version, devices and waiting sessions once, then exit.
  -h, --help     Print this help and exit.
  -v, --version  Print the version and exit.

Environment:
  KIVO_HOME      The agent's home folder; ~/.kivo when unset or empty.
)"_s;
}

}  // namespace

int main(int argc, char** argv)
{
    // Scripts read --status, so it is honoured wherever it stands, before anything else is looked at.
    if (wantsStatusDump(argc, argv))
        return runStatusDump(argc, argv);

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments += QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{u"h"_s, u"help"_s});
    const QCommandLineOption version(QStringList{u"v"_s, u"version"_s});
    const QCommandLineOption status(u"status"_s);
    parser.addOptions({help, version, status});
    const bool parsed = parser.parse(arguments);
    if (parsed && parser.isSet(help)) {
        std::fputs(qPrintable(usage()), stdout);
        return 0;
    }
    if (parsed && parser.isSet(version)) {
        std::printf("kivobar %s\n", KIVOBAR_VERSION);
        return 0;
    }
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString problem = parsed ? u"unexpected argument '%1'"_s.arg(parser.positionalArguments().constFirst())
                                       : parser.errorText();
        std::fprintf(stderr, "kivobar: %s\nTry 'kivobar --help' for more information.\n", qPrintable(problem));
        return 2;
    }
    return runTray(argv);
}
