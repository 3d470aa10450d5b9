#include "http_test_server.h"
#include "test_files.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

struct Fetched {
    bool ended = false;   ///< false when the helper was still running at the test's deadline
    int exitCode = -1;    ///< -1 when it did not exit normally
    QByteArray output;
};

// Runs the helper and waits for it; the event loop runs meanwhile, so that the test server can answer.
Fetched fetch(const QStringList& arguments)
{
    QProcess helper;
    helper.setStandardInputFile(QProcess::nullDevice());
    helper.start(QStringLiteral(KIVOBAR_FETCH), arguments);
    Fetched fetched;
    fetched.ended = waitUntil([&] { return helper.state() == QProcess::NotRunning; }, 30s);
    if (!fetched.ended) {
        helper.kill();
        helper.waitForFinished();
    }
    if (helper.exitStatus() == QProcess::NormalExit)
        fetched.exitCode = helper.exitCode();
    fetched.output = helper.readAllStandardOutput();
    return fetched;
}

// Zeros enough to be more than the 1 MiB a body may have many times over, in a few kilobytes.
constexpr qsizetype kBombSize = 64 * 1024 * 1024;

QByteArray deflateBomb()
{
    // qCompress writes the size in 4 bytes of its own before a zlib stream, which is HTTP's "deflate".
    return qCompress(QByteArray(kBombSize, '\0'), 9).sliced(4);
}

QByteArray gzipBomb()
{
    QProcess gzip;
    gzip.start(u"/usr/bin/gzip"_s, {u"-c"_s, u"-9"_s});
    gzip.write(QByteArray(kBombSize, '\0'));
    gzip.closeWriteChannel();
    if (!gzip.waitForFinished(60'000) || gzip.exitCode() != 0)
        return {};
    return gzip.readAllStandardOutput();
}

TEST(FetchHelper, FailsWithinItsDeadlineAndPrintsNothingForAHostileServer)
{
    HttpTestServer server;
    using Endless = CannedResponse::Endless;
    const QByteArray gzip = gzipBomb();
    ASSERT_FALSE(gzip.isEmpty());
    struct Case { QString path; CannedResponse response; };
    const Case cases[] = {
        {u"/drip"_s, {.announceLength = false, .endless = Endless::Body}},
        {u"/drip-announced"_s, {.body = "{}", .length = 1'000, .endless = Endless::Body}},
        {u"/endless-headers"_s, {.endless = Endless::Headers, .interval = 10ms}},
        {u"/silent"_s, {.silent = true}},
        {u"/loop"_s, {.status = 302, .headers = "Location: /loop\r\n"}},
        {u"/to-file"_s, {.status = 302, .headers = "Location: file:///etc/passwd\r\n"}},
        {u"/to-ftp"_s, {.status = 301, .headers = "Location: ftp://127.0.0.1/latest.json\r\n"}},
        {u"/two-gibibytes"_s, {.body = "{}", .length = qint64(2) << 30}},
        {u"/cut-short"_s, {.body = R"({"version": "1.5.0"})", .length = 100}},
        {u"/gzip-bomb"_s, {.body = gzip, .headers = "Content-Encoding: gzip\r\n"}},
        {u"/deflate-bomb"_s, {.body = deflateBomb(), .headers = "Content-Encoding: deflate\r\n"}},
        // Even a small body in an encoding that was not asked for: it is not what the helper can vouch for.
        {u"/unasked-encoding"_s, {.body = qCompress("{}").sliced(4), .headers = "Content-Encoding: deflate\r\n"}},
    };
    for (const Case& c : cases) {
        server.serve(c.path, c.response);
        const Fetched fetched = fetch({u"--timeout-ms"_s, u"2000"_s, server.url(c.path).toString()});
        EXPECT_TRUE(fetched.ended) << c.path.toStdString() << ": still running";
        EXPECT_EQ(fetched.exitCode, 1) << c.path.toStdString();
        EXPECT_EQ(fetched.output, QByteArray()) << c.path.toStdString();
    }
}

TEST(FetchHelper, AsksForTheBodyAsItIsAndPrintsAWholeAnswer)
{
    HttpTestServer server;
    server.serve(u"/latest.json"_s, {.body = R"({"version": "1.5.0"})"});
    server.serve(u"/moved"_s, {.status = 301, .headers = "Location: /latest.json\r\n"});
    server.serve(u"/missing"_s, {.status = 404, .body = "not here"});
    struct Case { QString path; QByteArray output; };
    const Case cases[] = {
        {u"/latest.json"_s, "200\n{\"version\": \"1.5.0\"}"},
        {u"/moved"_s, "200\n{\"version\": \"1.5.0\"}"},
        {u"/missing"_s, "404\nnot here"},
    };
    for (const Case& c : cases) {
        const Fetched fetched = fetch({server.url(c.path).toString()});
        EXPECT_EQ(fetched.exitCode, 0) << c.path.toStdString();
        EXPECT_EQ(fetched.output, c.output) << c.path.toStdString();
    }
    EXPECT_EQ(server.requestHead(u"/latest.json"_s).toLower().count("\r\naccept-encoding: identity\r\n"), 1);
}

TEST(FetchHelper, TakesOnlyAnAddressAndAPositiveTimeout)
{
    const QString url = u"http://127.0.0.1:1/latest.json"_s;
    for (const QStringList& arguments : {QStringList{}, QStringList{url, url}, QStringList{u"--timeout-ms"_s, url},
                                        QStringList{u"--timeout-ms"_s, u"0"_s, url},
                                        QStringList{u"--timeout-ms"_s, u"-5"_s, url},
                                        QStringList{u"--timeout-ms"_s, u"1e3"_s, url},
                                        QStringList{u"--timeout"_s, u"1000"_s, url}}) {
        const Fetched fetched = fetch(arguments);
        EXPECT_EQ(fetched.exitCode, 2) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(fetched.output.isEmpty());
    }
}

}  // namespace
