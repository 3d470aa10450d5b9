#pragma once

#include "fetch/fetch_protocol.h"
#include "service/http_client.h"

#include <QObject>
#include <QString>

#include <chrono>

/// An HttpClient that fetches each address in a helper process (`kivobar-fetch`), so that the network
/// and TLS libraries are loaded only while a fetch runs, never in the long-running tray.
class ProcessHttpClient : public HttpClient {
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{120'000};
    static constexpr qint64 kDefaultOutputLimit = fetch_protocol::kBodyLimit + fetch_protocol::kStatusLineLimit;

    /// `program` is run with the address as its only argument and answers as `kivobar-fetch` does. A
    /// helper still running after `timeout`, or printing more than `outputLimit` bytes, is killed.
    explicit ProcessHttpClient(QString program, std::chrono::milliseconds timeout = kDefaultTimeout,
                               qint64 outputLimit = kDefaultOutputLimit);
    /// Kills the helpers still running; their callbacks never run.
    ~ProcessHttpClient() override;

    ProcessHttpClient(const ProcessHttpClient&) = delete;
    ProcessHttpClient& operator=(const ProcessHttpClient&) = delete;

    void get(const QUrl& url, const QObject* context,
             std::function<void(std::optional<HttpResponse>)> done) override;

private:
    QString m_program;
    std::chrono::milliseconds m_timeout;
    qint64 m_outputLimit;
    QObject m_processes;  // parent of the running helpers
};
