// kivobar-fetch [--timeout-ms MILLISECONDS] URL: fetches one address for the tray and prints what came
// back, the HTTP status on the first line and the body after it; exits 0 when a whole answer came, 1 when
// the transfer failed or did not end within its deadline, and then prints nothing.
// The tray runs it for each release check, so that the network and TLS libraries live only as long
// as one fetch and never in the long-running tray.

#include "fetch/fetch_protocol.h"
#include "fetch/network_http_client.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QCoreApplication>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

namespace {

constexpr const char* kUsage = "usage: kivobar-fetch [--timeout-ms MILLISECONDS] URL\n";

bool isDigits(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A positive whole number of milliseconds in plain digits, at most a day; nothing else.
std::optional<std::chrono::milliseconds> milliseconds(QByteArrayView text)
{
    constexpr qlonglong kDay = 24LL * 60 * 60 * 1000;
    if (!isDigits(text) || text.size() > 8)
        return std::nullopt;
    const qlonglong value = text.toLongLong();
    if (value <= 0 || value > kDay)
        return std::nullopt;
    return std::chrono::milliseconds(value);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // A server that drips its answer a byte at a time never lets the client's stall time-out fire, and
    // would otherwise keep the helper alive for as long as it likes: the whole transfer has a deadline.
    std::chrono::milliseconds deadline = fetch_protocol::kDeadline;
    const char* address = nullptr;
    if (argc == 2) {
        address = argv[1];
    } else if (argc == 4 && QByteArrayView(argv[1]) == "--timeout-ms") {
        const std::optional<std::chrono::milliseconds> given = milliseconds(argv[2]);
        if (given) {
            deadline = *given;
            address = argv[3];
        }
    }
    if (!address) {
        std::fputs(kUsage, stderr);
        return fetch_protocol::kBadUsage;
    }

    // The stall time-out can never be longer than the whole.
    NetworkHttpClient http(deadline);
    std::optional<int> exitCode;
    const auto finish = [&exitCode](int code) {
        // Whatever comes first decides; anything that comes after, such as the answer to a transfer torn
        // down at the deadline, prints nothing.
        if (exitCode)
            return;
        exitCode = code;
        QCoreApplication::exit(code);
    };
    QTimer::singleShot(deadline, &app, [&finish] { finish(fetch_protocol::kFailed); });
    http.get(QUrl(QString::fromLocal8Bit(address)), &app, [&](std::optional<HttpResponse> response) {
        if (exitCode || !response) {
            finish(fetch_protocol::kFailed);
            return;
        }
        const QByteArray status = fetch_protocol::statusLine(response->status);
        std::fwrite(status.constData(), 1, size_t(status.size()), stdout);
        std::fwrite(response->body.constData(), 1, size_t(response->body.size()), stdout);
        finish(std::fflush(stdout) == 0 && !std::ferror(stdout) ? fetch_protocol::kAnswered : fetch_protocol::kFailed);
    });
    if (!exitCode)
        QCoreApplication::exec();
    return exitCode.value_or(fetch_protocol::kFailed);
}
