#pragma once

#include "service/http_client.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

/// A menu bar app release newer than this one.
struct BarUpdate {
    QString version;
    QUrl url;

    friend bool operator==(const BarUpdate&, const BarUpdate&) = default;
};

/// The "version" of a release manifest body, whatever the status it came with; empty when the body
/// is no JSON object or its version is missing or unusable. Pure; safe on any thread.
std::optional<QString> readReleaseManifest(const QByteArray& body);

/// The release a menu bar manifest names, when it came with status 200, its version is usable and its
/// "url" is an http or https address with a host; empty otherwise. Newness is not judged here. Pure.
std::optional<BarUpdate> readBarManifest(const HttpResponse& response);
