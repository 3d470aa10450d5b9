#include "fake_desktop.h"
#include "fake_platform.h"
#include "login_toggle.h"
#include "menu_content.h"
#include "service.h"
#include "test_files.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// One line per shown row, so a whole menu compares at once: "text:…", "button:…", "(disabled)" and
// "[x]" marks, "---" for dividers, the shortcut in parentheses.
std::vector<QString> shown(const std::vector<MenuRow>& rows)
{
    std::vector<QString> lines;
    for (const MenuRow& row : rows) {
        if (!row.shown)
            continue;
        switch (row.kind) {
        case MenuRow::Kind::Divider: lines.push_back(u"---"_s); continue;
        case MenuRow::Kind::Text: lines.push_back(u"text:"_s + row.label); continue;
        case MenuRow::Kind::Button: lines.push_back(u"button:"_s + row.label); break;
        case MenuRow::Kind::Toggle: lines.push_back((row.checked.value_or(false) ? u"[x] "_s : u"[ ] "_s) + row.label); break;
        }
        if (!row.enabled)
            lines.back() += u" (disabled)"_s;
        if (!row.shortcut.isEmpty())
            lines.back() += u" ("_s + row.shortcut + u')';
    }
    return lines;
}

const MenuRow& row(const std::vector<MenuRow>& rows, const QString& id)
{
    static const MenuRow none;
    const auto found = std::find_if(rows.begin(), rows.end(), [&id](const MenuRow& r) { return r.id == id; });
    EXPECT_NE(found, rows.end()) << id.toStdString();
    return found == rows.end() ? none : *found;
}

const std::vector<QString> kTail = {u"button:Open the dashboard"_s, u"button:Show the log"_s,
                                    u"[ ] Open at login"_s, u"---"_s, u"button:Quit Kivo Bar (Ctrl+Q)"_s};

std::vector<QString> withTail(std::vector<QString> head)
{
    head.insert(head.end(), kTail.begin(), kTail.end());
    return head;
}

class MenuContentTest : public testing::Test {
protected:
    enum class Agent { Missing, NotSetUp, Stopped, Connecting, Online };

    // Lays out the agent home so that the first refresh finds `agent`, then creates the model.
    void start(Agent agent, const QByteArray& needsYou = {}, qint64 clients = 2, const char* relays = R"(["eu-1"])")
    {
        if (agent != Agent::Missing)
            writeFile(m_home + u"/bin/kivo"_s, m_tool, 0755);
        if (agent == Agent::Stopped || agent == Agent::Connecting || agent == Agent::Online)
            writeFile(m_home + u"/host"_s, "");
        if (agent == Agent::Connecting || agent == Agent::Online || !needsYou.isNull()) {
            const qint64 pid = agent == Agent::Stopped ? 0 : QCoreApplication::applicationPid();
            writeFile(m_home + u"/run/status.json"_s,
                      "{\"pid\": " + QByteArray::number(pid) + R"(, "name": "n", "version": "1.4.2", "updated_at": ")"
                          + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + "\", \"relays\": "
                          + (agent == Agent::Connecting ? "[]" : relays) + ", \"clients\": " + QByteArray::number(clients)
                          + ", \"needs_you\": " + (needsYou.isNull() ? "null" : needsYou) + "}");
        }
        m_service = std::make_unique<Service>(ServiceSetup{.home = m_home, .desktop = &m_desktop, .http = &m_http,
                                                           .releaseBase = QUrl(u"https://releases.test"_s),
                                                           .appVersion = u"1.0.0"_s,
                                                           .temporaryDirectory = m_scripts.path()});
        m_toggle = std::make_unique<LoginToggle>(m_loginItem, *m_service);
        m_menu = std::make_unique<MenuContent>(*m_service, *m_toggle, MenuContent::Platform{
            .openUrl = [this](const QUrl& url) { m_opened.push_back(url); },
            .quit = [this] { ++m_quits; },
            .isExecutable = [this](const QString& path) {
                ++m_toolTests;
                return QFileInfo(path).isExecutable();
            },
            .installBase = u"https://get.kivo.test"_s});
    }

    // The last line of the newest terminal script: what the terminal window would run.
    QString terminalCommand() const
    {
        if (m_desktop.started.empty())
            return {};
        QFile script(m_desktop.started.back().arguments.value(0));
        if (!script.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(script.readAll()).split(u'\n', Qt::SkipEmptyParts).value(2);
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_scripts;
    QString m_home = m_dir.path() + u"/it's home/.kivo"_s;
    QByteArray m_tool = "#!/bin/sh\nexit 0\n";
    FakeDesktop m_desktop;
    FakeHttpClient m_http;
    FakeLoginItem m_loginItem;
    std::unique_ptr<Service> m_service;
    std::unique_ptr<LoginToggle> m_toggle;
    std::unique_ptr<MenuContent> m_menu;
    std::vector<QUrl> m_opened;
    int m_quits = 0;
    int m_toolTests = 0;
};

}  // namespace

