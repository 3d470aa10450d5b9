#include "fake_desktop.h"
#include "platform/terminal_commands.h"
#include "qt_printers.h"
#include "service/service.h"
#include "service/shell_quote.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr QByteArrayView kScriptHead = "#!/bin/sh\nrm -f \"$0\"\nexec ";

class ServiceActions : public testing::Test {
protected:
    std::unique_ptr<Service> makeService(const QString& home = u"/Users/u/.kivo"_s)
    {
        return std::make_unique<Service>(
            ServiceSetup{.home = home, .desktop = &m_desktop, .temporaryDirectory = m_scripts.path()});
    }

    /// The script path of the one terminal that was started.
    QString onlyScript() const
    {
        if (m_desktop.started.size() != 1 || m_desktop.started[0].program != u"/fake/terminal"_s
            || m_desktop.started[0].arguments.size() != 1) {
            ADD_FAILURE() << "expected exactly one terminal, got " << m_desktop.started.size() << " commands";
            return {};
        }
        return m_desktop.started[0].arguments[0];
    }

    /// The command line the one started terminal runs, read back from its script.
    QString onlyCommand() const
    {
        const QByteArray text = readWholeFile(onlyScript());
        if (!text.startsWith(kScriptHead) || !text.endsWith('\n')) {
            ADD_FAILURE() << "not a terminal script: " << text.toStdString();
            return {};
        }
        return QString::fromUtf8(text.sliced(kScriptHead.size(), text.size() - kScriptHead.size() - 1));
    }

    QTemporaryDir m_scripts;
    FakeDesktop m_desktop;
};

using OpenTerminal = ServiceActions;

TEST_F(OpenTerminal, WritesTheCommandUnchangedIntoAScriptForTheTerminal)
{
    struct Case { QString command; QByteArray expected; };
    const auto service = makeService();
    for (const Case& c : {
             Case{u"tmux attach -t '=main'"_s, "#!/bin/sh\nrm -f \"$0\"\nexec tmux attach -t '=main'\n"},
             Case{u""_s, "#!/bin/sh\nrm -f \"$0\"\nexec \n"},
             Case{u"printf '%s' \"$HOME\" \\\\ `id` · …"_s,
                  "#!/bin/sh\nrm -f \"$0\"\nexec printf '%s' \"$HOME\" \\\\ `id` \xC2\xB7 \xE2\x80\xA6\n"},
         }) {
        m_desktop.started.clear();
        service->openTerminal(c.command);
        const QString path = onlyScript();
        EXPECT_EQ(QFileInfo(path).absolutePath(), m_scripts.path());
        EXPECT_EQ(readWholeFile(path), c.expected);
        // Nothing else is left in the directory, such as an auxiliary file of the atomic write.
        EXPECT_EQ(QDir(m_scripts.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QFileInfo(path).fileName()});
        QFile::remove(path);
    }
}

TEST_F(OpenTerminal, NamesEachScriptAfterAFreshUuid)
{
    const auto service = makeService();
    service->openTerminal(u"true"_s);
    service->openTerminal(u"true"_s);
    ASSERT_EQ(m_desktop.started.size(), 2u);
    const QString first = m_desktop.started[0].arguments.value(0);
    const QString second = m_desktop.started[1].arguments.value(0);
    const QRegularExpression name(
        u"^kivo-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.command$"_s);
    EXPECT_TRUE(name.match(QFileInfo(first).fileName()).hasMatch()) << first.toStdString();
    EXPECT_TRUE(name.match(QFileInfo(second).fileName()).hasMatch()) << second.toStdString();
    EXPECT_NE(first, second);
    EXPECT_TRUE(QFileInfo::exists(first));
    EXPECT_TRUE(QFileInfo::exists(second));
}

TEST_F(OpenTerminal, ScriptIsOwnerOnlyWhateverTheUmask)
{
    const auto service = makeService();
    for (const mode_t mask : {mode_t(0), mode_t(022), mode_t(0777)}) {
        m_desktop.started.clear();
        const UmaskGuard guard(mask);
        service->openTerminal(u"true"_s);
        EXPECT_EQ(modeOf(onlyScript()), 0700u) << "umask " << std::oct << mask;
    }
}

