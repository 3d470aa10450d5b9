#pragma once

#include "fetch/fetch_protocol.h"
#include "service/http_client.h"

#include <QtGlobal>

#include <chrono>
#include <memory>

class QNetworkAccessManager;

/// The real HttpClient: Qt's network stack, with a stall time-out and a cap on the body size. Bodies are
/// asked for uncompressed, and one that comes in another encoding fails like an oversized one.
class NetworkHttpClient : public HttpClient {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{60'000};
    static constexpr qint64 kDefaultBodyLimit = fetch_protocol::kBodyLimit;

    /// `timeout` ends a transfer during which nothing arrived for that long; a body over `bodyLimit` bytes fails.
    explicit NetworkHttpClient(std::chrono::milliseconds timeout = kDefaultTimeout,
                               qint64 bodyLimit = kDefaultBodyLimit);
    ~NetworkHttpClient() override;

    NetworkHttpClient(const NetworkHttpClient&) = delete;
    NetworkHttpClient& operator=(const NetworkHttpClient&) = delete;

    /// Only http and https addresses are fetched; any other scheme fails without touching the network.
    void get(const QUrl& url, const QObject* context,
             std::function<void(std::optional<HttpResponse>)> done) override;

private:
    std::chrono::milliseconds m_timeout;
    qint64 m_bodyLimit;
    std::unique_ptr<QNetworkAccessManager> m_manager;  // made on first use, on the thread that uses it
};
