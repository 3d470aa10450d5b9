#include "platform/linux/linux_desktop.h"
#include "test_files.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(LinuxDesktop, FindsTheTerminalThroughItsOwnEnvironmentAndHasNoLogViewer)
{
    QTemporaryDir root;
    writeFile(root.filePath(u"bin/xterm"_s), "#!/bin/sh\n", 0755);
    writeFile(root.filePath(u"bin/myterm"_s), "#!/bin/sh\n", 0755);
    QProcessEnvironment environment;
    environment.insert(u"PATH"_s, root.filePath(u"bin"_s));
    EXPECT_EQ(LinuxDesktop(environment).terminalFor(u"/tmp/s.command"_s),
              (Command{root.filePath(u"bin/xterm"_s), {u"-e"_s, u"/tmp/s.command"_s}}));
    environment.insert(u"TERMINAL"_s, u"myterm"_s);
    const LinuxDesktop desktop(environment);
    EXPECT_EQ(desktop.terminalFor(u"/tmp/s.command"_s),
              (Command{root.filePath(u"bin/myterm"_s), {u"-e"_s, u"/tmp/s.command"_s}}));
    EXPECT_EQ(desktop.logViewerFor(u"/home/u/.kivo/logs/kivod.log"_s), std::nullopt);
}

TEST(LinuxDesktop, StartsTheProgramWithSeparateArgumentsAndNoShell)
{
    QTemporaryDir root;
    const QString marker = root.filePath(u"arguments"_s);
    const QString program = root.filePath(u"record"_s);
    writeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"" + QFile::encodeName(marker)
                           + "\"\n", 0755);
    LinuxDesktop desktop{QProcessEnvironment()};
    ASSERT_TRUE(desktop.startDetached({program, {u"a b"_s, u"$HOME;*"_s, u""_s}}));
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(marker); }));
    EXPECT_EQ(contentsOf(marker), "a b\n$HOME;*\n\n");
    EXPECT_FALSE(desktop.startDetached({root.filePath(u"missing"_s), {}}));
}

}  // namespace
