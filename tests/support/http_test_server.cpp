#include "http_test_server.h"

#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

using namespace Qt::StringLiterals;

HttpTestServer::HttpTestServer()
{
    EXPECT_TRUE(m_server.listen(QHostAddress::LocalHost, 0)) << m_server.errorString().toStdString();
    m_port = m_server.serverPort();
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] { onConnection(); });
}

QUrl HttpTestServer::url() const
{
    return QUrl(u"http://127.0.0.1:%1"_s.arg(m_port));
}

QUrl HttpTestServer::url(const QString& path) const
{
    QUrl address = url();
    address.setPath(path);
    return address;
}

void HttpTestServer::serve(const QString& path, CannedResponse response)
{
    m_responses.insert(path, std::move(response));
}

void HttpTestServer::close()
{
    m_server.close();
}

int HttpTestServer::requests(const QString& path) const
{
    return int(std::count(m_events.begin(), m_events.end(), Event{Kind::Request, path}));
}

int HttpTestServer::responses(const QString& path) const
{
    return int(std::count(m_events.begin(), m_events.end(), Event{Kind::Response, path}));
}

void HttpTestServer::onConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            // Only the head matters: a GET carries no body. The property marks a request already taken.
            if (socket->property("answered").toBool())
                return;
            QByteArray head = socket->property("head").toByteArray() + socket->readAll();
            socket->setProperty("head", head);
            if (!head.contains("\r\n\r\n"))
                return;
            socket->setProperty("answered", true);
            const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
            const QString target = requestLine.size() >= 2 ? QString::fromLatin1(requestLine[1]) : QString();
            const QString path = target.left(target.indexOf(u'?'));
            m_events.push_back({Kind::Request, path});
            m_heads.insert(path, head.left(head.indexOf("\r\n\r\n") + 2));
            answer(socket, path);
        });
    }
}

void HttpTestServer::answer(QTcpSocket* socket, const QString& path)
{
    const CannedResponse response = m_responses.value(path, CannedResponse{404, {}, true, {}, false});
    if (response.silent)
        return;
    QTimer::singleShot(response.delay, socket, [this, socket, path, response] {
        QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.status) + " Canned\r\n"
                           "Content-Type: application/json\r\nConnection: close\r\n" + response.headers;
        m_events.push_back({Kind::Response, path});
        if (response.endless == CannedResponse::Endless::Headers) {
            socket->write(bytes);
            trickle(socket, response);
            return;
        }
        if (response.announceLength)
            bytes += "Content-Length: " + QByteArray::number(response.length.value_or(response.body.size())) + "\r\n";
        bytes += "\r\n";
        if (response.endless == CannedResponse::Endless::Body) {
            socket->write(bytes);
            trickle(socket, response);
            return;
        }
        socket->write(bytes + response.body);
        socket->disconnectFromHost();
    });
}

void HttpTestServer::trickle(QTcpSocket* socket, const CannedResponse& response)
{
    // Until the client goes away; the timer is the socket's, so it ends with it.
    auto* timer = new QTimer(socket);
    const bool headers = response.endless == CannedResponse::Endless::Headers;
    QObject::connect(timer, &QTimer::timeout, socket, [socket, headers, count = 0]() mutable {
        socket->write(headers ? "X-Filler-" + QByteArray::number(++count) + ": more\r\n" : QByteArray(" "));
    });
    timer->start(response.interval);
}