TEST_F(MenuContentTest, ShowsTheRowsOfEachState)
{
    struct Case { Agent agent; qint64 clients; const char* relays; std::vector<QString> expected; };
    const Case cases[] = {
        {Agent::Missing, 2, "", withTail({u"text:Kivo isn't set up on this computer"_s, u"---"_s,
                                          u"button:Set up this computer\u2026 (disabled)"_s, u"button:Install Kivo\u2026"_s})},
        {Agent::NotSetUp, 2, "", withTail({u"text:Kivo isn't set up on this computer"_s, u"---"_s,
                                           u"button:Set up this computer\u2026"_s})},
        {Agent::Stopped, 2, "", withTail({u"text:Kivo is paused: this computer is unreachable"_s, u"---"_s,
                                          u"button:Resume Kivo"_s})},
        {Agent::Connecting, 2, "", withTail({u"text:Kivo is connecting\u2026"_s, u"---"_s, u"button:Pause Kivo"_s})},
        {Agent::Online, 1, R"(["eu-1"])", withTail({u"text:Reachable from your devices \u00b7 via eu-1"_s,
                                                    u"text:1 device connected \u00b7 Kivo 1.4.2"_s, u"---"_s,
                                                    u"button:Pause Kivo"_s})},
        {Agent::Online, 0, R"(["a", "b"])", withTail({u"text:Reachable from your devices \u00b7 via a, b"_s,
                                                      u"text:0 devices connected \u00b7 Kivo 1.4.2"_s, u"---"_s,
                                                      u"button:Pause Kivo"_s})},
        {Agent::Online, 2, R"(["eu-1"])", withTail({u"text:Reachable from your devices \u00b7 via eu-1"_s,
                                                    u"text:2 devices connected \u00b7 Kivo 1.4.2"_s, u"---"_s,
                                                    u"button:Pause Kivo"_s})},
    };
    for (const Case& c : cases) {
        QDir(m_dir.path()).removeRecursively();
        start(c.agent, QByteArray(), c.clients, c.relays);
        EXPECT_EQ(shown(m_menu->rows()), c.expected) << int(c.agent) << " clients " << c.clients;
    }
}

TEST_F(MenuContentTest, LooksAtTheToolOnlyWhileNotSetUp)
{
    start(Agent::Online);
    m_menu->rows();
    EXPECT_EQ(m_toolTests, 0);

    QFile::remove(m_home + u"/bin/kivo"_s);
    m_service->refresh();
    m_menu->rows();
    EXPECT_EQ(m_toolTests, 2) << "once for the set-up row, once for the install row";
}

TEST_F(MenuContentTest, ShowsBusyThenMessageAndDisablesSetUpWhileBusy)
{
    // A tool that holds its step until the test lets it go.
    const QString release = m_dir.path() + u"/release"_s;
    m_tool = "#!/bin/sh\nwhile [ ! -e '" + release.toUtf8() + "' ]; do sleep 0.02; done\n";
    start(Agent::NotSetUp);
    m_service->runSteps({{u"Starting\u2026"_s, {u"up"_s}}});
    ASSERT_TRUE(waitUntil([this] { return m_service->busy().has_value(); }));
    m_service->setMessage(u"Couldn't reach the relay"_s);
    m_toolTests = 0;

    EXPECT_EQ(shown(m_menu->rows()),
              withTail({u"text:Kivo isn't set up on this computer"_s, u"text:Starting\u2026"_s,
                        u"text:Couldn't reach the relay"_s, u"---"_s, u"button:Set up this computer\u2026 (disabled)"_s}));
    EXPECT_EQ(m_toolTests, 1) << "the set-up row does not look at the tool while busy";

    writeFile(release, "");
    EXPECT_TRUE(waitUntil([this] { return !m_service->busy(); }));
}

TEST_F(MenuContentTest, ListsWaitingSessionsWithTheirDetailCut)
{
    const QString sixtyOne = QString(61, u'x');
    // "e" with a combining acute accent: 2 code units, 1 character.
    const QString combined = QString(u"e\u0301"_s).repeated(61);
    const QByteArray entries = R"([
        {"agent": "coder", "where": "repo-a"},
        {"agent": "coder", "where": "repo-b", "detail": ""},
        {"agent": "writer", "where": "docs", "detail": ")" + sixtyOne.toUtf8() + R"("},
        {"agent": "writer", "where": "docs", "detail": ")" + combined.toUtf8() + R"("},
        {"agent": "coder", "where": "repo-a"}
    ])";
    start(Agent::Stopped, entries);

    const std::vector<MenuRow> rows = m_menu->rows();
    const std::vector<QString> lines = shown(rows);
    const std::vector<QString> expected = {
        u"text:Kivo is paused: this computer is unreachable"_s, u"---"_s, u"text:Needs you"_s,
        u"button:coder \u00b7 repo-a"_s, u"button:coder \u00b7 repo-b \u2014 "_s,
        u"button:writer \u00b7 docs \u2014 "_s + QString(60, u'x'),
        u"button:writer \u00b7 docs \u2014 "_s + QString(u"e\u0301"_s).repeated(60), u"button:coder \u00b7 repo-a"_s,
        u"---"_s, u"button:Resume Kivo"_s};
    EXPECT_EQ(std::vector<QString>(lines.begin(), lines.begin() + qsizetype(expected.size())), expected);

    QSet<QString> ids;
    for (const MenuRow& r : rows)
        ids.insert(r.id);
    EXPECT_EQ(ids.size(), qsizetype(rows.size())) << "equal entries still get rows of their own";
}

