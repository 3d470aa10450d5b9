// The release checks: two small manifests on the release endpoint tell whether a newer agent or a newer
// menu bar app exists. Every failure ends a check silently and leaves the earlier results in place.

#include "service/http_client.h"
#include "service/release_manifest.h"
#include "service/service.h"
#include "service/version.h"

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
        // Stored whatever it names: updateAvailable compares it with the running agent on every read.
        std::optional<QString> version = response ? readReleaseManifest(response->body) : std::nullopt;
        // Silence for the menu; the words are for whoever asks for an update that no check has found.
        if (!response)
            m_latestCheckFailure = u"the release host did not answer"_s;
        else if (!version && response->status != 200)
            m_latestCheckFailure = u"the release host answered with status %1"_s.arg(response->status);
        else if (!version)
            m_latestCheckFailure = u"the release host's manifest names no version"_s;
        else
            m_latestCheckFailure.reset();
        if (version)
            setLatest(std::move(version));
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
            std::optional<BarUpdate> release = readBarManifest(*response);
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
