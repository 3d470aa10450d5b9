#include "program_run.h"
#include "status_records.h"
#include "test_files.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

ProgramRun run(const QString& program, const QStringList& arguments)
{
    return runProgram(program, arguments);
}

const QString kProgram = QStringLiteral(KIVOBAR_EXECUTABLE);

}  // namespace

TEST(CommandLine, ExplainsItselfAndSaysItsVersion)
{
    const ProgramRun help = run(kProgram, {u"--help"_s});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: kivobar [--status ")) << help.out.toStdString();
    for (const char* named : {"--json", "--watch", "waybar", "i3blocks", "polybar", "pause", "resume", "toggle", "set-up",
                              "update", "dashboard", "log", "open-session ID|N", "quit", "status", "wait-online",
                              "--timeout", "--notify", "help", "3 the action does not apply now"})
        EXPECT_TRUE(help.out.contains(named)) << named;
    EXPECT_EQ(run(kProgram, {u"help"_s}).out, help.out);
    EXPECT_TRUE(help.out.contains("KIVO_HOME")) << help.out.toStdString();
    EXPECT_TRUE(help.error.isEmpty());
    EXPECT_EQ(run(kProgram, {u"-h"_s}).out, help.out);

    const ProgramRun version = run(kProgram, {u"--version"_s});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "kivobar " KIVOBAR_VERSION "\n");
}

TEST(CommandLine, RefusesWhatItDoesNotKnowWithOneLineAndAHint)
{
    struct Case { QStringList arguments; QByteArray firstLine; };
    const Case cases[] = {
        {{u"--bogus"_s}, "kivobar: Unknown option 'bogus'."},
        {{u"--Status"_s}, "kivobar: Unknown option 'Status'."},
        {{u"--status=1"_s}, "kivobar: Unexpected value after '--status'."},
        {{u"stray"_s}, "kivobar: unknown action 'stray'"},
        {{u"pause"_s, u"stray"_s}, "kivobar: unexpected argument 'stray'"},
        {{u"--status"_s, u"--format"_s, u"xml"_s}, "kivobar: --format takes text, json, waybar, i3blocks or polybar"},
    };
    for (const Case& c : cases) {
        const ProgramRun refused = run(kProgram, c.arguments);
        EXPECT_EQ(refused.exitCode, 2) << c.arguments.join(u' ').toStdString();
        EXPECT_EQ(refused.error, c.firstLine + "\nTry 'kivobar --help' for more information.\n");
        EXPECT_TRUE(refused.out.isEmpty());
    }
}

TEST(CommandLine, StatusWinsWhereverItStands)
{
    QTemporaryDir home;
    qputenv("KIVO_HOME", QFile::encodeName(home.path()));
    const ProgramRun status = run(kProgram, {u"--bogus"_s, u"--status"_s});
    qunsetenv("KIVO_HOME");
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_EQ(status.out, "state: notSetUp\n");
    EXPECT_TRUE(status.error.isEmpty());
}

TEST(CommandLine, TheTraySaysInOneLineThatItNeedsASessionBus)
{
    const ProgramRun tray = run(kProgram, {});
    EXPECT_EQ(tray.exitCode, 1);
    EXPECT_TRUE(tray.error.startsWith("kivobar: cannot show the tray: no session bus")) << tray.error.toStdString();
    EXPECT_EQ(tray.error.count('\n'), 1) << tray.error.toStdString();
    EXPECT_TRUE(tray.out.isEmpty());
}

TEST(CommandLine, SaysInOneLineWhenTheTrayProgramIsMissing)
{
    QTemporaryDir dir;
    const QString program = dir.path() + u"/kivobar"_s;
    ASSERT_TRUE(QFile::copy(kProgram, program));
    const ProgramRun tray = run(program, {});
    EXPECT_EQ(tray.exitCode, 1);
    EXPECT_TRUE(tray.error.startsWith("kivobar: cannot start the tray: no kivobar-tray beside ")) << tray.error.toStdString();
    EXPECT_EQ(tray.error.count('\n'), 1);
    const ProgramRun action = run(program, {u"pause"_s});
    EXPECT_EQ(action.exitCode, 1);
    EXPECT_TRUE(action.error.startsWith("kivobar: cannot start the action: no kivobar-act beside ")) << action.error.toStdString();
    EXPECT_EQ(action.error.count('\n'), 1);
}

