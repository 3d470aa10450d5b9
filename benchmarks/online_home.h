// An agent home whose agent is online, for the benchmarks: a tool to find and a fresh status record.
#pragma once

#include <QByteArray>
#include <QTemporaryDir>

/// A status record of this process, online through two relays, with `sessions` entries waiting.
QByteArray onlineStatus(int sessions);

/// A temporary agent home holding `bin/kivo` and `run/status.json` as onlineStatus(sessions) writes it.
struct OnlineHome {
    explicit OnlineHome(int sessions);
    QTemporaryDir dir;
    QByteArray status;
};
