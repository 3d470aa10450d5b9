#pragma once

#include <QtGlobal>

/// The id of a process that has exited and been reaped, so that probing it finds nothing.
qint64 reapedProcessId();

/// A child process that sleeps until the object goes away; then it is killed and reaped.
class LiveChild {
public:
    LiveChild();
    ~LiveChild();
    LiveChild(const LiveChild&) = delete;
    LiveChild& operator=(const LiveChild&) = delete;
    qint64 pid() const { return m_pid; }

private:
    qint64 m_pid = 0;
};
