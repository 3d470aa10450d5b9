#include "fetch/process_http_client.h"
#include "http_test_server.h"
#include "test_files.h"

#include <QFile>
#include <QTemporaryDir>

#include <signal.h>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

class ProcessHttpClientTest : public testing::Test {
protected:
    // A stand-in for the fetch helper: a shell script with `body` as its text.
    QString helper(const QByteArray& body)
    {
        const QString path = m_dir.path() + u"/helper-"_s + QString::number(++m_helpers);
        writeFile(path, "#!/bin/sh\n" + body, 0755);
        return path;
    }

    // Fetches with `client` and waits for the answer; empty when none came in time.
    std::optional<std::optional<HttpResponse>> fetch(HttpClient& client, const QUrl& url = QUrl(u"https://x.test/a"_s))
    {
        std::optional<std::optional<HttpResponse>> answer;
        client.get(url, &m_context, [&answer](std::optional<HttpResponse> response) { answer = std::move(response); });
        waitUntil([&answer] { return answer.has_value(); });
        return answer;
    }

    QTemporaryDir m_dir;
    QObject m_context;
    int m_helpers = 0;
};

}  // namespace

TEST_F(ProcessHttpClientTest, ReadsTheStatusLineAndTheBodyAsTheyCame)
{
    // The body keeps its own line breaks and bytes; the address is the helper's only argument.
    ProcessHttpClient client(helper(R"(printf '404\n{"a":\n"%s"}\n\001' "$1")"));
    const auto answer = fetch(client, QUrl(u"https://x.test/bar/latest.json?q=a b"_s));

    ASSERT_TRUE(answer && *answer);
    EXPECT_EQ((*answer)->status, 404);
    EXPECT_EQ((*answer)->body, QByteArray("{\"a\":\n\"https://x.test/bar/latest.json?q=a%20b\"}\n\001"));
}

TEST_F(ProcessHttpClientTest, FailsWhenTheHelperDoesNotAnswerProperly)
{
    struct Case { const char* what; QByteArray script; };
    const Case cases[] = {
        {"transfer failed", "exit 1\n"},
        {"no status line", "printf 'hello'\n"},
        {"status not a number", "printf 'OK\\nbody'\n"},
        {"crashed", "printf '200\\nbo'; kill -KILL $$\n"},
        {"printed without end", "yes 200\n"},
        {"status with a sign", "printf '+200\\n{}'\n"},
        {"status after a blank", "printf ' 200\\n{}'\n"},
        {"status before a blank", "printf '200 \\n{}'\n"},
        {"status ended by CR LF", "printf '200\\r\\n{}'\n"},
        {"status of four digits", "printf '2000\\n{}'\n"},
        {"status as hexadecimal", "printf '0xC8\\n{}'\n"},
    };
    for (const Case& c : cases) {
        ProcessHttpClient client(helper(c.script), 20s, 4096);
        const auto answer = fetch(client);
        ASSERT_TRUE(answer) << c.what << ": no answer at all";
        EXPECT_FALSE(*answer) << c.what;
    }

    ProcessHttpClient missing(m_dir.path() + u"/no-such-helper"_s);
    const auto answer = fetch(missing);
    ASSERT_TRUE(answer);
    EXPECT_FALSE(*answer) << "a helper that cannot start";
}

TEST_F(ProcessHttpClientTest, KillsAHelperThatTakesTooLong)
{
    const QString pidFile = m_dir.path() + u"/pid"_s;
    ProcessHttpClient client(helper("echo $$ > '" + pidFile.toUtf8() + "'\nexec sleep 30\n"), 300ms);
    const auto answer = fetch(client);

    ASSERT_TRUE(answer);
    EXPECT_FALSE(*answer);
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_NE(::kill(pid_t(file.readAll().trimmed().toLongLong()), 0), 0) << "the helper is gone";
}

TEST_F(ProcessHttpClientTest, AnswersNobodyOnceTheContextIsGone)
{
    const QString pidFile = m_dir.path() + u"/pid"_s;
    ProcessHttpClient first(helper("echo $$ > '" + pidFile.toUtf8() + "'\nprintf '200\\n{}'\n"));
    bool answered = false;
    {
        QObject context;
        first.get(QUrl(u"https://x.test/a"_s), &context, [&answered](std::optional<HttpResponse>) { answered = true; });
    }
    // This one answers only once the first helper has ended and been reaped, so its answer comes last.
    ProcessHttpClient second(helper("until [ -s '" + pidFile.toUtf8() + "' ]; do sleep 0.01; done\n"
                                    "while kill -0 $(cat '" + pidFile.toUtf8() + "') 2>/dev/null; do sleep 0.01; done\n"
                                    "printf '200\\n{}'\n"));
    ASSERT_TRUE(fetch(second));
    EXPECT_FALSE(answered);
}

TEST(FetchHelper, PrintsWhatTheServerAnswered)
{
    HttpTestServer server;
    server.serve(u"/latest.json"_s, {.status = 200, .body = R"({"version": "1.5.0"})"});
    server.serve(u"/gone"_s, {.status = 410, .body = "gone"});
    ProcessHttpClient client(QStringLiteral(KIVOBAR_FETCH));
    QObject context;

    struct Case { QString path; std::optional<HttpResponse> expected; };
    const Case cases[] = {
        {u"/latest.json"_s, HttpResponse{200, R"({"version": "1.5.0"})"}},
        {u"/gone"_s, HttpResponse{410, "gone"}},
    };
    for (const Case& c : cases) {
        std::optional<std::optional<HttpResponse>> answer;
        QUrl url = server.url();
        url.setPath(c.path);
        client.get(url, &context, [&answer](std::optional<HttpResponse> response) { answer = std::move(response); });
        ASSERT_TRUE(waitUntil([&answer] { return answer.has_value(); })) << c.path.toStdString();
        ASSERT_TRUE(*answer) << c.path.toStdString();
        EXPECT_EQ((*answer)->status, c.expected->status);
        EXPECT_EQ((*answer)->body, c.expected->body);
    }

    server.close();
    std::optional<std::optional<HttpResponse>> refused;
    client.get(server.url(), &context, [&refused](std::optional<HttpResponse> response) { refused = std::move(response); });
    ASSERT_TRUE(waitUntil([&refused] { return refused.has_value(); }));
    EXPECT_FALSE(*refused) << "a refused connection is a failed transfer";
}
