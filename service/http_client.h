#pragma once

#include <QByteArray>
#include <QUrl>

#include <functional>
#include <optional>

class QObject;

/// What a plain GET brought back: the HTTP status and the body, or nothing when the transfer failed.
struct HttpResponse {
    int status = 0;  ///< 0 when the response was not HTTP
    QByteArray body;
};

/// Fetches small documents without blocking the calling (main) thread.
class HttpClient {
public:
    virtual ~HttpClient() = default;

    /// Starts a GET; `done` runs later on the calling thread with the response, or with nothing on any
    /// transport failure, time-out or oversized body. It never runs once `context` is destroyed.
    virtual void get(const QUrl& url, const QObject* context,
                     std::function<void(std::optional<HttpResponse>)> done) = 0;
};
