// The two manifests of the release endpoint, read from what the network brought back. Anything that
// is not exactly what is expected counts as no manifest at all.

#include "service/release_manifest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

using namespace Qt::StringLiterals;

namespace {

// The top-level object of a manifest; arrays, bare values and broken JSON are not manifests.
std::optional<QJsonObject> manifestObject(const QByteArray& body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<QString> stringValue(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// A version ends up as a menu row, so one the endpoint could use to flood the menu or break its
// layout counts as missing: more than 64 characters (code points, as a row shows them), or any
// control character.
constexpr qsizetype kVersionMaxCharacters = 64;

std::optional<QString> versionValue(const QJsonObject& object)
{
    std::optional<QString> version = stringValue(object, u"version"_s);
    if (!version || version->size() > 2 * kVersionMaxCharacters)
        return std::nullopt;
    qsizetype characters = 0;
    for (const char32_t c : QStringView(*version).toUcs4()) {
        if (++characters > kVersionMaxCharacters || QChar::category(c) == QChar::Other_Control)
            return std::nullopt;
    }
    return version;
}

}  // namespace

std::optional<QString> readReleaseManifest(const QByteArray& body)
{
    const std::optional<QJsonObject> manifest = manifestObject(body);
    if (!manifest)
        return std::nullopt;
    return versionValue(*manifest);
}

std::optional<BarUpdate> readBarManifest(const HttpResponse& response)
{
    if (response.status != 200)
        return std::nullopt;
    const std::optional<QJsonObject> manifest = manifestObject(response.body);
    if (!manifest)
        return std::nullopt;
    const std::optional<QString> version = versionValue(*manifest);
    const std::optional<QString> text = stringValue(*manifest, u"url"_s);
    if (!version || !text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    // The menu hands this address to the desktop's default handler, so a manifest from the network
    // must not be able to name a local file or launch some other registered application.
    if (!url.isValid() || (url.scheme() != u"http"_s && url.scheme() != u"https"_s) || url.host().isEmpty())
        return std::nullopt;
    return BarUpdate{*version, url};
}