// With no session bus there is no tray to hand an action to: kivobar runs it itself, against the stand-in agent.
TEST(Actions, RunAloneWithoutATrayAndSayHowTheyEnded)
{
    QTemporaryDir dir;
    const QString home = dir.filePath(u"kivo home"_s);
    const ProgramRun made = run(standInAgentDir() + u"/make-home"_s, {u"--set-up"_s, home});
    ASSERT_EQ(made.exitCode, 0) << made.out.toStdString();
    const QString tool = home + u"/bin/kivo"_s;
    ASSERT_EQ(run(tool, {u"up"_s}).exitCode, 0);
    QProcessEnvironment env;
    env.insert(u"KIVO_HOME"_s, home);

    struct Case { QStringList arguments; const char* failHook; int exitCode; QByteArray out; QByteArray error; };
    const Case cases[] = {
        {{u"pause"_s}, nullptr, 0, "Stopping\u2026\n", ""},
        {{u"pause"_s}, nullptr, 3, "", "kivobar: pause does not apply now: already paused\n"},
        {{u"toggle"_s}, "up", 1, "Starting\u2026\n",
         "kivobar: toggle failed: \"error: the relay refused \xef\xbf\xbd[31mus\"\n"},
        {{u"open-session"_s, u"1"_s}, nullptr, 3, "", "kivobar: open-session 1 does not apply now: 0 sessions need you\n"},
        {{u"quit"_s}, nullptr, 3, "", "kivobar: quit does not apply now: no Kivo Bar runs for the agent home "
                                      + QFile::encodeName(home) + "\n"},
        // The tests reach no network: the check that an update needs cannot be made, and that is the cause given.
        {{u"update"_s}, nullptr, 3, "", "kivobar: update does not apply now: the last release check failed: the release "
                                         "host did not answer\n"},
        {{u"open-session"_s, u"s-0123456789ab"_s}, nullptr, 3, "",
         "kivobar: open-session s-0123456789ab does not apply now: no waiting session has that id\n"},
        {{u"toggle"_s}, nullptr, 0, "Starting\u2026\n", ""},
    };
    for (const Case& c : cases) {
        if (c.failHook)
            writeFile(home + u"/fail-"_s + QString::fromLatin1(c.failHook), "error: the relay refused \x1b[31mus\n");
        const ProgramRun acted = runProgram(kProgram, c.arguments, env);
        if (c.failHook)
            QFile::remove(home + u"/fail-"_s + QString::fromLatin1(c.failHook));
        const std::string what = c.arguments.join(u' ').toStdString();
        EXPECT_EQ(acted.exitCode, c.exitCode) << what;
        EXPECT_EQ(acted.out, c.out) << what;
        EXPECT_EQ(acted.error, c.error) << what;
    }
    EXPECT_EQ(run(tool, {u"down"_s}).exitCode, 0) << "the last resume started the agent";
}

TEST(Watching, EndsAtOnceOnAnEndingSignalEvenWhileItsReaderHasStoppedReading)
{
    // A first line far larger than a pipe holds: its write blocks for good, as under a status bar that hangs.
    QTemporaryDir dir;
    const QString home = dir.filePath(u"home"_s);
    writeFile(home + u"/bin/kivo"_s, "#!/bin/sh\n", 0755);
    QByteArray sessions = "[";
    for (int i = 0; i < 3000; ++i)
        sessions += (i ? "," : "") + QByteArray(R"({"agent": "coder", "where": "~/src/repository-)") + QByteArray::number(i) + "\"}";
    writeStatusFile(home, StatusRecord{.needsYou = sessions + "]"}.json());
    const QByteArray homeVariable = "KIVO_HOME=" + QFile::encodeName(home);
    const QByteArray program = QFile::encodeName(kProgram);

    for (const int ending : {SIGTERM, SIGINT, SIGHUP}) {
        int output[2];
        ASSERT_EQ(::pipe(output), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, output[0]);
        char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--status"),
                        const_cast<char*>("--watch"), const_cast<char*>("--json"), nullptr};
        char* envp[] = {const_cast<char*>(homeVariable.constData()), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, envp), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(output[1]);

        // Stalled: the pipe is full and nobody reads it.
        ASSERT_TRUE(waitUntil([&] {
            QFile stat(u"/proc/%1/wchan"_s.arg(pid));
            return stat.open(QIODevice::ReadOnly) && stat.readAll().contains("pipe");
        })) << "the watch blocks in its write";
        ::kill(pid, ending);
        int status = -1;
        const bool ended = waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
        EXPECT_TRUE(ended) << "signal " << ending;
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "signal " << ending << ", status " << status;
        ::close(output[0]);
    }
}

TEST(WaitOnline, AnswersAtOnceOrAsSoonAsTheStateIsOnlineAndGivesUpAtItsTime)
{
    QTemporaryDir dir;
    const QString home = dir.filePath(u"home"_s);
    writeFile(home + u"/bin/kivo"_s, "#!/bin/sh\n", 0755);
    writeFile(home + u"/host"_s, "");
    QProcessEnvironment env;
    env.insert(u"KIVO_HOME"_s, home);

    struct Case { const char* what; std::optional<QByteArray> relays; int exitCode; };
    const Case cases[] = {{"online", QByteArray(R"(["eu-1"])"), 0}, {"connecting", QByteArray("[]"), 1},
                          {"no record", std::nullopt, 1}};
    for (const Case& c : cases) {
        QFile::remove(home + u"/run/status.json"_s);
        if (c.relays)
            writeStatusFile(home, StatusRecord{.relays = *c.relays}.json());
        const ProgramRun looked = runProgram(kProgram, {u"wait-online"_s, u"--timeout"_s, u"0"_s}, env);
        EXPECT_EQ(looked.exitCode, c.exitCode) << c.what;
        EXPECT_EQ(looked.out + looked.error, "") << c.what;
    }

    // Waiting: the agent comes online while it waits.
    QFile::remove(home + u"/run/status.json"_s);
    QProcess waiting;
    waiting.setProcessEnvironment([&] { QProcessEnvironment e = QProcessEnvironment::systemEnvironment(); e.insert(u"KIVO_HOME"_s, home); return e; }());
    waiting.start(kProgram, {u"wait-online"_s, u"--timeout"_s, u"60"_s});
    ASSERT_TRUE(waiting.waitForStarted());
    EXPECT_FALSE(waiting.waitForFinished(300)) << "not online yet";
    writeStatusFile(home, StatusRecord{}.json());
    ASSERT_TRUE(waiting.waitForFinished(30'000));
    EXPECT_EQ(waiting.exitCode(), 0);

    // And it gives up when its time has passed.
    QFile::remove(home + u"/run/status.json"_s);
    EXPECT_EQ(runProgram(kProgram, {u"wait-online"_s, u"--timeout"_s, u"0.5"_s}, env).exitCode, 1);
}
