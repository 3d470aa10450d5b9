#include "platform/terminal_commands.h"
#include "test_files.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString kScript = u"/run/user/1000/kivo-0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9.command"_s;

TEST(MacosCommands, OpenTheScriptInTerminalAndTheLogInConsole)
{
    EXPECT_EQ(macosTerminalCommand(kScript), (Command{u"/usr/bin/open"_s, {u"-a"_s, u"Terminal"_s, kScript}}));
    EXPECT_EQ(macosLogViewerCommand(u"/Users/u/.kivo/logs/kivod.log"_s),
              (Command{u"/usr/bin/open"_s, {u"-a"_s, u"Console"_s, u"/Users/u/.kivo/logs/kivod.log"_s}}));
}

/// A file put in place for one case; "$ROOT" in paths stands for the case's own directory.
struct Installed {
    const char* path;
    bool executable = true;
};

struct Case {
    const char* what;
    std::vector<Installed> installed;
    const char* terminal;                 // the TERMINAL value
    const char* program;                  // nullptr when no terminal is expected
    QStringList arguments;
};

QString atRoot(const QTemporaryDir& root, const char* path)
{
    return QString::fromUtf8(path).replace(u"$ROOT"_s, root.path());
}

void check(const Case& c)
{
    SCOPED_TRACE(c.what);
    QTemporaryDir root;
    for (const Installed& file : c.installed)
        writeFile(atRoot(root, file.path), "#!/bin/sh\nexit 0\n", file.executable ? 0755 : 0644);
    // An empty entry in the middle and one at the end: neither may stand for the working directory.
    const TerminalSearch search{atRoot(root, "$ROOT/bin1::$ROOT/bin2:"), atRoot(root, c.terminal)};
    const std::optional<Command> command = linuxTerminalCommand(kScript, search);
    if (!c.program) {
        EXPECT_EQ(command, std::nullopt);
        return;
    }
    EXPECT_EQ(command, (Command{atRoot(root, c.program), c.arguments}));
}

TEST(LinuxTerminalCommand, PrefersTheUsersChoiceOverDebiansOverTheKnownList)
{
    const QStringList bare = {kScript};
    const QStringList dashE = {u"-e"_s, kScript};
    for (const Case& c : std::vector<Case>{
             {"the standard launcher wins over everything",
              {{"$ROOT/bin2/xdg-terminal-exec"}, {"$ROOT/bin1/kitty"}, {"$ROOT/bin1/x-terminal-emulator"},
               {"$ROOT/bin1/xterm"}},
              "kitty", "$ROOT/bin2/xdg-terminal-exec", bare},
             {"$TERMINAL by name wins over Debian's choice",
              {{"$ROOT/bin2/myterm"}, {"$ROOT/bin1/x-terminal-emulator"}}, "myterm", "$ROOT/bin2/myterm", dashE},
             {"$TERMINAL as an absolute path outside PATH",
              {{"$ROOT/elsewhere/myterm"}, {"$ROOT/bin1/x-terminal-emulator"}}, "$ROOT/elsewhere/myterm",
              "$ROOT/elsewhere/myterm", dashE},
             {"$TERMINAL naming a known terminal runs it that terminal's way",
              {{"$ROOT/bin1/gnome-terminal"}}, "gnome-terminal", "$ROOT/bin1/gnome-terminal",
              {u"--"_s, kScript}},
             {"$TERMINAL as the absolute path of a known terminal",
              {{"$ROOT/elsewhere/kitty"}}, "$ROOT/elsewhere/kitty", "$ROOT/elsewhere/kitty", bare},
             {"$TERMINAL that is not installed is passed over",
              {{"$ROOT/bin1/x-terminal-emulator"}}, "myterm", "$ROOT/bin1/x-terminal-emulator", dashE},
             {"$TERMINAL that is not executable is passed over",
              {{"$ROOT/elsewhere/myterm", false}, {"$ROOT/bin1/x-terminal-emulator"}},
              "$ROOT/elsewhere/myterm", "$ROOT/bin1/x-terminal-emulator", dashE},
             {"Debian's choice wins over the known list",
              {{"$ROOT/bin2/x-terminal-emulator"}, {"$ROOT/bin1/gnome-terminal"}}, "",
              "$ROOT/bin2/x-terminal-emulator", dashE},
             {"an earlier PATH directory wins", {{"$ROOT/bin1/xterm"}, {"$ROOT/bin2/xterm"}}, "",
              "$ROOT/bin1/xterm", dashE},
             {"a file that is not executable is skipped",
              {{"$ROOT/bin1/gnome-terminal", false}, {"$ROOT/bin2/konsole"}}, "", "$ROOT/bin2/konsole", dashE},
             {"a directory is not a terminal", {{"$ROOT/bin1/xterm/file"}, {"$ROOT/bin2/foot"}}, "",
              "$ROOT/bin2/foot", bare},
             {"nothing installed", {}, "", nullptr, {}},
             {"only files that cannot run", {{"$ROOT/bin1/xterm", false}}, "", nullptr, {}},
         })
        check(c);
}

TEST(LinuxTerminalCommand, TriesTheKnownTerminalsInOrderEachInItsOwnWay)
{
    struct Known { const char* path; QStringList arguments; };
    const std::vector<Known> known = {
        {"$ROOT/bin1/gnome-terminal", {u"--"_s, kScript}},
        {"$ROOT/bin2/konsole", {u"-e"_s, kScript}},
        {"$ROOT/bin1/xfce4-terminal", {u"-x"_s, kScript}},
        {"$ROOT/bin2/kitty", {kScript}},
        {"$ROOT/bin1/alacritty", {u"-e"_s, kScript}},
        {"$ROOT/bin2/foot", {kScript}},
        {"$ROOT/bin1/xterm", {u"-e"_s, kScript}},
    };
    // With the terminals from the i-th onwards installed, the i-th is chosen.
    for (size_t first = 0; first < known.size(); ++first) {
        Case c{known[first].path, {}, "", known[first].path, known[first].arguments};
        for (size_t i = first; i < known.size(); ++i)
            c.installed.push_back({known[i].path});
        check(c);
    }
}

TEST(LinuxTerminalCommand, NeverLooksInTheWorkingDirectory)
{
    QTemporaryDir root;
    writeFile(root.filePath(u"xterm"_s), "#!/bin/sh\n", 0755);
    writeFile(root.filePath(u"bin/xterm"_s), "#!/bin/sh\n", 0755);
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(root.path()));
    for (const TerminalSearch& search : {TerminalSearch{u":bin:.::"_s, u""_s}, TerminalSearch{u""_s, u"bin/xterm"_s},
                                         TerminalSearch{u""_s, u"./xterm"_s}})
        EXPECT_EQ(linuxTerminalCommand(kScript, search), std::nullopt) << search.path.toStdString();
    EXPECT_EQ(findOnPath(u"xterm"_s, u"bin:"_s + root.filePath(u"bin"_s)), root.filePath(u"bin/xterm"_s));
    QDir::setCurrent(previous);
}

}  // namespace
