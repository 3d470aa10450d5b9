#include "cli/status_json.h"
#include "view/session_id.h"
#include "processes.h"
#include "program_run.h"
#include "qt_printers.h"
#include "status_records.h"
#include "test_files.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// What the schema in docs/ finds wrong with each line (valid UTF-8, one object, the schema's rules); empty
// when nothing is.
QString schemaProblems(const QByteArray& lines)
{
    QProcess validator;
    validator.start(u"/usr/bin/python3"_s, {QStringLiteral(KIVOBAR_SOURCE_DIR "/tests/support/validate_json.py"),
                                            QStringLiteral(KIVOBAR_SOURCE_DIR "/docs/kivobar-status.schema.json")});
    validator.write(lines);
    validator.closeWriteChannel();
    if (!validator.waitForFinished(30'000))
        return u"the validator did not finish"_s;
    const QString said = QString::fromUtf8(validator.readAllStandardOutput() + validator.readAllStandardError());
    return validator.exitCode() == 0 ? QString() : said + u" in:\n"_s + QString::fromUtf8(lines);
}

QJsonObject parsed(const QByteArray& line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    return document.object();
}

const NeedsYou kWhole{.agent = u"coder"_s, .where = u"repo-a"_s, .detail = u"approve?"_s, .session = u"s1"_s,
                      .window = u"2"_s, .run = u"r-1"_s};

}  // namespace

TEST(JsonString, EscapesWhatJsonAndTerminalsWouldMisread)
{
    struct Case { QString text; QString expected; };
    const Case cases[] = {
        {u"plain \u00e9 \u2713"_s, u"\"plain \u00e9 \u2713\""_s},
        {u"a\"b\\c"_s, uR"("a\"b\\c")"_s},
        {u"\n\r\t"_s, uR"("\n\r\t")"_s},
        {u"\u001b[31m\u0000\u007f\u0085"_s, uR"("\u001b[31m\u0000\u007f\u0085")"_s},
        {u"\u2028\u2029"_s, uR"("\u2028\u2029")"_s},
        {u"\U0001F600"_s, u"\"\U0001F600\""_s},
        {QString(QChar(0xd800)) + u'x' + QChar(0xdc00), u"\"\ufffdx\ufffd\""_s},
        {QString(QChar(0xdbff)), u"\"\ufffd\""_s},
    };
    for (const Case& c : cases) {
        const QString json = jsonString(c.text);
        EXPECT_EQ(json, c.expected);
        // Whatever went in, what comes out is UTF-8 that decodes back to it.
        EXPECT_EQ(QString::fromUtf8(json.toUtf8()), json);
    }
}

// Each state that the text dump's tests cover, printed by the real program as JSON, with the reason for each.
TEST(StatusJson, PrintsEveryStateOfTheDumpWithItsReasonValidByTheSchema)
{
    QTemporaryDir dir;
    const LiveChild agent;
    const QString tool = u"/bin/kivo"_s;
    const std::vector<QString> ids = sessionIds({{.agent = u"coder"_s, .where = u"repo-a"_s},
                                                 {.agent = u"writer"_s, .where = u"docs"_s, .detail = u"review the intro"_s,
                                                  .run = u"r-1"_s}});
    int number = 0;
    struct Case {
        const char* what;
        std::function<void(const QString& home)> make;
        QByteArray expected;  // without updated_at, tray_running and kivobar_version
        bool hasRecord;
    };
    const Case cases[] = {
        {"no tool",
         [&](const QString& home) { writeStatusFile(home, StatusRecord{.pid = agent.pid()}.json()); },
         R"({"schema_version":1,"state":"notSetUp","reason":"no-tool","needs_you":[]})", false},
        {"a live agent with sessions",
         [&](const QString& home) {
             writeFile(home + tool, "#!/bin/sh\n", 0755);
             writeStatusFile(home, StatusRecord{.pid = agent.pid(), .needsYou = R"([{"agent": "coder", "where": "repo-a"},
                 {"agent": "writer", "where": "docs", "detail": "review the intro", "run": "r-1"}])"}.json());
         },
         R"({"schema_version":1,"state":"online","relays":["eu-1"],"clients":2,"agent_version":"1.4.2","needs_you":[)"
         R"({"id":")" + ids[0].toUtf8() + R"(","place":1,"agent":"coder","where":"repo-a"},)"
         R"({"id":")" + ids[1].toUtf8() + R"(","place":2,"agent":"writer","where":"docs","detail":"review the intro","run":"r-1"}]})",
         true},
        {"a record whose process is gone",
         [&](const QString& home) {
             writeFile(home + tool, "#!/bin/sh\n", 0755);
             writeStatusFile(home, StatusRecord{.pid = reapedProcessId(), .relays = std::nullopt}.json());
         },
         R"({"schema_version":1,"state":"stopped","reason":"not-running","agent_version":"1.4.2","needs_you":[]})", true},
        {"a stale record",
         [&](const QString& home) {
             writeFile(home + tool, "#!/bin/sh\n", 0755);
             writeStatusFile(home, StatusRecord{.pid = agent.pid(), .updatedAt = timestampNow() - std::chrono::minutes(2)}.json());
         },
         R"({"schema_version":1,"state":"stopped","reason":"stale","agent_version":"1.4.2","needs_you":[]})", true},
        {"a live agent without relays",
         [&](const QString& home) {
             writeFile(home + tool, "#!/bin/sh\n", 0755);
             writeStatusFile(home, StatusRecord{.pid = agent.pid(), .relays = "[]", .needsYou = "[]"}.json());
         },
         R"({"schema_version":1,"state":"connecting","reason":"no-relay","agent_version":"1.4.2","needs_you":[]})", true},
        {"an unreadable file of a set-up computer",
         [&](const QString& home) {
             writeFile(home + tool, "#!/bin/sh\n", 0755);
             writeFile(home + u"/host"_s, "");
             writeFile(home + u"/run/status.json"_s, "{\"pid\": 1");
         },
         R"({"schema_version":1,"state":"stopped","reason":"no-record","needs_you":[]})", false},
        {"no record, not set up",
         [&](const QString& home) { writeFile(home + tool, "#!/bin/sh\n", 0755); },
         R"({"schema_version":1,"state":"notSetUp","reason":"not-set-up","needs_you":[]})", false},
    };
    QByteArray printed;
    for (const Case& c : cases) {
        const QString home = dir.filePath(QString::number(++number));
        c.make(home);
        QProcessEnvironment env;
        env.insert(u"KIVO_HOME"_s, home);
        const ProgramRun run = runProgram(QStringLiteral(KIVOBAR_EXECUTABLE), {u"--status"_s, u"--json"_s}, env);
        EXPECT_EQ(run.exitCode, 0) << c.what;
        EXPECT_EQ(run.error, "") << c.what;
        QJsonObject object = parsed(run.out);
        EXPECT_EQ(object.take(u"kivobar_version"_s).toString(), QStringLiteral(KIVOBAR_VERSION)) << c.what;
        EXPECT_EQ(object.take(u"tray_running"_s), QJsonValue(false)) << c.what;
        EXPECT_EQ(object.take(u"updated_at"_s).isString(), c.hasRecord) << c.what;
        EXPECT_EQ(object, parsed(c.expected)) << c.what;
        printed += run.out;
    }
    EXPECT_EQ(schemaProblems(printed), QString());
}

TEST(StatusJson, GivesWhatOnlyATrayKnowsAndTheAgentsTextsAsTheyAre)
{
    TrayState tray{.state = Reach::online({u"eu-1"_s, u"a\"b"_s}, 3), .hasRecord = true,
                   .agentVersion = u"1.4.2\u001b[2J"_s};
    tray.needsYou = {kWhole, {.agent = u"writer"_s, .where = u"docs \u2028 <&>"_s, .run = u"r-2"_s}};
    tray.busy = u"Stopping\u2026"_s;
    tray.message = u"error: \u0007 bell"_s;
    tray.updateAvailable = u"1.5.0"_s;
    tray.barUpdate = BarUpdate{u"0.2.0"_s, QUrl(u"https://get.kivo.dev/bar/0.2.0 x.tar.gz"_s)};

    const StatusFacts facts{.updatedAt = parseInternetDateTime(u"2026-12-11T08:00:01.5Z"_s),
                            .lastError = u"relay \u001b refused"_s, .trayRunning = true, .version = u"0.1.0"_s};
    const QByteArray line = statusJson(tray, facts);
    EXPECT_EQ(line.count('\n'), 1);
    EXPECT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(schemaProblems(line + statusJson({.state = Reach::notSetUp()}, {.reason = ReachReason::NoTool})), QString());

    const QJsonObject object = parsed(line);
    EXPECT_EQ(object.value(u"relays"_s).toArray(), QJsonArray({u"eu-1"_s, u"a\"b"_s}));
    EXPECT_EQ(object.value(u"clients"_s).toInteger(), 3);
    EXPECT_EQ(object.value(u"agent_version"_s).toString(), u"1.4.2\u001b[2J"_s);
    EXPECT_EQ(object.value(u"needs_you"_s).toArray().at(0).toObject().keys(),
              (QStringList{u"agent"_s, u"detail"_s, u"id"_s, u"place"_s, u"run"_s, u"session"_s, u"where"_s, u"window"_s}));
    EXPECT_EQ(object.value(u"needs_you"_s).toArray().at(1).toObject().value(u"place"_s).toInt(), 2);
    EXPECT_EQ(object.value(u"updated_at"_s).toString(), u"2026-12-11T08:00:01.500000Z"_s);
    EXPECT_EQ(object.value(u"last_error"_s).toString(), u"relay \u001b refused"_s);
    EXPECT_EQ(object.value(u"tray_running"_s).toBool(), true);
    EXPECT_FALSE(object.contains(u"reason"_s)) << "online needs no reason";
    EXPECT_EQ(object.value(u"needs_you"_s).toArray().at(1).toObject().value(u"where"_s).toString(), u"docs \u2028 <&>"_s);
    EXPECT_EQ(object.value(u"busy"_s).toString(), u"Stopping\u2026"_s);
    EXPECT_EQ(object.value(u"message"_s).toString(), u"error: \u0007 bell"_s);
    EXPECT_EQ(object.value(u"update"_s).toString(), u"1.5.0"_s);
    EXPECT_EQ(object.value(u"bar_update"_s).toObject().value(u"url"_s).toString(),
              u"https://get.kivo.dev/bar/0.2.0%20x.tar.gz"_s);
    EXPECT_FALSE(line.contains('\x1b')) << "no byte of it acts on a terminal";
}
