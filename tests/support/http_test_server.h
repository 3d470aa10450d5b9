#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <chrono>
#include <optional>
#include <vector>

class QTcpSocket;

/// How the test server answers one path.
struct CannedResponse {
    /// Ways of answering that never end, as a hostile server may.
    enum class Endless {
        No,
        Body,     ///< status line and headers, then one byte of the body per `interval`, for ever
        Headers,  ///< status line, then one more header line per `interval`, for ever
    };

    int status = 200;
    QByteArray body;
    bool announceLength = true;          ///< false: no Content-Length, the body ends when the connection closes
    std::chrono::milliseconds delay{0};  ///< how long the server waits before answering
    bool silent = false;                 ///< accept the request and never answer
    QByteArray headers;                  ///< more header lines, each ended by CR LF
    std::optional<qint64> length;        ///< the Content-Length announced instead of the body's own
    Endless endless = Endless::No;
    std::chrono::milliseconds interval{1'000};  ///< the pace of an endless answer
};

/// A minimal HTTP/1.1 server on 127.0.0.1 with an ephemeral port; one request per connection.
class HttpTestServer {
public:
    enum class Kind { Request, Response };

    /// One thing that happened, in the order it happened.
    struct Event {
        Kind kind;
        QString path;

        friend bool operator==(const Event&, const Event&) = default;
    };

    /// Starts listening at once; fails the current test when it cannot.
    HttpTestServer();

    /// The server's root, e.g. http://127.0.0.1:41234 (no trailing slash).
    QUrl url() const;
    /// The address of `path` on the server.
    QUrl url(const QString& path) const;
    /// Answers requests for `path` with `response` from now on; unknown paths get 404 with no body.
    /// The answer is sent from the event loop, which must run while a client waits for it.
    void serve(const QString& path, CannedResponse response);
    /// Stops accepting connections, so further requests are refused.
    void close();

    int requests(const QString& path) const;
    /// The request line and headers of the last request for `path`; empty when none came.
    QByteArray requestHead(const QString& path) const { return m_heads.value(path); }
    int responses(const QString& path) const;
    const std::vector<Event>& events() const { return m_events; }
    void clearEvents() { m_events.clear(); }

private:
    void onConnection();
    void answer(QTcpSocket* socket, const QString& path);
    void trickle(QTcpSocket* socket, const CannedResponse& response);

    QTcpServer m_server;
    quint16 m_port = 0;
    QHash<QString, CannedResponse> m_responses;
    QHash<QString, QByteArray> m_heads;
    std::vector<Event> m_events;
};