TEST_F(MenuContentTest, LeavesOutTheSessionSectionWhenNobodyWaits)
{
    for (const QByteArray& entries : {QByteArray("[]"), QByteArray("null")}) {
        QDir(m_dir.path()).removeRecursively();
        start(Agent::Online, entries);
        const std::vector<QString> lines = shown(m_menu->rows());
        EXPECT_EQ(std::count(lines.begin(), lines.end(), u"---"_s), 2) << entries.constData();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), u"text:Needs you"_s), 0) << entries.constData();
    }
}

TEST_F(MenuContentTest, OffersBothUpdatesAgentFirst)
{
    m_http.responses[u"/latest.json"_s] = HttpResponse{200, R"({"version": "1.5.0"})"};
    m_http.responses[u"/bar/latest.json"_s] =
        HttpResponse{200, R"({"version": "2.0.0", "url": "https://get.kivo.test/bar.tar.gz"})"};
    start(Agent::Online);
    ASSERT_TRUE(waitUntil([this] { return m_service->barUpdate().has_value(); }));

    const std::vector<QString> lines = shown(m_menu->rows());
    const auto update = std::find(lines.begin(), lines.end(), u"button:Update to Kivo 1.5.0"_s);
    ASSERT_NE(update, lines.end());
    EXPECT_EQ(*(update + 1), u"button:Get Kivo Bar 2.0.0\u2026"_s);
    EXPECT_EQ(*(update + 2), u"button:Open the dashboard"_s);
}

TEST_F(MenuContentTest, EachRowCallsItsOperation)
{
    const QString calls = m_dir.path() + u"/calls"_s;
    m_tool = "#!/bin/sh\necho \"$*\" >> '" + calls.toUtf8() + "'\n";
    m_http.responses[u"/bar/latest.json"_s] =
        HttpResponse{200, R"({"version": "2.0.0", "url": "https://get.kivo.test/bar"})"};
    start(Agent::Online, R"([{"agent": "coder", "where": "repo-a", "run": "r-1"}])");
    ASSERT_TRUE(waitUntil([this] { return m_service->barUpdate().has_value(); }));
    const std::vector<MenuRow> rows = m_menu->rows();
    const QString tool = u"'"_s + m_dir.path() + uR"(/it'\''s home/.kivo/bin/kivo')"_s;

    // Steps run against the real (recording) tool; a run is over when it clears `busy`.
    int runsEnded = 0;
    QObject::connect(m_service.get(), &Service::changed, [&](Service::Property p) {
        runsEnded += p == Service::Property::Busy && !m_service->busy();
    });
    const auto runAndRead = [&](const QString& id) {
        QFile::remove(calls);
        const int before = runsEnded;
        row(rows, id).action();
        EXPECT_TRUE(waitUntil([&] { return runsEnded > before; }));
        QFile file(calls);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    EXPECT_EQ(runAndRead(u"set-up"_s), u"login --browser\nup\n"_s);
    EXPECT_EQ(runAndRead(u"resume"_s), u"up\n"_s);
    EXPECT_EQ(runAndRead(u"pause"_s), u"down\n"_s);
    EXPECT_EQ(runAndRead(u"update"_s), u"update\n"_s);

    struct Case { QString id; QString command; };
    const Case terminalCases[] = {
        {u"install"_s, u"exec sh -c 'curl -fsSL https://get.kivo.test | sh; exec $SHELL'"_s},
        {u"dashboard"_s, u"exec "_s + tool},
        {rows[6].id, u"exec "_s + tool + u" agent --on this watch r-1"_s},
        {u"log"_s, u"exec tail -n 200 -F '"_s + m_dir.path() + uR"(/it'\''s home/.kivo/logs/kivod.log')"_s},
    };
    for (const Case& c : terminalCases) {
        row(rows, c.id).action();
        EXPECT_EQ(terminalCommand(), c.command) << c.id.toStdString();
    }

    row(rows, u"get-bar"_s).action();
    EXPECT_EQ(m_opened, std::vector{QUrl(u"https://get.kivo.test/bar"_s)});
    row(rows, u"at-login"_s).action();
    EXPECT_EQ(m_loginItem.requests, std::vector{true});
    EXPECT_TRUE(m_menu->rows().at(rows.size() - 3).checked.value_or(false));
    row(rows, u"quit"_s).action();
    EXPECT_EQ(m_quits, 1);
}
