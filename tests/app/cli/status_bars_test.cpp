#include "cli/status_bars.h"
#include "program_run.h"
#include "qt_printers.h"
#include "status_records.h"
#include "test_files.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QJsonObject parsed(const QByteArray& line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    return document.object();
}

const NeedsYou kCoder{.agent = u"coder"_s, .where = u"repo-a"_s};
const NeedsYou kReviewer{.agent = u"reviewer"_s, .where = u"docs"_s, .detail = u"approve the intro?"_s};

}  // namespace

TEST(BarLook, NamesTheStateAndTheWaitingSessionsTogether)
{
    struct Case { const char* what; TrayState tray; BarLook expected; };
    const QStringList online{u"online"_s};
    const Case cases[] = {
        {"not set up", {.state = Reach::notSetUp()},
         {u"Not set up"_s, u"Not set up"_s, u"#babdb6"_s, {u"notSetUp"_s}, u"notSetUp"_s, false}},
        {"paused", {.state = Reach::stopped()},
         {u"Paused"_s, u"Paused"_s, u"#babdb6"_s, {u"stopped"_s}, u"stopped"_s, false}},
        {"connecting", {.state = Reach::connecting()},
         {u"Connecting\u2026"_s, u"Connecting\u2026"_s, u"#fce94f"_s, {u"connecting"_s}, u"connecting"_s, false}},
        {"online", {.state = Reach::online({u"eu-1"_s}, 1)},
         {u"Online"_s, u"Online"_s, u"#8ae234"_s, online, u"online"_s, false}},
        {"online, a session waits", {.state = Reach::online({u"eu-1"_s}, 1), .needsYou = {kCoder}},
         {u"Online \u00b7 1 session needs you"_s, u"Online \u00b7 1"_s, u"#fcaf3e"_s, {u"online"_s, u"needsYou"_s},
          u"online-needsYou"_s, true}},
        {"connecting, two sessions wait", {.state = Reach::connecting(), .needsYou = {kCoder, kReviewer}},
         {u"Connecting\u2026 \u00b7 2 sessions need you"_s, u"Connecting\u2026 \u00b7 2"_s, u"#fcaf3e"_s,
          {u"connecting"_s, u"needsYou"_s}, u"connecting-needsYou"_s, true}},
        {"not set up, a session waits", {.state = Reach::notSetUp(), .needsYou = {kCoder}},
         {u"Not set up \u00b7 1 session needs you"_s, u"Not set up \u00b7 1"_s, u"#fcaf3e"_s,
          {u"notSetUp"_s, u"needsYou"_s}, u"notSetUp-needsYou"_s, true}},
        {"paused, starting after a failure, a session waits",
         {.state = Reach::stopped(), .needsYou = {kCoder}, .busy = u"Starting\u2026"_s, .message = u"error: x"_s},
         {u"Paused \u00b7 Starting\u2026 \u00b7 1 session needs you"_s, u"Paused \u00b7 1"_s, u"#ef2929"_s,
          {u"stopped"_s, u"needsYou"_s, u"busy"_s, u"failed"_s}, u"stopped-needsYou"_s, true}},
    };
    for (const Case& c : cases) {
        const BarLook look = barLook(c.tray);
        EXPECT_EQ(look.text, c.expected.text) << c.what;
        EXPECT_EQ(look.shortText, c.expected.shortText) << c.what;
        EXPECT_EQ(look.color, c.expected.color) << c.what;
        EXPECT_EQ(look.classes, c.expected.classes) << c.what;
        EXPECT_EQ(look.alt, c.expected.alt) << c.what;
        EXPECT_EQ(look.urgent, c.expected.urgent) << c.what;
    }
}

