#pragma once

#include "platform/login_item.h"
#include "qt_printers.h"
#include "service/http_client.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <map>

/// Answers each GET from a table keyed by the URL's path, on the next turn of the event loop; a path
/// that is not in the table fails like a transport error.
class FakeHttpClient : public HttpClient {
public:
    void get(const QUrl& url, const QObject* context,
             std::function<void(std::optional<HttpResponse>)> done) override
    {
        const auto found = responses.find(url.path());
        std::optional<HttpResponse> response = found == responses.end() ? std::nullopt : found->second;
        QTimer::singleShot(0, context, [done = std::move(done), response] { done(response); });
    }

    std::map<QString, std::optional<HttpResponse>> responses;
};

/// A login item whose status is a plain flag; queued refusals are handed out one per change.
class FakeLoginItem : public LoginItem {
public:
    bool enabled() const override { return status; }

    Outcome setEnabled(bool on) override
    {
        requests.push_back(on);
        if (!refusals.empty()) {
            Outcome refusal{false, refusals.front()};
            refusals.pop_front();
            return refusal;
        }
        status = on;
        return {};
    }

    bool status = false;
    std::deque<QString> refusals;
    std::vector<bool> requests;
};