TEST_F(OpenTerminal, ScriptIsNeverSeenOpenToOthersWhileItIsWritten)
{
    // A watcher scans the directory as fast as it can while scripts come and go under a umask of 0; a
    // script that is created with default permissions and tightened afterwards shows up with group or
    // other bits. Passing proves nothing by itself, but a correct writer never fails here.
    const auto service = makeService();
    const UmaskGuard guard(0);
    std::atomic<bool> stop = false;
    std::set<mode_t> seen;  // the watcher's alone until it is joined
    std::thread watcher([&, directory = QFile::encodeName(m_scripts.path())] {
        while (!stop) {
            DIR* listing = ::opendir(directory.constData());
            if (!listing)
                return;
            while (const dirent* entry = ::readdir(listing)) {
                struct stat info {};
                if (::fstatat(::dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
                    && S_ISREG(info.st_mode))
                    seen.insert(info.st_mode & 07777);
            }
            ::closedir(listing);
        }
    });
    for (int i = 0; i < 300; ++i) {
        service->openTerminal(u"true"_s);
        QFile::remove(m_desktop.started.back().arguments.value(0));
    }
    stop = true;
    watcher.join();
    for (const mode_t mode : seen)
        EXPECT_EQ(mode & 077, 0u) << "seen with mode " << std::oct << mode;
}

TEST_F(OpenTerminal, ScriptRemovesItselfAndRunsTheCommand)
{
    const QString marker = m_scripts.filePath(u"it's ran"_s);
    const auto service = makeService();
    service->openTerminal(u"printf '%s' \"$0\" > "_s + shellQuote(marker));
    const QString script = onlyScript();

    // Run as a terminal runs it: the file itself, through its #! line.
    QProcess run;
    run.start(script, {});
    ASSERT_TRUE(run.waitForFinished(20'000)) << run.errorString().toStdString();
    EXPECT_EQ(run.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(run.exitCode(), 0);
    EXPECT_FALSE(QFileInfo::exists(script));
    EXPECT_EQ(readWholeFile(marker), QFile::encodeName(script));
}

TEST_F(OpenTerminal, StartsNoTerminalOnAScriptThatWasNotWritten)
{
    const QString missing = m_scripts.filePath(u"missing"_s);
    const QString open = m_scripts.filePath(u"open to others"_s);
    QDir().mkpath(open);
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 0777), 0);
    for (const QString& directory : {missing, open}) {
        const auto service = std::make_unique<Service>(
            ServiceSetup{.home = u"/Users/u/.kivo"_s, .desktop = &m_desktop, .temporaryDirectory = directory});
        service->openTerminal(u"true"_s);
        EXPECT_TRUE(m_desktop.started.empty()) << directory.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_TRUE(QDir(open).isEmpty());
}

TEST_F(OpenTerminal, RemovesTheScriptAndSaysSoWhenTheDesktopHasNoTerminal)
{
    m_desktop.hasTerminal = false;
    const auto service = makeService();
    int missing = 0;
    QObject::connect(service.get(), &Service::terminalMissing, [&missing] { ++missing; });
    EXPECT_FALSE(service->openTerminal(u"true"_s));
    EXPECT_EQ(missing, 1);
    EXPECT_TRUE(m_desktop.started.empty());
    EXPECT_TRUE(QDir(m_scripts.path()).isEmpty());

    // A terminal that could not start will never run its script either, but it was there: no signal.
    m_desktop.hasTerminal = true;
    m_desktop.startSucceeds = false;
    EXPECT_FALSE(service->openTerminal(u"true"_s));
    EXPECT_EQ(missing, 1);
    EXPECT_EQ(m_desktop.started.size(), 1u);
    EXPECT_TRUE(QDir(m_scripts.path()).isEmpty());
}

TEST_F(ServiceActions, OpenJumpsToTheRunElseTheTmuxSession)
{
    struct Case {
        const char* what;
        QString home;
        NeedsYou entry;
        std::optional<QString> expected;  // empty when no terminal may open
    };
    const QString home = u"/Users/u/.kivo"_s;
    const auto entry = [](std::optional<QString> run, std::optional<QString> session,
                          std::optional<QString> window) {
        return NeedsYou{.agent = u"coder"_s, .where = u"~/src"_s, .detail = u"asks"_s,
                        .session = std::move(session), .window = std::move(window), .run = std::move(run)};
    };
    for (const Case& c : {
             Case{"run wins over session and window", home, entry(u"r-12"_s, u"main"_s, u"2"_s),
                  u"'/Users/u/.kivo/bin/kivo' agent --on this watch r-12"_s},
             Case{"apostrophe in the home", u"/tmp/it's/.kivo"_s, entry(u"r-12"_s, {}, {}),
                  u"'/tmp/it'\\''s/.kivo/bin/kivo' agent --on this watch r-12"_s},
             Case{"run is not quoted", home, entry(u"r 1; echo '$x'"_s, {}, {}),
                  u"'/Users/u/.kivo/bin/kivo' agent --on this watch r 1; echo '$x'"_s},
             Case{"empty run counts as present", home, entry(u""_s, u"main"_s, {}),
                  u"'/Users/u/.kivo/bin/kivo' agent --on this watch "_s},
             Case{"session and window", home, entry({}, u"main"_s, u"2"_s),
                  u"tmux attach -t '=main' \\; select-window -t '2'"_s},
             Case{"session only", home, entry({}, u"main"_s, {}), u"tmux attach -t '=main'"_s},
             Case{"apostrophes in session and window", home, entry({}, u"it's"_s, u"a'b"_s),
                  u"tmux attach -t '=it'\\''s' \\; select-window -t 'a'\\''b'"_s},
             Case{"window alone", home, entry({}, {}, u"2"_s), std::nullopt},
             Case{"nothing to open", home, entry({}, {}, {}), std::nullopt},
         }) {
        SCOPED_TRACE(c.what);
        m_desktop.started.clear();
        makeService(c.home)->open(c.entry);
        if (c.expected)
            EXPECT_EQ(onlyCommand(), *c.expected);
        else
            EXPECT_TRUE(m_desktop.started.empty());
    }
}

TEST_F(ServiceActions, KeepsARelativeHomeWhereItWasAtCreation)
{
    // The terminal starts the command in a directory of its own, and the working directory may change.
    const QTemporaryDir start;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(start.path()));
    const auto service = makeService(u"rel/.kivo"_s);
    ASSERT_TRUE(QDir::setCurrent(previous));

    const QString home = start.path() + u"/rel/.kivo"_s;
    EXPECT_EQ(service->home(), home);
    EXPECT_EQ(service->toolPath(), home + u"/bin/kivo"_s);
    service->open(NeedsYou{.agent = u"coder"_s, .where = u"repo"_s, .run = u"r-1"_s});
    EXPECT_EQ(onlyCommand(), shellQuote(home + u"/bin/kivo"_s) + u" agent --on this watch r-1"_s);

    writeFile(home + u"/bin/kivo"_s, "#!/bin/sh\n", 0755);
    writeFile(home + u"/host"_s, "");
    service->refresh();
    EXPECT_EQ(service->state(), Reach::stopped()) << "the home is looked at where it was";
}

TEST_F(ServiceActions, ShowLogFollowsTheLogInATerminalWhenThereIsNoViewer)
{
    const QTemporaryDir home;
    const QString agentHome = home.filePath(u"it's/.kivo"_s);  // neither the log nor its directory exists
    makeService(agentHome)->showLog();
    EXPECT_EQ(onlyCommand(), u"tail -n 200 -F "_s + shellQuote(agentHome + u"/logs/kivod.log"_s));
}

// What the shell makes of a command line: the words it would run, each on a line of its own.
QString wordsOf(const QString& commandLine)
{
    QProcess shell;
    shell.start(u"/bin/sh"_s, {u"-c"_s, u"set -- "_s + commandLine + u"; printf '%s\\n' \"$@\""_s});
    shell.waitForFinished();
    return QString::fromUtf8(shell.readAllStandardOutput());
}

TEST_F(ServiceActions, TheDashboardRunsTheToolWhateverItsPathHolds)
{
    const QString home = m_scripts.path() + u"/it's $(touch pwned) `x` \"q\" home/.kivo"_s;
    makeService(home)->openDashboard();
    EXPECT_EQ(wordsOf(onlyCommand()), home + u"/bin/kivo\n"_s) << "one word: the tool's path, as it is";
    EXPECT_FALSE(QFile::exists(u"pwned"_s));
}

TEST_F(ServiceActions, InstallsFromTheRootOfTheDownloadHostAndLeavesTheShellOpen)
{
    const auto service = std::make_unique<Service>(ServiceSetup{.home = u"/Users/u/.kivo"_s, .desktop = &m_desktop,
                                                                .releaseBase = QUrl(u"https://get.kivo.test/releases/"_s),
                                                                .temporaryDirectory = m_scripts.path()});
    service->install();
    const QString command = onlyCommand();
    EXPECT_EQ(wordsOf(command).toStdString(), "sh\n-c\ncurl -fsSL https://get.kivo.test | sh; exec $SHELL\n");
}

TEST_F(ServiceActions, GetsTheNewerBarOnlyWhenOneIsKnown)
{
    makeService()->getBar();
    EXPECT_TRUE(m_desktop.opened.empty());
}

TEST_F(ServiceActions, ShowLogStartsTheDesktopsViewer)
{
    m_desktop.logViewer = macosLogViewerCommand;
    makeService()->showLog();
    const std::vector<Command> expected = {
        {u"/usr/bin/open"_s, {u"-a"_s, u"Console"_s, u"/Users/u/.kivo/logs/kivod.log"_s}}};
    EXPECT_EQ(m_desktop.started, expected);
    EXPECT_TRUE(QDir(m_scripts.path()).isEmpty());
}

}  // namespace
