#include "release_manifest.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray manifest(const QByteArray& version, const QByteArray& url = R"("https://example.com/get")")
{
    return R"({"version": )" + version + R"(, "url": )" + url + "}";
}

}  // namespace

TEST(ReadReleaseManifest, TakesAStringVersionFromATopLevelObject)
{
    struct Case { QByteArray body; std::optional<QString> expected; };
    const Case cases[] = {
        {R"({"version": "1.5.0"})", u"1.5.0"_s},
        {R"({"version": "not a version", "other": [1, 2]})", u"not a version"_s},
        {R"({"version": ""})", u""_s},
        {R"({"version": "1.0.0", "version": "2.0.0"})", u"2.0.0"_s},
        {"", std::nullopt},
        {"not json", std::nullopt},
        {R"({"version": "3.0.0")", std::nullopt},
        {R"([{"version": "3.0.0"}])", std::nullopt},
        {R"("3.0.0")", std::nullopt},
        {R"({"version": 3})", std::nullopt},
        {R"({"version": null})", std::nullopt},
        {R"({"version": ["3.0.0"]})", std::nullopt},
        {R"({"Version": "3.0.0"})", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readReleaseManifest(c.body), c.expected) << c.body.constData();
}

TEST(ReadBarManifest, TakesAVersionAndAWebAddressServedWith200)
{
    const QUrl get(u"https://example.com/get"_s);
    struct Case { int status; QByteArray body; std::optional<BarUpdate> expected; };
    const Case cases[] = {
        {200, manifest(R"("2.0.0")"), BarUpdate{u"2.0.0"_s, get}},
        {200, manifest(R"("2.0.0")", R"("HTTP://Example.com/a")"), BarUpdate{u"2.0.0"_s, QUrl(u"http://example.com/a"_s)}},
        {201, manifest(R"("2.0.0")"), std::nullopt},
        {404, manifest(R"("2.0.0")"), std::nullopt},
        {0, manifest(R"("2.0.0")"), std::nullopt},
        {200, R"({"version": "2.0.0"})", std::nullopt},
        {200, R"({"url": "https://example.com/get"})", std::nullopt},
        {200, manifest("2"), std::nullopt},
        {200, manifest(R"("2.0.0")", "null"), std::nullopt},
        {200, manifest(R"("2.0.0")", R"("https://exa mple.com/")"), std::nullopt},
        {200, manifest(R"("2.0.0")", R"("file:///etc/passwd")"), std::nullopt},
        {200, manifest(R"("2.0.0")", R"x("javascript:alert(1)")x"), std::nullopt},
        {200, manifest(R"("2.0.0")", R"("https:///no-host")"), std::nullopt},
        {200, manifest(R"("2.0.0")", R"("/relative")"), std::nullopt},
        {200, "[" + manifest(R"("2.0.0")") + "]", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<BarUpdate> update = readBarManifest(HttpResponse{c.status, c.body});
        EXPECT_EQ(update.has_value(), c.expected.has_value()) << c.status << " " << c.body.constData();
        if (update && c.expected) {
            EXPECT_EQ(update->version, c.expected->version) << c.body.constData();
            EXPECT_EQ(update->url, c.expected->url) << c.body.constData();
        }
    }
}
