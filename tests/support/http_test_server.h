#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <chrono>
#include <vector>

class QTcpSocket;

/// How the test server answers one path.
struct CannedResponse {
    int status = 200;
    QByteArray body;
    bool announceLength = true;          ///< false: no Content-Length, the body ends when the connection closes
    std::chrono::milliseconds delay{0};  ///< how long the server waits before answering
    bool silent = false;                 ///< accept the request and never answer
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
    /// Answers requests for `path` with `response` from now on; unknown paths get 404 with no body.
    void serve(const QString& path, CannedResponse response);
    /// Stops accepting connections, so further requests are refused.
    void close();

    int requests(const QString& path) const;
    int responses(const QString& path) const;
    const std::vector<Event>& events() const { return m_events; }
    void clearEvents() { m_events.clear(); }

private:
    void onConnection();
    void answer(QTcpSocket* socket, const QString& path);

    QTcpServer m_server;
    quint16 m_port = 0;
    QHash<QString, CannedResponse> m_responses;
    std::vector<Event> m_events;
};
