#include "fetch/network_http_client.h"
#include "http_test_server.h"
#include "test_files.h"

#include <QObject>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

TEST(NetworkHttpClient, DeliversErrorStatusesWithTheirBodies)
{
    HttpTestServer server;
    NetworkHttpClient client;
    QObject context;
    for (int status : {200, 201, 400, 401, 403, 404, 410, 500, 503, 599}) {
        const QByteArray body = "answer " + QByteArray::number(status);
        server.serve(u"/doc"_s, {status, body});
        std::optional<std::optional<HttpResponse>> result;
        client.get(server.url().resolved(QUrl(u"/doc"_s)), &context, [&](std::optional<HttpResponse> r) { result = r; });
        ASSERT_TRUE(waitUntil([&] { return result.has_value(); })) << status;
        ASSERT_TRUE(*result) << status;
        EXPECT_EQ((*result)->status, status);
        EXPECT_EQ((*result)->body, body) << status;
    }
}

TEST(NetworkHttpClient, FailsForAddressesThatAreNotWebPagesWithoutCallingBackEarly)
{
    NetworkHttpClient client;
    QObject context;
    for (const QString& address : {u"file:///etc/passwd"_s, u"data:,%7B%7D"_s, u"qrc:/manifest.json"_s, QString()}) {
        std::optional<std::optional<HttpResponse>> result;
        client.get(QUrl(address), &context, [&](std::optional<HttpResponse> r) { result = r; });
        EXPECT_FALSE(result.has_value()) << address.toStdString();
        ASSERT_TRUE(waitUntil([&] { return result.has_value(); })) << address.toStdString();
        EXPECT_EQ(*result, std::nullopt) << address.toStdString();
    }
}

TEST(NetworkHttpClient, NeverCallsBackOnceTheContextIsGone)
{
    HttpTestServer server;
    NetworkHttpClient client;
    server.serve(u"/soon"_s, {200, "soon", true, 50ms});
    server.serve(u"/later"_s, {200, "later", true, 500ms});

    auto gone = std::make_unique<QObject>();
    QObject staying;
    bool goneCalled = false;
    bool stayingCalled = false;
    client.get(server.url().resolved(QUrl(u"/soon"_s)), gone.get(), [&](auto) { goneCalled = true; });
    client.get(server.url().resolved(QUrl(u"/later"_s)), &staying, [&](auto) { stayingCalled = true; });
    gone.reset();

    ASSERT_TRUE(waitUntil([&] { return stayingCalled; }));
    EXPECT_EQ(server.responses(u"/soon"_s), 1);
    EXPECT_FALSE(goneCalled);
}

}  // namespace
