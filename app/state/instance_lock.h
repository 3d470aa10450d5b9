#pragma once

#include "service/terminal_script.h"

#include <QString>

#include <optional>

/// Keeps a second tray from running for the same user and agent home. The lock is the kernel's lock on
/// an open file: it goes with the process that holds it, so a crashed tray never blocks the next start.
class InstanceLock {
public:
    /// Tries to take the lock for `agentHome` in `directory`, keyed on the home's identity, so that every
    /// spelling of one home takes the same lock; a lock this process inherited from the tray program it was
    /// before is its own. Without a directory, no lock is taken.
    InstanceLock(const std::optional<ScriptDirectory>& directory, const QString& agentHome);
    /// Lets the lock go.
    ~InstanceLock();

    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    /// True when this process holds the lock.
    bool held() const { return m_fd >= 0; }
    /// True when another process holds the lock.
    bool heldElsewhere() const { return m_heldElsewhere; }

    /// Lets the program this process is about to become inherit the lock (`keep`), so that it is never free
    /// between, or keeps it from the programs it starts again, once that failed.
    void keepAcrossExec(bool keep);

    /// Where the locks of the user `uid` go, judged through the open folder as terminal scripts' folders
    /// are: the user's runtime folder under `runtimeRoot` (/run/user/UID) when it is the user's alone, else a
    /// private "kivobar" folder in the cache folder of `userHome`, made when missing. Empty when neither
    /// passes. Read from the system, not the environment, so every tray of the user agrees on it.
    static std::optional<ScriptDirectory> userDirectory(uint uid, const QString& userHome,
                                                         const QString& runtimeRoot = QStringLiteral("/run/user"));

    /// userDirectory() for this process's user, whose home the password database names.
    static std::optional<ScriptDirectory> userDirectory();

    /// The process that holds the lock for `agentHome` in `directory` now, as the kernel's table of locks
    /// (/proc/locks) names it, without taking the lock; empty when none does. Also a holder's own process id.
    static std::optional<qint64> holder(const ScriptDirectory& directory, const QString& agentHome);

private:
    int m_fd = -1;
    bool m_heldElsewhere = false;
};
