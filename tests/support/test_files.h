#pragma once

#include <QByteArray>
#include <QString>

#include "qt_printers.h"

#include <chrono>
#include <functional>

#include <sys/stat.h>

/// Writes the bytes to the path, creating missing directories; fails the test when it cannot.
void writeFile(const QString& path, const QByteArray& bytes, int mode = 0644);

/// The whole file, or nothing when it cannot be read.
QByteArray readWholeFile(const QString& path);

/// The permission bits of the entry itself (a link is not followed); 0 when there is none.
mode_t modeOf(const QString& path);

/// Sets the process's umask for the life of the object.
class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : m_previous(::umask(mask)) {}
    ~UmaskGuard() { ::umask(m_previous); }
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;

private:
    mode_t m_previous;
};

/// Runs the event loop until `done` answers true; false when the deadline passed first.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds deadline = std::chrono::seconds(20));

/// The absolute path of the stand-in agent's files in the source tree.
QString standInAgentDir();
