#include "fetch/network_http_client.h"
#include "http_test_server.h"
#include "service/service.h"
#include "status_records.h"
#include "test_files.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString kLatest = u"/latest.json"_s;
const QString kBar = u"/bar/latest.json"_s;

QByteArray barManifest(const QString& version, const QString& url)
{
    return u"{\"version\": \"%1\", \"url\": \"%2\"}"_s.arg(version, url).toUtf8();
}

QByteArray latestManifest(const QString& version)
{
    return u"{\"version\": \"%1\"}"_s.arg(version).toUtf8();
}

using Check = void (Service::*)(std::function<void()>);

// A Service whose release endpoint is a local test server. The Service starts its own check as soon
// as the event loop runs; the fixture serves that check manifests with visible results and waits for
// them, so that each test begins from known values and no startup request is still on its way.
class ReleaseChecks : public testing::Test {
protected:
    const BarUpdate kStartupBar{u"1.0.1"_s, QUrl(u"https://example.com/startup"_s)};

    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        m_server.serve(kLatest, {200, latestManifest(u"0.5.0"_s)});
        m_server.serve(kBar, {200, barManifest(kStartupBar.version, kStartupBar.url.toString())});
        m_service = makeService(m_client);
        ASSERT_TRUE(waitUntil([&] { return m_service->barUpdate() == kStartupBar; }));
        ASSERT_EQ(m_service->latest(), u"0.5.0"_s);
        m_server.clearEvents();
    }

    std::unique_ptr<Service> makeService(HttpClient& client)
    {
        return std::make_unique<Service>(ServiceSetup{
            .home = m_home.path(),
            .http = &client,
            .releaseBase = m_server.url(),
            .appVersion = u"1.0.0"_s,
        });
    }

    // Runs one check to its end and fails the test unless `done` ran exactly once.
    void run(Check check)
    {
        int calls = 0;
        (m_service.get()->*check)([&calls] { ++calls; });
        ASSERT_TRUE(waitUntil([&] { return calls > 0; }));
        QCoreApplication::processEvents();
        EXPECT_EQ(calls, 1);
    }

    void writeStatus(const QString& version)
    {
        writeStatusFile(m_home.path(), StatusRecord{.version = version.toUtf8()}.json());
    }

    QTemporaryDir m_home;
    HttpTestServer m_server;
    NetworkHttpClient m_client;
    NetworkHttpClient m_impatient{200ms};
    std::unique_ptr<Service> m_service;
};

TEST_F(ReleaseChecks, LatestIsStoredWhateverTheStatusCode)
{
    for (int status : {200, 201, 404, 500}) {
        const QString version = u"2.0.%1"_s.arg(status);
        m_server.serve(kLatest, {status, latestManifest(version)});
        run(&Service::checkLatest);
        EXPECT_EQ(m_service->latest(), version) << status;
    }
}

TEST_F(ReleaseChecks, LatestIsStoredEvenWhenItIsNoNewerOrNoVersionAtAll)
{
    for (const QString& version : {u"0.1.0"_s, u"1.0.0"_s, u"not a version"_s, QString()}) {
        m_server.serve(kLatest, {200, latestManifest(version)});
        run(&Service::checkLatest);
        EXPECT_EQ(m_service->latest(), version) << version.toStdString();
    }
}

TEST_F(ReleaseChecks, BarUpdateIsTakenOnlyFromStatus200)
{
    for (int status : {201, 203, 404, 500}) {
        m_server.serve(kBar, {status, barManifest(u"2.0.0"_s, u"https://example.com/2.0.0"_s)});
        run(&Service::checkBar);
        EXPECT_EQ(m_service->barUpdate(), kStartupBar) << status;
    }
    m_server.serve(kBar, {200, barManifest(u"2.0.0"_s, u"https://example.com/2.0.0"_s)});
    run(&Service::checkBar);
    EXPECT_EQ(m_service->barUpdate(), (BarUpdate{u"2.0.0"_s, QUrl(u"https://example.com/2.0.0"_s)}));
}

