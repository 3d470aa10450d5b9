#include "test_files.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

struct Outcome {
    int exitCode = -1;
    QByteArray out;
    QByteArray error;
};

// Runs `program` with the arguments in an environment with no display and no session bus.
Outcome run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"DBUS_SESSION_BUS_ADDRESS"_s, u"XDG_RUNTIME_DIR"_s})
        environment.remove(name);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(20'000)) << arguments.join(u' ').toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

const QString kProgram = QStringLiteral(KIVOBAR_EXECUTABLE);

}  // namespace

TEST(CommandLine, ExplainsItselfAndSaysItsVersion)
{
    const Outcome help = run(kProgram, {u"--help"_s});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: kivobar [--status]\n")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--status")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("KIVO_HOME")) << help.out.toStdString();
    EXPECT_TRUE(help.error.isEmpty());
    EXPECT_EQ(run(kProgram, {u"-h"_s}).out, help.out);

    const Outcome version = run(kProgram, {u"--version"_s});
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
        {{u"stray"_s}, "kivobar: unexpected argument 'stray'"},
    };
    for (const Case& c : cases) {
        const Outcome refused = run(kProgram, c.arguments);
        EXPECT_EQ(refused.exitCode, 2) << c.arguments.join(u' ').toStdString();
        EXPECT_EQ(refused.error, c.firstLine + "\nTry 'kivobar --help' for more information.\n");
        EXPECT_TRUE(refused.out.isEmpty());
    }
}

TEST(CommandLine, StatusWinsWhereverItStands)
{
    QTemporaryDir home;
    qputenv("KIVO_HOME", QFile::encodeName(home.path()));
    const Outcome status = run(kProgram, {u"--bogus"_s, u"--status"_s});
    qunsetenv("KIVO_HOME");
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_EQ(status.out, "state: notSetUp\n");
    EXPECT_TRUE(status.error.isEmpty());
}

TEST(CommandLine, TheTraySaysInOneLineThatItNeedsASessionBus)
{
    const Outcome tray = run(kProgram, {});
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
    const Outcome tray = run(program, {});
    EXPECT_EQ(tray.exitCode, 1);
    EXPECT_TRUE(tray.error.startsWith("kivobar: cannot start the tray: no kivobar-tray beside ")) << tray.error.toStdString();
    EXPECT_EQ(tray.error.count('\n'), 1);
}
