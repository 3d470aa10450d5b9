#pragma once

#include <QStringList>

/// How reachable this computer is, as derived from the agent home.
class Reach {
public:
    enum class Kind { Online, NotSetUp, Stopped, Connecting };

    static Reach online(QStringList relays, qint64 clients) { return Reach(Kind::Online, std::move(relays), clients); }
    static Reach notSetUp() { return Reach(Kind::NotSetUp); }
    static Reach stopped() { return Reach(Kind::Stopped); }
    static Reach connecting() { return Reach(Kind::Connecting); }

    Kind kind() const { return m_kind; }
    bool is(Kind kind) const { return m_kind == kind; }
    /// Relays and client count; both empty unless the kind is Online.
    const QStringList& relays() const { return m_relays; }
    qint64 clients() const { return m_clients; }

    friend bool operator==(const Reach&, const Reach&) = default;

private:
    explicit Reach(Kind kind, QStringList relays = {}, qint64 clients = 0)
        : m_kind(kind), m_relays(std::move(relays)), m_clients(clients) {}

    Kind m_kind;
    QStringList m_relays;
    qint64 m_clients;
};

/// Which case of the refresh decided the state: what makes it less than online.
enum class ReachReason {
    None,        ///< online
    NoTool,      ///< the agent tool is missing or not executable
    NotSetUp,    ///< no status record could be read, and the set-up marker is missing
    NoRecord,    ///< no status record could be read, though this computer is set up
    NotRunning,  ///< the record names a process that is not running
    Stale,       ///< the record is older than 30 seconds
    NoRelay,     ///< the agent runs and its record is fresh, but it has no relay yet
};
