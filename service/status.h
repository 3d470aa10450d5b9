#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

/// A point in time with microsecond resolution, in UTC.
using Timestamp = std::chrono::sys_time<std::chrono::microseconds>;

/// 0001-01-01T00:00:00Z: what an unreadable `updated_at` becomes, so the record counts as stale.
inline constexpr Timestamp kDistantPast =
    std::chrono::sys_days{std::chrono::year{1} / std::chrono::January / 1};

/// One agent session that waits for the user. Identity is the whole value.
struct NeedsYou {
    QString agent;
    QString where;
    std::optional<QString> detail;
    std::optional<QString> session;
    std::optional<QString> window;
    std::optional<QString> run;

    friend bool operator==(const NeedsYou&, const NeedsYou&) = default;
};

/// Hash over the six fields in order, with a presence byte before each optional one.
size_t qHash(const NeedsYou& entry, size_t seed = 0) noexcept;

/// The record the running agent keeps in run/status.json.
struct Status {
    qint64 pid = 0;
    QString name;
    QString version;
    Timestamp updatedAt = kDistantPast;
    std::optional<QStringList> relays;  ///< absent when the key is missing or null
    qint64 clients = 0;
    std::optional<QString> lastError;
    std::optional<std::vector<NeedsYou>> needsYou;  ///< absent when the key is missing or null
};

/// Empty when the bytes are not a status record we accept (all or nothing). Pure; safe on any thread.
std::optional<Status> decodeStatus(QByteArrayView bytes);

/// An RFC 3339 date-time with or without fractional seconds; empty when the text is not one.
std::optional<Timestamp> parseInternetDateTime(QStringView text);
