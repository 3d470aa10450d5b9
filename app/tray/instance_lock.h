#pragma once

#include <QString>

#include <optional>

/// Keeps a second tray from running for the same user and agent home. The lock is the kernel's lock on
/// an open file: it goes with the process that holds it, so a crashed tray never blocks the next start.
class InstanceLock {
public:
    /// Tries to take the lock for `agentHome` (absolute) in the private `directory`.
    InstanceLock(const QString& directory, const QString& agentHome);
    /// Lets the lock go.
    ~InstanceLock();

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    /// True when this process holds the lock.
    bool held() const { return m_fd >= 0; }
    /// The process that holds the lock instead of us; empty when we hold it, or when it cannot be told.
    std::optional<qint64> holder() const { return m_holder; }
    /// True when another process holds the lock.
    bool heldElsewhere() const { return m_heldElsewhere; }

    /// Lets the program this process is about to become inherit the lock, so that it is never free between.
    void keepAcrossExec();

    /// Where a user's lock belongs: the session's runtime directory when it is private, else a private
    /// folder of ours in the user's cache; empty when neither can be had.
    static QString userDirectory();

private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
    std::optional<qint64> m_holder;
};