TEST(BarLines, GiveTheLookInEachBarsOwnForm)
{
    const TrayState waiting{.state = Reach::online({u"eu-1"_s}, 1), .hasRecord = true, .agentVersion = u"1.4.2"_s,
                            .needsYou = {kCoder}};
    const QJsonObject waybar = parsed(waybarJson(waiting));
    EXPECT_EQ(waybar.keys(), (QStringList{u"alt"_s, u"class"_s, u"text"_s, u"tooltip"_s}));
    EXPECT_EQ(waybar.value(u"text"_s).toString(), u"Online \u00b7 1 session needs you"_s);
    EXPECT_EQ(waybar.value(u"class"_s).toArray(), QJsonArray({u"online"_s, u"needsYou"_s}));
    EXPECT_EQ(waybar.value(u"alt"_s).toString(), u"online-needsYou"_s);

    EXPECT_EQ(i3blocksJson(waiting),
              u"{\"full_text\":\"Online \u00b7 1 session needs you\",\"short_text\":\"Online \u00b7 1\","
              "\"color\":\"#fcaf3e\",\"markup\":\"none\",\"urgent\":\"true\",\"urgent\":true}\n"_s.toUtf8());
    EXPECT_EQ(i3blocksJson({.state = Reach::stopped()}),
              "{\"full_text\":\"Paused\",\"short_text\":\"Paused\",\"color\":\"#babdb6\",\"markup\":\"none\","
              "\"urgent\":\"false\",\"urgent\":false}\n");

    EXPECT_EQ(polybarLine(waiting), u"%{F#fcaf3e}Online \u00b7 1 session needs you%{F-}\n"_s.toUtf8());
    EXPECT_EQ(polybarLine({.state = Reach::online({u"eu-1"_s}, 1), .busy = u"50% done"_s}),
              u"%{F#8ae234}Online \u00b7 50%\u2060 done%{F-}\n"_s.toUtf8());
}

