#include "cli/status_dump.h"
#include "processes.h"
#include "program_run.h"
#include "service/reach.h"
#include "status_records.h"
#include "test_files.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Runs the real binary with no display of any kind, as a script or a login shell would.
ProgramRun dump(const QString& home, const QStringList& arguments = {u"--status"_s})
{
    QProcessEnvironment env;
    env.insert(u"KIVO_HOME"_s, home);
    return runProgram(QStringLiteral(KIVOBAR_EXECUTABLE), arguments, env);
}

class StatusDump : public testing::Test {
protected:
    void installTool() { writeFile(m_home + u"/bin/kivo"_s, "#!/bin/sh\n", 0755); }
    void writeStatus(qint64 pid, const QByteArray& relays, const QByteArray& needsYou = "[]")
    {
        writeStatusFile(m_home, StatusRecord{.pid = pid,
                                             .relays = relays.isNull() ? std::nullopt : std::optional(relays),
                                             .needsYou = needsYou}.json());
    }

    QTemporaryDir m_dir;
    QString m_home = m_dir.path();
};

}  // namespace

TEST(StatusDumpMode, IsChosenByTheExactArgumentAnywhere)
{
    struct Case { std::vector<const char*> argv; bool expected; };
    const Case cases[] = {
        {{"kivobar", "--status"}, true},
        {{"kivobar", "-v", "other", "--status"}, true},
        {{"kivobar"}, false},
        {{"kivobar", "--Status"}, false},
        {{"kivobar", "--status=1"}, false},
        {{"kivobar", "status"}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wantsStatusDump(int(c.argv.size()), c.argv.data()), c.expected) << c.argv.back();
}

TEST(StatusDumpMode, QuotesRelaysWithEscapes)
{
    EXPECT_EQ(describe(Reach::online({u"r1"_s, u"r2"_s}, 3)), uR"(online(relays: ["r1", "r2"], clients: 3))"_s);
    EXPECT_EQ(describe(Reach::notSetUp()), u"notSetUp"_s);
    EXPECT_EQ(describe(Reach::connecting()), u"connecting"_s);
    EXPECT_EQ(listForm({}), u"[]"_s);
    EXPECT_EQ(listForm({u"a\"b'c\\d"_s, u"l\nr\rt\t"_s, u"\u001b[31m\u00e9"_s}),
              uR"(["a\"b\'c\\d", "l\nr\rt\t", "\u{1B}[31m)"_s + u"\u00e9\"]"_s);
}

TEST_F(StatusDump, PrintsOneLineWithoutTheTool)
{
    writeStatus(QCoreApplication::applicationPid(), R"(["eu-1"])");
    const ProgramRun run = dump(m_home);
    EXPECT_EQ(run.out, "state: notSetUp\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.error, "");
}

TEST_F(StatusDump, PrintsTheRecordOfALiveAgent)
{
    installTool();
    const LiveChild agent;
    writeStatus(agent.pid(), R"(["eu-1"])", R"([{"agent": "coder", "where": "repo-a"},
        {"agent": "writer", "where": "docs", "detail": "review the intro", "run": "r-1"}])");
    const ProgramRun run = dump(m_home, {u"--verbose"_s, u"--status"_s});
    EXPECT_EQ(run.out,
              "state: online(relays: [\"eu-1\"], clients: 2)\n"
              "version: 1.4.2, clients: 2, relays: [\"eu-1\"]\n"
              "needs you: coder \xc2\xb7 repo-a \n"
              "needs you: writer \xc2\xb7 docs review the intro\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.error, "");
}

TEST_F(StatusDump, PrintsTheRecordEvenWhenItsProcessIsGone)
{
    installTool();
    writeStatus(reapedProcessId(), QByteArray(), R"([{"agent": "coder", "where": "repo-a", "detail": "d"}])");
    const ProgramRun run = dump(m_home);
    EXPECT_EQ(run.out,
              "state: stopped\n"
              "version: 1.4.2, clients: 2, relays: []\n"
              "needs you: coder \xc2\xb7 repo-a d\n");
    EXPECT_EQ(run.exitCode, 0);
}

// Whatever the status file holds, nothing reaches the terminal that would act on it rather than show:
// control characters and direction marks are written as escapes, everything printable as it is.
TEST_F(StatusDump, WritesNoControlCharacterOfTheStatusFileToTheTerminal)
{
    installTool();
    writeFile(m_home + u"/run/status.json"_s,
              StatusRecord{.version = R"(1.4\r2\u001b[2J)", .relays = R"(["eu\u202e1"])",
                           .needsYou = R"([{"agent": "co\u0000der", "where": "\u001b]0;pwned\u0007repo",
                                            "detail": "a\u202eb \u00e9 \\ ' \" \u0085"}])"}
                  .json());
    const ProgramRun run = dump(m_home);
    EXPECT_EQ(run.out,
              "state: online(relays: [\"eu\\u{202E}1\"], clients: 2)\n"
              "version: 1.4\\r2\\u{1B}[2J, clients: 2, relays: [\"eu\\u{202E}1\"]\n"
              "needs you: co\\0der \xc2\xb7 \\u{1B}]0;pwned\\u{7}repo a\\u{202E}b \xc3\xa9 \\ ' \" \\u{85}\n");
}

TEST_F(StatusDump, PrintsConnectingForALiveAgentWithoutRelays)
{
    installTool();
    const LiveChild agent;
    writeStatus(agent.pid(), "[]");
    EXPECT_EQ(dump(m_home).out, "state: connecting\nversion: 1.4.2, clients: 2, relays: []\n");
}

TEST_F(StatusDump, PrintsOnlyTheStateForAnUnreadableFile)
{
    installTool();
    writeFile(m_home + u"/host"_s, "");
    writeFile(m_home + u"/run/status.json"_s, "{\"pid\": 1");
    EXPECT_EQ(dump(m_home).out, "state: stopped\n");
}

TEST_F(StatusDump, ExitsZeroWhenStandardOutputIsClosedOrBroken)
{
    installTool();
    writeStatus(QCoreApplication::applicationPid(), R"(["eu-1"])");
    qputenv("KIVO_HOME", QFile::encodeName(m_home));
    const char* const argv[] = {KIVOBAR_EXECUTABLE, "--status", nullptr};

    for (const bool broken : {false, true}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ::close(fds[0]);  // nobody will ever read: writing raises SIGPIPE, then EPIPE
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (broken)
            posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        else
            posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
        pid_t pid = 0;
        ASSERT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status)) << (broken ? "broken pipe" : "closed") << " signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 0) << (broken ? "broken pipe" : "closed");
    }
    qunsetenv("KIVO_HOME");
}
