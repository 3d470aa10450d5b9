// kivobar-fetch URL: fetches one address for the tray and prints what came back, the HTTP status on
// the first line and the body after it; exits 0 when an answer came, 1 when the transfer failed.
// The tray runs it for each release check, so that the network and TLS libraries live only as long
// as one fetch and never in the long-running tray.

#include "network_http_client.h"

#include <QCoreApplication>
#include <QUrl>

#include <cstdio>
#include <optional>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: kivobar-fetch URL\n", stderr);
        return 2;
    }
    NetworkHttpClient http;
    std::optional<int> exitCode;
    http.get(QUrl(QString::fromLocal8Bit(argv[1])), &app, [&exitCode](std::optional<HttpResponse> response) {
        if (response) {
            std::printf("%d\n", response->status);
            std::fwrite(response->body.constData(), 1, size_t(response->body.size()), stdout);
        }
        exitCode = response && std::fflush(stdout) == 0 ? 0 : 1;
        QCoreApplication::exit(*exitCode);
    });
    if (!exitCode)
        QCoreApplication::exec();
    return exitCode.value_or(1);
}