// The texts of the agent and of the file the tray publishes, in every place a bar may show them.
TEST(BarLines, ShowHostileTextsAsPlainTextOfBoundedSize)
{
    struct Case { const char* what; QString text; };
    const Case cases[] = {
        {"polybar tags", u"50% %{A1:touch /tmp/kivo-clicked:}click%{A} %%{F#ff0000}"_s},
        {"markup", u"a & b <b>bold</b> &amp; <span foreground='red'>"_s},
        {"quotes and backslashes", u"say \"hi\" \\n \\\\ \\u0041"_s},
        {"controls", u"\u001b[2J\u0007bell\r\nnext\tline\u0085\u007f"_s},
        {"direction marks", u"\u202eevil\u2066x\u2069\u200f"_s},
        {"line separators", u"one\u2028two\u2029three"_s},
        {"a lone surrogate", u"x"_s + QChar(0xd800) + u"y"_s},
        {"a huge text", QString(200'000, u'x')},
        {"one character with countless marks", u"a"_s + QString(100'000, QChar(0x0301))},
    };
    static const QRegularExpression bareAmpersand(u"&(?!amp;|lt;|gt;)"_s);
    for (const Case& c : cases) {
        TrayState tray{.state = Reach::online({u"eu-1"_s}, 1), .hasRecord = true, .agentVersion = c.text,
                       .needsYou = {{.agent = c.text, .where = c.text, .detail = c.text}}};
        tray.busy = c.text;
        tray.message = c.text;
        const QByteArray waybar = waybarJson(tray);
        const QByteArray i3blocks = i3blocksJson(tray);
        const QByteArray polybar = polybarLine(tray);
        for (const QByteArray& line : {waybar, i3blocks, polybar}) {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString decoded = utf8(line);
            EXPECT_FALSE(utf8.hasError()) << c.what;
            EXPECT_EQ(line.indexOf('\n'), line.size() - 1) << c.what << ": one line";
            EXPECT_FALSE(std::any_of(line.begin(), line.end() - 1, [](char b) { return uchar(b) < 0x20; })) << c.what;
            for (const char16_t mark : {u'\u202e', u'\u2066', u'\u2069', u'\u200f'})
                EXPECT_FALSE(decoded.contains(QChar(mark))) << c.what;
            EXPECT_LT(line.size(), 64 * 1024) << c.what;
        }

        const QJsonObject object = parsed(waybar);
        EXPECT_FALSE(object.value(u"text"_s).toString().contains(u'<')) << c.what;
        EXPECT_FALSE(object.value(u"text"_s).toString().contains(bareAmpersand)) << c.what;
        EXPECT_FALSE(object.value(u"tooltip"_s).toString().contains(u'<')) << c.what;
        EXPECT_FALSE(object.value(u"tooltip"_s).toString().contains(bareAmpersand)) << c.what;

        // i3blocks 1.4 reads a line of at most 2 KiB and undoes no escape.
        EXPECT_FALSE(i3blocks.contains('\\')) << c.what << ": " << i3blocks.toStdString();
        EXPECT_LT(i3blocks.size(), 1024) << c.what;
        EXPECT_TRUE(parsed(i3blocks).value(u"full_text"_s).toString().startsWith(u"Online \u00b7 "_s)) << c.what;

        EXPECT_EQ(polybar.count("%{"), 2) << c.what << ": " << polybar.toStdString();
        EXPECT_TRUE(polybar.startsWith("%{F#ef2929}") && polybar.endsWith("%{F-}\n")) << c.what;
        EXPECT_LT(polybar.size(), 1024) << c.what;
    }
}

TEST(WaybarLine, EscapesTheMarkupOfTheTooltip)
{
    const TrayState waiting{.state = Reach::online({u"eu-1"_s}, 1), .hasRecord = true, .agentVersion = u"1.4.2"_s,
                            .needsYou = {{.agent = u"coder"_s, .where = u"<b>repo & co</b>"_s}}};
    const TrayState failedPause{.state = Reach::online({u"eu-1"_s}, 1), .busy = u"Stopping\u2026"_s,
                                .message = u"error: a < b"_s};
    EXPECT_EQ(parsed(waybarJson(waiting)).value(u"tooltip"_s).toString(),
              u"Reachable from your devices \u00b7 via eu-1\n1 device connected \u00b7 Kivo 1.4.2\n"
              "1 session needs you:\n  coder \u00b7 &lt;b&gt;repo &amp; co&lt;/b&gt;"_s);
    EXPECT_EQ(parsed(waybarJson(failedPause)).value(u"tooltip"_s).toString(),
              u"Reachable from your devices \u00b7 via eu-1\nStopping\u2026\nerror: a &lt; b"_s);
}

// The program prints each bar's line for what the agent home tells, once.
TEST(BarLines, PrintedByTheProgramForAnAgentHome)
{
    QTemporaryDir dir;
    const QString home = dir.path();
    writeFile(home + u"/bin/kivo"_s, "#!/bin/sh\n", 0755);
    writeStatusFile(home, StatusRecord{.needsYou = R"([{"agent": "coder", "where": "repo-a"}])"}.json());
    QProcessEnvironment env;
    env.insert(u"KIVO_HOME"_s, home);
    struct Case { const char* format; QByteArray expected; };
    const Case cases[] = {
        {"i3blocks", u"{\"full_text\":\"Online \u00b7 1 session needs you\",\"short_text\":\"Online \u00b7 1\","
                     "\"color\":\"#fcaf3e\",\"markup\":\"none\",\"urgent\":\"true\",\"urgent\":true}\n"_s.toUtf8()},
        {"polybar", u"%{F#fcaf3e}Online \u00b7 1 session needs you%{F-}\n"_s.toUtf8()},
    };
    for (const Case& c : cases) {
        const ProgramRun run = runProgram(QStringLiteral(KIVOBAR_EXECUTABLE),
                                          {u"--status"_s, u"--format"_s, QString::fromLatin1(c.format)}, env);
        EXPECT_EQ(run.exitCode, 0) << c.format;
        EXPECT_EQ(run.error, "") << c.format;
        EXPECT_EQ(run.out, c.expected) << c.format;
    }
}