TEST_F(ReleaseChecks, UnusableManifestsChangeNothing)
{
    const QByteArray bodies[] = {
        "",
        "{\"version\": \"3.0.0\"",
        "not json",
        "[{\"version\": \"3.0.0\", \"url\": \"https://example.com/\"}]",
        "\"3.0.0\"",
        "3",
        "{\"version\": 3, \"url\": \"https://example.com/\"}",
        "{\"version\": 3.5, \"url\": \"https://example.com/\"}",
        "{\"version\": null, \"url\": \"https://example.com/\"}",
        "{\"version\": {\"name\": \"3.0.0\"}, \"url\": \"https://example.com/\"}",
        "{\"Version\": \"3.0.0\", \"url\": \"https://example.com/\"}",
        "{\"url\": \"https://example.com/\"}",
        "{\"version\": \"3.0.0-" + QByteArray(300'000, 'a') + "\", \"url\": \"https://example.com/\"}",
        "{\"version\": \"3.0.0\\n\", \"url\": \"https://example.com/\"}",
    };
    for (const QByteArray& body : bodies) {
        m_server.serve(kLatest, {200, body});
        m_server.serve(kBar, {200, body});
        run(&Service::checkLatest);
        run(&Service::checkBar);
        EXPECT_EQ(m_service->latest(), u"0.5.0"_s) << body.left(80).constData();
        EXPECT_EQ(m_service->barUpdate(), kStartupBar) << body.left(80).constData();
    }
    EXPECT_EQ(m_service->message(), std::nullopt);
    EXPECT_EQ(m_service->busy(), std::nullopt);
}

TEST_F(ReleaseChecks, BarUpdateNeedsAWebAddress)
{
    const QByteArray rejected[] = {
        "{\"version\": \"3.0.0\"}",
        "{\"version\": \"3.0.0\", \"url\": null}",
        "{\"version\": \"3.0.0\", \"url\": 42}",
        "{\"version\": \"3.0.0\", \"url\": \"not a url\"}",
        "{\"version\": \"3.0.0\", \"url\": \"https://exa mple.com/\"}",
        "{\"version\": \"3.0.0\", \"url\": \"https://example.com/%zz\"}",
        "{\"version\": \"3.0.0\", \"url\": \"file:///etc/passwd\"}",
        "{\"version\": \"3.0.0\", \"url\": \"javascript:alert(1)\"}",
        "{\"version\": \"3.0.0\", \"url\": \"kivo-update://install?now=1\"}",
        "{\"version\": \"3.0.0\", \"url\": \"ftp://example.com/KivoBar.tar.gz\"}",
        "{\"version\": \"3.0.0\", \"url\": \"https:///KivoBar.tar.gz\"}",
        "{\"version\": \"3.0.0\", \"url\": \"/KivoBar.tar.gz\"}",
    };
    for (const QByteArray& body : rejected) {
        m_server.serve(kBar, {200, body});
        run(&Service::checkBar);
        EXPECT_EQ(m_service->barUpdate(), kStartupBar) << body.constData();
    }

    // Schemes are compared without regard to case.
    m_server.serve(kBar, {200, barManifest(u"3.0.0"_s, u"HTTPS://Example.com/KivoBar-3.0.0.tar.gz"_s)});
    run(&Service::checkBar);
    EXPECT_EQ(m_service->barUpdate(), (BarUpdate{u"3.0.0"_s, QUrl(u"https://example.com/KivoBar-3.0.0.tar.gz"_s)}));
}

TEST_F(ReleaseChecks, BarUpdateFollowsOnlyNewerReleases)
{
    struct Case { QString version; QString expected; };
    const Case cases[] = {
        {u"2.0.0"_s, u"2.0.0"_s},
        {u"1.0.0"_s, u"2.0.0"_s},         // the app's own version
        {u"0.9.0"_s, u"2.0.0"_s},
        {u"1.0.0+build.7"_s, u"2.0.0"_s},
        {u"v3.0.0"_s, u"2.0.0"_s},        // not a version
        {u"1.5.0"_s, u"1.5.0"_s},         // newer than the app replaces even a later find
        {u"1.5.1-rc.1"_s, u"1.5.1-rc.1"_s},
    };
    for (const Case& c : cases) {
        m_server.serve(kBar, {200, barManifest(c.version, u"https://example.com/"_s + c.version)});
        run(&Service::checkBar);
        ASSERT_TRUE(m_service->barUpdate()) << c.version.toStdString();
        EXPECT_EQ(m_service->barUpdate()->version, c.expected) << c.version.toStdString();
        EXPECT_EQ(m_service->barUpdate()->url, QUrl(u"https://example.com/"_s + c.expected));
    }
}

TEST_F(ReleaseChecks, RefusedConnectionKeepsEarlierResults)
{
    m_server.close();
    run(&Service::checkLatest);
    run(&Service::checkBar);
    EXPECT_EQ(m_service->latest(), u"0.5.0"_s);
    EXPECT_EQ(m_service->barUpdate(), kStartupBar);
    EXPECT_EQ(m_service->message(), std::nullopt);
}

TEST_F(ReleaseChecks, BodyOverOneMebibyteEndsTheCheck)
{
    struct Case { QString version; qsizetype size; bool announceLength; bool stored; };
    const Case cases[] = {
        {u"4.0.0"_s, 1'048'576, true, true},
        {u"4.0.1"_s, 1'048'576, false, true},
        {u"4.0.2"_s, 1'048'577, true, false},
        {u"4.0.3"_s, 1'048'577, false, false},
        {u"4.0.4"_s, 8 * 1'048'576, false, false},
    };
    QString expected = u"0.5.0"_s;
    for (const Case& c : cases) {
        // Trailing blanks are valid JSON, so only the size can make this manifest unusable.
        QByteArray body = latestManifest(c.version);
        body += QByteArray(c.size - body.size(), ' ');
        m_server.serve(kLatest, {200, body, c.announceLength});
        run(&Service::checkLatest);
        if (c.stored)
            expected = c.version;
        EXPECT_EQ(m_service->latest(), expected) << c.size << (c.announceLength ? " announced" : "");
    }
}

TEST_F(ReleaseChecks, SilentServerEndsTheChecksAfterTheTimeout)
{
    m_service.reset();
    m_service = makeService(m_impatient);
    ASSERT_TRUE(waitUntil([&] { return m_service->barUpdate() == kStartupBar; }));

    m_server.serve(kLatest, {200, latestManifest(u"9.0.0"_s), true, 0ms, true});
    m_server.serve(kBar, {200, barManifest(u"9.0.0"_s, u"https://example.com/"_s), true, 0ms, true});
    int latestDone = 0;
    int barDone = 0;
    m_service->checkLatest([&] { ++latestDone; });
    m_service->checkBar([&] { ++barDone; });
    ASSERT_TRUE(waitUntil([&] { return latestDone > 0 && barDone > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(latestDone, 1);
    EXPECT_EQ(barDone, 1);
    EXPECT_GE(m_server.requests(kLatest), 1);
    EXPECT_GE(m_server.requests(kBar), 1);
    EXPECT_EQ(m_service->latest(), u"0.5.0"_s);
    EXPECT_EQ(m_service->barUpdate(), kStartupBar);
}

TEST_F(ReleaseChecks, UpdateAvailableFollowsTheRunningAgent)
{
    writeFile(m_home.filePath(u"bin/kivo"_s), "#!/bin/sh\n", 0755);
    writeStatus(u"1.0.0"_s);
    m_service->refresh();
    ASSERT_TRUE(m_service->status());
    EXPECT_EQ(m_service->updateAvailable(), std::nullopt);  // 0.5.0 is older

    m_server.serve(kLatest, {200, latestManifest(u"1.1.0"_s)});
    run(&Service::checkLatest);
    EXPECT_EQ(m_service->updateAvailable(), u"1.1.0"_s);

    struct Case { QString running; std::optional<QString> expected; };
    const Case cases[] = {
        {u"1.1.0"_s, std::nullopt},
        {u"1.2.0"_s, std::nullopt},
        {u"1.1.0-rc.1"_s, u"1.1.0"_s},
        {u"garbage"_s, std::nullopt},
        {u"1.0.9"_s, u"1.1.0"_s},
    };
    for (const Case& c : cases) {
        writeStatus(c.running);
        m_service->refresh();
        EXPECT_EQ(m_service->updateAvailable(), c.expected) << c.running.toStdString();
    }

    QFile::remove(m_home.filePath(u"run/status.json"_s));
    m_service->refresh();
    ASSERT_FALSE(m_service->status());
    EXPECT_EQ(m_service->updateAvailable(), std::nullopt);
}

TEST(ReleaseChecksWithoutEndpoint, EndAtOnceAndSilently)
{
    QTemporaryDir home;
    NetworkHttpClient client;
    struct Case { const char* name; HttpClient* http; QUrl base; };
    const Case cases[] = {
        {"no client", nullptr, QUrl(u"https://example.com"_s)},
        {"empty base", &client, QUrl()},
        {"relative base", &client, QUrl(u"releases"_s)},
        {"base without host", &client, QUrl(u"file:///tmp"_s)},
    };
    for (const Case& c : cases) {
        Service service(ServiceSetup{.home = home.path(), .http = c.http, .releaseBase = c.base,
                                     .appVersion = u"1.0.0"_s});
        int calls = 0;
        service.checkLatest([&] { ++calls; });
        service.checkBar([&] { ++calls; });
        EXPECT_TRUE(waitUntil([&] { return calls == 2; }, 5s)) << c.name;
        EXPECT_EQ(service.latest(), std::nullopt) << c.name;
        EXPECT_EQ(service.barUpdate(), std::nullopt) << c.name;
        EXPECT_EQ(service.message(), std::nullopt) << c.name;
    }
}

// The release checks of one cycle: the menu bar manifest is asked for only once the release manifest
// has been answered, at start and on each tick of the 6-hour timer.
TEST(ReleaseSchedule, ChecksLatestThenBarAtStartAndOnEveryTick)
{
    QTemporaryDir home;
    HttpTestServer server;
    NetworkHttpClient client;
    server.serve(kLatest, {200, latestManifest(u"2.0.0"_s), true, 300ms});
    server.serve(kBar, {200, barManifest(u"2.0.0"_s, u"https://example.com/"_s)});
    using Event = HttpTestServer::Event;
    using Kind = HttpTestServer::Kind;
    const std::vector<Event> cycle = {
        {Kind::Request, kLatest}, {Kind::Response, kLatest}, {Kind::Request, kBar}, {Kind::Response, kBar},
    };

    Service service(ServiceSetup{.home = home.path(), .http = &client, .releaseBase = server.url(),
                                 .appVersion = u"1.0.0"_s});
    ASSERT_TRUE(waitUntil([&] { return service.barUpdate().has_value(); }));
    EXPECT_EQ(server.events(), cycle);
    EXPECT_EQ(service.latest(), u"2.0.0"_s);

    auto* refresh = service.findChild<QTimer*>(u"refresh"_s);
    auto* releases = service.findChild<QTimer*>(u"releases"_s);
    ASSERT_TRUE(refresh);
    ASSERT_TRUE(releases);
    EXPECT_EQ(refresh->interval(), 3'000);
    EXPECT_FALSE(refresh->isSingleShot());
    EXPECT_TRUE(refresh->isActive());
    EXPECT_EQ(releases->interval(), 21'600'000);
    EXPECT_FALSE(releases->isSingleShot());
    EXPECT_TRUE(releases->isActive());

    // One early tick, to see what the timer starts.
    server.clearEvents();
    QObject::connect(releases, &QTimer::timeout, releases, [releases] { releases->stop(); });
    releases->setInterval(10);
    ASSERT_TRUE(waitUntil([&] { return server.responses(kBar) == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(server.events(), cycle);
}

}  // namespace
