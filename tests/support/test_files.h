#pragma once

#include <QByteArray>
#include <QString>

#include "qt_printers.h"

#include <chrono>
#include <functional>

/// Writes the bytes to the path, creating missing directories; fails the test when it cannot.
void writeFile(const QString& path, const QByteArray& bytes, int mode = 0644);

/// Runs the event loop until `done` answers true; false when the deadline passed first.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds deadline = std::chrono::seconds(20));

/// The absolute path of the stand-in agent's files in the source tree.
QString standInAgentDir();
