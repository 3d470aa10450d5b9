#include "fake_desktop.h"
#include "fake_notifier.h"
#include "fake_platform.h"
#include "fetch/process_http_client.h"
#include "http_test_server.h"
#include "menu_rows.h"
#include "status_records.h"
#include "test_files.h"
#include "tray/tray_controller.h"
#include "view/tray_view.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// Records what it is shown; lets the test pick rows as a panel would.
class FakeTrayView : public TrayView {
public:
    void show(const TrayLook& look, const std::vector<MenuRow>& rows) override { shows.push_back({look, rows}); }

    void pick(const QString& id) const { picked(rowWithId(shows.back().rows, id).intent); }

    const MenuRow* row(const QString& id) const { return &rowWithId(shows.back().rows, id); }

    struct Shown {
        TrayLook look;
        std::vector<MenuRow> rows;
    };
    std::vector<Shown> shows;
};

// The fetch helpers this process has started that are still running.
int runningFetchHelpers()
{
    int running = 0;
    const QString parent = QString::number(QCoreApplication::applicationPid());
    for (const QString& pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        QFile stat(u"/proc/"_s + pid + u"/stat"_s);
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name may hold blanks, so it is read up to its last parenthesis.
        const QByteArray text = stat.readAll();
        const qsizetype close = text.lastIndexOf(')');
        const QList<QByteArray> after = text.mid(close + 2).split(' ');
        running += text.contains("(kivobar-fetch)") && after.size() > 1 && after[1] == parent.toLatin1();
    }
    return running;
}

class TrayControllerTest : public testing::Test {
protected:
    void SetUp() override
    {
        writeFile(m_home + u"/bin/kivo"_s, "#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/../calls\"\n", 0755);
        writeFile(m_home + u"/host"_s, "");
        writeStatus(R"(["eu-1"])");
    }

    void writeStatus(const QByteArray& relays, Timestamp updatedAt = timestampNow())
    {
        writeStatusFile(m_home, StatusRecord{.updatedAt = updatedAt, .relays = relays, .clients = 1}.json());
    }

    void start()
    {
        m_bar = std::make_unique<TrayController>(ServiceSetup{.home = m_home, .desktop = &m_desktop, .http = &m_http,
                                                       .temporaryDirectory = m_scripts.path()},
                                                 platform(), m_view);
        ASSERT_TRUE(waitUntil([this] { return !m_view.shows.empty(); }));
    }

    TrayController::Platform platform() { return {m_loginItem, m_notifier, m_settings, m_ledger}; }

    // Lets every posted update run.
    void settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    QTemporaryDir m_dir;
    QTemporaryDir m_scripts;
    QString m_home = m_dir.path() + u"/.kivo"_s;
    FakeDesktop m_desktop;
    FakeHttpClient m_http;
    FakeLoginItem m_loginItem;
    FakeNotifier m_notifier;
    QSettings m_settings{m_dir.path() + u"/settings.ini"_s, QSettings::IniFormat};
    FakeTrayView m_view;
    std::chrono::milliseconds m_now{1'000'000};
    ActionLedger m_ledger{std::nullopt, m_home, [this] { return m_now; }};
    std::unique_ptr<TrayController> m_bar;
};

}  // namespace

TEST_F(TrayControllerTest, TellsTheViewOnlyWhenSomethingTheUserSeesChanged)
{
    start();
    ASSERT_EQ(m_view.shows.size(), 1u);
    EXPECT_EQ(m_view.shows.back().look.iconName, u"kivobar-online-symbolic"_s);
    EXPECT_EQ(m_view.shows.back().rows.front().label, u"Reachable from your devices \u00b7 via eu-1"_s);

    // The agent rewrites its record with a new time only: nothing to show.
    writeStatus(R"(["eu-1"])", timestampNow() + std::chrono::seconds(1));
    m_bar->service().refresh();
    settle();
    EXPECT_EQ(m_view.shows.size(), 1u);

    writeStatus(R"(["eu-1", "us-2"])");
    m_bar->service().refresh();
    settle();
    ASSERT_EQ(m_view.shows.size(), 2u) << "both assignments of one refresh make one showing";
    EXPECT_EQ(m_view.shows.back().rows.front().label, u"Reachable from your devices \u00b7 via eu-1, us-2"_s);
}

TEST_F(TrayControllerTest, CarriesOutWhatARowDoes)
{
    start();

    m_view.pick(u"pause"_s);
    ASSERT_TRUE(waitUntil([this] { return QFile::exists(m_home + u"/calls"_s); }));
    ASSERT_TRUE(waitUntil([this] { return !m_bar->service().busy(); }));
    QFile calls(m_home + u"/calls"_s);
    ASSERT_TRUE(calls.open(QIODevice::ReadOnly));
    EXPECT_EQ(calls.readAll(), "down\n");

    m_view.pick(u"dashboard"_s);
    ASSERT_EQ(m_desktop.started.size(), 1u);
    EXPECT_EQ(m_desktop.started.back().program, u"/fake/terminal"_s);

    m_view.pick(u"at-login"_s);
    EXPECT_EQ(m_loginItem.requests, std::vector{true});
    ASSERT_TRUE(waitUntil([this] { return m_view.row(u"at-login"_s)->checked == true; }));

    m_view.pick(u"notify"_s);
    ASSERT_TRUE(waitUntil([this] { return m_view.row(u"notify"_s)->checked == false; }));
    EXPECT_EQ(m_settings.value(u"notify"_s), false) << "kept for the next start";
}

