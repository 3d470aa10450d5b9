#include "cli/command_line.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QStringList words(const char* text)
{
    return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}

// The problem a wrong command line is refused with; empty for one that is not wrong.
QString problem(const Command& command)
{
    const auto* wrong = std::get_if<command::Wrong>(&command);
    return wrong ? wrong->problem : QString();
}

}  // namespace

TEST(CommandLine, TellsTheTrayHelpVersionAndActionsApart)
{
    struct Case { const char* arguments; Command expected; };
    const Case cases[] = {
        {"", command::Tray{}},
        {"--help", command::Help{}},
        {"-h pause", command::Help{}},
        {"pause -v", command::Version{}},
        {"pause", command::Act{{u"pause"_s}}},
        {"resume", command::Act{{u"resume"_s}}},
        {"set-up", command::Act{{u"set-up"_s}}},
        {"update", command::Act{{u"update"_s}}},
        {"dashboard", command::Act{{u"dashboard"_s}}},
        {"log", command::Act{{u"log"_s}}},
        {"quit", command::Act{{u"quit"_s}}},
        {"open-session 2", command::Act{{u"open-session"_s, u"2"_s}}},
        {"open-session s-0123456789ab", command::Act{{u"open-session"_s, u"s-0123456789ab"_s}}},
        {"-- pause", command::Act{{u"pause"_s}}},
        {"toggle", command::Act{{u"toggle"_s}}},
        {"--notify pause", command::Act{.words = {u"pause"_s}, .notify = true}},
        {"help", command::Help{}},
        {"status", command::Status{}},
        {"status --json --watch", command::Status{{.format = StatusFormat::Json, .watch = true}}},
        {"--format waybar status", command::Status{{.format = StatusFormat::Waybar}}},
        {"wait-online", command::WaitOnline{}},
        {"wait-online --timeout 0", command::WaitOnline{std::chrono::milliseconds(0)}},
        {"wait-online --timeout 2.5", command::WaitOnline{std::chrono::milliseconds(2500)}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseCommandLine(words(c.arguments)), c.expected) << c.arguments;
}

TEST(CommandLine, RefusesWrongUsageInOneLine)
{
    struct Case { const char* arguments; QString expected; };
    const Case cases[] = {
        {"frob", u"unknown action 'frob'"_s},
        {"status now", u"unexpected argument 'now'"_s},
        {"help me", u"unexpected argument 'me'"_s},
        {"wait-online --timeout -1", u"--timeout takes a number of seconds from 0 to 86400"_s},
        {"wait-online --timeout soon", u"--timeout takes a number of seconds from 0 to 86400"_s},
        {"pause --timeout 3", u"--timeout goes with wait-online"_s},
        {"--notify", u"--notify goes with an action"_s},
        {"Pause", u"unknown action 'Pause'"_s},
        {"pause now", u"unexpected argument 'now'"_s},
        {"open-session", u"open-session needs the session's place in the \"Needs you\" list (1 for the first) or its id"_s},
        {"open-session 0", u"'0' is neither a place in the \"Needs you\" list (1 is the first session) nor a session's id"_s},
        {"open-session two", u"'two' is neither a place in the \"Needs you\" list (1 is the first session) nor a session's id"_s},
        {"open-session 1 2", u"unexpected argument '2'"_s},
        {"--json", u"--json goes with --status or status"_s},
        {"--watch pause", u"--watch goes with --status or status"_s},
        {"--bogus", u"Unknown option 'bogus'."_s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(problem(parseCommandLine(words(c.arguments))), c.expected) << c.arguments;
}

TEST(StatusOptionsTest, ReadTheFormatAndWatchWhereverTheyStand)
{
    using Format = StatusFormat;
    struct Case { const char* arguments; std::variant<StatusOptions, QString> expected; };
    const QString noFormat = u"--format takes text, json, waybar, i3blocks or polybar"_s;
    const Case cases[] = {
        {"--status", StatusOptions{}},
        {"--status --json", StatusOptions{.format = Format::Json}},
        {"--json --status --watch", StatusOptions{.format = Format::Json, .watch = true}},
        {"--status --format waybar --watch", StatusOptions{.format = Format::Waybar, .watch = true}},
        {"--status --format=json", StatusOptions{.format = Format::Json}},
        {"--status --format i3blocks --watch", StatusOptions{.format = Format::I3blocks, .watch = true}},
        {"--status --format=polybar", StatusOptions{.format = Format::Polybar}},
        {"--status --json --format text", StatusOptions{.format = Format::Text}},
        {"--status --bogus stray", StatusOptions{}},
        {"--status --format", noFormat},
        {"--status --format yaml", noFormat},
        {"--status --format=", noFormat},
    };
    for (const Case& c : cases)
        EXPECT_EQ(statusOptions(words(c.arguments)), c.expected) << c.arguments;
}
