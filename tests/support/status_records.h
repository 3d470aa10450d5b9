#pragma once

#include "service/status.h"

#include <QByteArray>
#include <QString>

#include <optional>

/// The text of a timestamp as the agent writes it: RFC 3339 in UTC, with microseconds.
QByteArray isoText(Timestamp t);

/// The clock now, as a status record's time.
Timestamp timestampNow();

/// A status record as the agent writes it; change what a test needs before asking for its text.
struct StatusRecord {
    std::optional<qint64> pid;                        ///< empty: this test process, which is alive
    QByteArray version = "1.4.2";
    Timestamp updatedAt = timestampNow();
    std::optional<QByteArray> relays = R"(["eu-1"])";  ///< JSON text; empty leaves the key out
    qint64 clients = 2;
    std::optional<QByteArray> needsYou;                ///< JSON text; empty leaves the key out

    QByteArray json() const;
};

/// Writes `bytes` as the agent home's status file, creating its folder.
void writeStatusFile(const QString& home, const QByteArray& bytes);
