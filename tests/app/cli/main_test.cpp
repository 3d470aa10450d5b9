#include "program_run.h"
#include "test_files.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
    EXPECT_TRUE(help.out.startsWith("Usage: kivobar [--status]\n")) << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("--status")) << help.out.toStdString();
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
        {{u"stray"_s}, "kivobar: unexpected argument 'stray'"},
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
}
