#include "fetch/network_http_client.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

// Qt sets an error on the reply for every 4xx and 5xx answer; these are the codes it maps HTTP statuses
// to. They are answers, not transport failures, and the caller decides what a status means.
bool isStatusError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentReSendError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

// What one transfer has gathered so far; shared by the reply's handlers.
struct Transfer {
    QByteArray body;
    bool tooLarge = false;
};

}  // namespace

NetworkHttpClient::NetworkHttpClient(std::chrono::milliseconds timeout, qint64 bodyLimit)
    : m_timeout(timeout), m_bodyLimit(bodyLimit)
{
}

NetworkHttpClient::~NetworkHttpClient() = default;

void NetworkHttpClient::get(const QUrl& url, const QObject* context,
                            std::function<void(std::optional<HttpResponse>)> done)
{
    // Qt would also read file:, qrc: and data: addresses; a release check has no business with those.
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != u"http"_s && scheme != u"https"_s)) {
        QTimer::singleShot(0, context, [done = std::move(done)] { done(std::nullopt); });
        return;
    }

    if (!m_manager)
        m_manager = std::make_unique<QNetworkAccessManager>();

    QNetworkRequest request(url);
    // Without this Qt waits forever for a server that accepted the connection and went quiet.
    request.setTransferTimeout(int(m_timeout.count()));
    // The body as it is: a compressed one would have to be inflated before its size is known, and a few
    // kilobytes can inflate to gigabytes. Set here, it also keeps Qt from offering and inflating gzip itself.
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply* reply = m_manager->get(request);
    // Lets the network thread stop reading from the socket instead of queueing data without bound.
    reply->setReadBufferSize(m_bodyLimit + 1);

    auto transfer = std::make_shared<Transfer>();
    const qint64 limit = m_bodyLimit;
    auto giveUp = [reply, transfer] {
        transfer->tooLarge = true;
        transfer->body.clear();
        reply->abort();
    };

    // An announced length over the limit ends the transfer before any of the body is read, and so does
    // an encoding that was not asked for: such a body is not one we could read whole.
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, limit, giveUp] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
        if ((length.isValid() && length.toLongLong() > limit) || !(encoding.isEmpty() || encoding == "identity"))
            giveUp();
    });
    // The announced length may be missing or false, so what actually arrives is counted too.
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, transfer, limit, giveUp] {
        if (transfer->tooLarge)
            return;
        transfer->body += reply->read(limit + 1 - transfer->body.size());
        if (transfer->body.size() > limit)
            giveUp();
    });

    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, transfer, limit, done = std::move(done)] {
        if (transfer->tooLarge) {
            done(std::nullopt);
            return;
        }
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QNetworkReply::NetworkError error = reply->error();
        // Qt also reports trouble with the body of a successful answer through some of these codes.
        const bool errorStatus = status.isValid() && status.toInt() >= 400 && isStatusError(error);
        if (error != QNetworkReply::NoError && !errorStatus) {
            done(std::nullopt);
            return;
        }
        transfer->body += reply->read(limit + 1 - transfer->body.size());
        if (transfer->body.size() > limit) {
            done(std::nullopt);
            return;
        }
        done(HttpResponse{status.isValid() ? status.toInt() : 0, std::move(transfer->body)});
    });
}
