#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <chrono>
#include <optional>

/// How the fetch helper (`kivobar-fetch`) and the tray's client of it speak: the helper prints the HTTP
/// status on its first line and the body after it, and says by its exit status whether that is all.
namespace fetch_protocol {

/// The helper printed a whole answer.
inline constexpr int kAnswered = 0;
/// The transfer failed or did not end in time; nothing was printed.
inline constexpr int kFailed = 1;
/// The helper was called wrongly.
inline constexpr int kBadUsage = 2;

/// The largest body the helper passes on; a longer one is a failed transfer.
inline constexpr qint64 kBodyLimit = 1'048'576;
/// The longest the status line can be: three digits and its line feed.
inline constexpr qint64 kStatusLineLimit = 4;
/// The whole transfer, from the connection to the last byte of the body, gets this long by default.
inline constexpr std::chrono::milliseconds kDeadline{60'000};

/// The status line for `status` (0 when the answer was not HTTP).
inline QByteArray statusLine(int status)
{
    return QByteArray::number(status) + '\n';
}

/// The status from the helper's first line without its line feed: one to three plain digits, nothing
/// else. Anything looser would take a helper's garbled or partial output for an answer.
inline std::optional<int> statusFrom(QByteArrayView line)
{
    if (line.isEmpty() || line.size() > kStatusLineLimit - 1
        || !std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return int(line.toInt());
}

}  // namespace fetch_protocol