TEST_F(TrayControllerTest, TellsWhoAskedHowEachIntentEnded)
{
    start();
    std::vector<ActionOutcome> ended;
    const auto told = [&ended](const ActionOutcome& outcome) { ended.push_back(outcome); };

    m_bar->gate().perform(intent::Pause{}, told);
    EXPECT_TRUE(ended.empty()) << "the tool has not run yet";
    ASSERT_TRUE(waitUntil([&] { return !ended.empty(); }));
    EXPECT_EQ(ended.back(), ActionOutcome{});
    EXPECT_FALSE(m_bar->service().busy()) << "told once the menu no longer shows the run";

    m_desktop.hasTerminal = false;
    m_bar->gate().perform(intent::OpenDashboard{}, told);
    ASSERT_EQ(ended.size(), 2u);
    EXPECT_EQ(ended.back().kind, ActionOutcome::Kind::Failed);
    EXPECT_TRUE(ended.back().line.contains(u"terminal"_s)) << ended.back().line.toStdString();

    m_bar->gate().perform(intent::ToggleNotify{}, told);
    ASSERT_EQ(ended.size(), 3u);
    EXPECT_EQ(ended.back(), ActionOutcome{});
}

TEST_F(TrayControllerTest, NotifiesOfNewSessionsAndFailuresUnlessSilenced)
{
    writeFile(m_home + u"/bin/kivo"_s, "#!/bin/sh\necho 'error: not signed in'\nexit 1\n", 0755);
    start();
    const auto statusWith = [this](const QByteArray& needsYou) {
        writeStatusFile(m_home, StatusRecord{.clients = 1, .needsYou = needsYou}.json());
        m_bar->service().refresh();
        settle();
    };
    statusWith(R"([{"agent": "coder", "where": "~/src/kivo", "detail": "Wants to run the tests", "run": "k-7"}])");
    ASSERT_EQ(m_notifier.shown.size(), 1u);
    EXPECT_EQ(m_notifier.shown.back().notification.summary, u"coder \u00b7 ~/src/kivo"_s);
    EXPECT_EQ(m_notifier.shown.back().notification.body, u"Wants to run the tests"_s);
    m_notifier.invoke(m_notifier.shown.back().id, u"open"_s);
    ASSERT_EQ(m_desktop.started.size(), 1u) << "Open jumps to the session in a terminal";

    m_view.pick(u"pause"_s);
    ASSERT_TRUE(waitUntil([this] { return m_notifier.shown.size() == 2; }));
    EXPECT_EQ(m_notifier.shown.back().notification.summary, u"Kivo could not be paused"_s);
    EXPECT_EQ(m_notifier.shown.back().notification.body, u"error: not signed in"_s);

    m_desktop.hasTerminal = false;
    m_view.pick(u"dashboard"_s);
    ASSERT_EQ(m_notifier.shown.size(), 3u);
    EXPECT_EQ(m_notifier.shown.back().notification.summary, u"No terminal to open"_s);

    m_view.pick(u"notify"_s);
    settle();
    statusWith(R"([{"agent": "reviewer", "where": "~/src/app"}])");
    m_now += ActionLedger::kWindowInterval;
    m_view.pick(u"dashboard"_s);
    EXPECT_EQ(m_notifier.shown.size(), 3u) << "silenced";
}

TEST_F(TrayControllerTest, OpensTheNewerAppsAddressWithTheDesktop)
{
    m_http.responses[u"/bar/latest.json"_s] =
        HttpResponse{200, R"({"version": "9.0.0", "url": "https://get.kivo.test/bar"})"};
    ServiceSetup setup{.home = m_home, .desktop = &m_desktop, .http = &m_http,
                       .releaseBase = QUrl(u"https://releases.test"_s), .appVersion = u"1.0.0"_s,
                       .temporaryDirectory = m_scripts.path()};
    TrayController bar(setup, platform(), m_view);
    ASSERT_TRUE(waitUntil([this] { return !m_view.shows.empty() && m_view.row(u"get-bar"_s)->shown; }));
    m_view.pick(u"get-bar"_s);
    EXPECT_EQ(m_desktop.opened, std::vector{QUrl(u"https://get.kivo.test/bar"_s)});
}

TEST_F(TrayControllerTest, StaysResponsiveAndUnchangedAgainstAHostileReleaseHost)
{
    using namespace std::chrono_literals;
    HttpTestServer server;
    server.serve(u"/latest.json"_s, {.announceLength = false, .endless = CannedResponse::Endless::Body});
    server.serve(u"/bar/latest.json"_s, {.body = R"({"version": "9.0.0", "url": "https://get.kivo.test"})",
                                          .length = qint64(2) << 30});
    ProcessHttpClient http(QStringLiteral(KIVOBAR_FETCH), 3s);
    TrayController bar(ServiceSetup{.home = m_home, .desktop = &m_desktop, .http = &http, .releaseBase = server.url(),
                                    .appVersion = u"1.0.0"_s, .temporaryDirectory = m_scripts.path()},
                       platform(), m_view);
    ASSERT_TRUE(waitUntil([&] { return server.requests(u"/latest.json"_s) == 1; }));

    // While the release host drips, the menu still does what it is asked.
    m_view.pick(u"log"_s);
    EXPECT_EQ(m_desktop.started.size(), 1u);
    EXPECT_TRUE(waitUntil([&] { return server.requests(u"/bar/latest.json"_s) == 1; }, 30s))
        << "the first check ends, however the host behaves";
    EXPECT_TRUE(waitUntil([] { return runningFetchHelpers() == 0; }, 30s)) << "no helper outlives its deadline";
    settle();
    EXPECT_EQ(m_view.shows.size(), 1u) << "nothing the user sees changed";
    EXPECT_FALSE(m_view.row(u"update"_s)->shown);
    EXPECT_FALSE(m_view.row(u"get-bar"_s)->shown);
}
