#include "qt_printers.h"
#include "service/release_manifest.h"

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
        {200, manifest(R"("2.0.0")", R"("HTTP://Example.com/a")"),
         BarUpdate{u"2.0.0"_s, QUrl(u"http://example.com/a"_s)}},
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

TEST(ReadManifests, CountAVersionTooLongOrWithControlCharactersAsMissing)
{
    // Built as JSON text: escapes carry the control characters, so the JSON itself stays valid.
    struct Case { QByteArray json; std::optional<QString> expected; };
    const QString longest = u"1.0.0-"_s + QString(58, u'a');
    const Case cases[] = {
        {'"' + longest.toUtf8() + '"', longest},
        {'"' + longest.toUtf8() + "a\"", std::nullopt},
        {'"' + QByteArray(300'000, '9') + '"', std::nullopt},
        // 64 characters, though more UTF-16 units and bytes: characters are what a row shows.
        {'"' + u"😀"_s.repeated(64).toUtf8() + '"', u"😀"_s.repeated(64)},
        {'"' + u"😀"_s.repeated(65).toUtf8() + '"', std::nullopt},
        {R"("1.0.0\n")", std::nullopt},
        {R"("1.0.0\u0000")", std::nullopt},
        {R"("1.0\t.0")", std::nullopt},
        {R"("\u001b[31m1.0.0")", std::nullopt},
        {R"("1.0.0\u007f")", std::nullopt},
        {R"("1.0.0\u0085")", std::nullopt},
        {R"("1.0.0 · rc")", u"1.0.0 · rc"_s},
    };
    for (const Case& c : cases) {
        const QByteArray release = R"({"version": )" + c.json + "}";
        const std::string shown = c.json.left(80).toStdString();
        EXPECT_EQ(readReleaseManifest(release), c.expected) << shown;
        const std::optional<BarUpdate> bar = readBarManifest(HttpResponse{200, manifest(c.json)});
        EXPECT_EQ(bar ? std::optional(bar->version) : std::nullopt, c.expected) << shown;
    }
}
