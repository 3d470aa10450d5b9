// The release checks: two small manifests on the release endpoint tell whether a newer agent or a newer
// menu bar app exists. Every failure ends a check silently and leaves the earlier results in place.

#include "http_client.h"
#include "service.h"
#include "version.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

// The base address with the manifest's path appended, or nothing when the base is no usable address.
std::optional<QUrl> manifestAddress(const QUrl& base, const QString& path)
{
    if (!base.isValid() || base.isRelative() || base.host().isEmpty())
        return std::nullopt;
    QUrl address = base;
    QString basePath = address.path();
    if (basePath.endsWith(u'/'))
        basePath.chop(1);
    address.setPath(basePath + path);
    return address;
}

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

// The "version" of a release manifest; the status code does not matter.
std::optional<QString> latestVersion(const HttpResponse& response)
{
    const std::optional<QJsonObject> manifest = manifestObject(response.body);
    if (!manifest)
        return std::nullopt;
    return stringValue(*manifest, u"version"_s);
}

// The release a menu bar manifest names, when it was served with 200 and its address is a web page.
std::optional<BarUpdate> barRelease(const HttpResponse& response)
{
    if (response.status != 200)
        return std::nullopt;
    const std::optional<QJsonObject> manifest = manifestObject(response.body);
    if (!manifest)
        return std::nullopt;
    const std::optional<QString> version = stringValue(*manifest, u"version"_s);
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

void finish(const std::function<void()>& done)
{
    if (done)
        done();
}

}  // namespace

std::optional<QString> Service::updateAvailable() const
{
    if (!m_latest || !m_status || !newer(*m_latest, m_status->version))
        return std::nullopt;
    return m_latest;
}

void Service::checkLatest(std::function<void()> done)
{
    const std::optional<QUrl> address = manifestAddress(m_setup.releaseBase, u"/latest.json"_s);
    if (!address || !m_setup.http) {
        finish(done);
        return;
    }
    m_setup.http->get(*address, this, [this, done = std::move(done)](std::optional<HttpResponse> response) {
        if (response) {
            // Stored whatever it names: updateAvailable compares it with the running agent on every read.
            if (std::optional<QString> version = latestVersion(*response))
                setLatest(std::move(version));
        }
        finish(done);
    });
}

void Service::checkBar(std::function<void()> done)
{
    const std::optional<QUrl> address = manifestAddress(m_setup.releaseBase, u"/bar/latest.json"_s);
    if (!address || !m_setup.http) {
        finish(done);
        return;
    }
    m_setup.http->get(*address, this, [this, done = std::move(done)](std::optional<HttpResponse> response) {
        if (response) {
            std::optional<BarUpdate> release = barRelease(*response);
            // An older or equal release leaves an earlier find in place rather than clearing it.
            if (release && !m_setup.appVersion.isEmpty() && newer(release->version, m_setup.appVersion))
                setBarUpdate(std::move(release));
        }
        finish(done);
    });
}

void Service::checkReleases(std::function<void()> done)
{
    checkLatest([this, done = std::move(done)]() mutable { checkBar(std::move(done)); });
}
