#pragma once

#include <QByteArray>
#include <QString>

/// The script that removes its own file and then replaces its shell with `commandLine`, which is written
/// unchanged and must already be a complete /bin/sh command line; UTF-8.
QByteArray terminalScriptText(const QString& commandLine);

/// "kivo-", a fresh upper-case version 4 UUID and ".command": a new name on every call.
QString terminalScriptName();

/// Writes the script for `commandLine` to `path`, which must not exist yet; the file appears complete and with
/// mode 0700, and is never open to group or others at any moment. False when it could not be written.
bool writeTerminalScript(const QString& path, const QString& commandLine);

/// `runtimeDirectory` (the XDG_RUNTIME_DIR value) when it is an absolute path to a directory of this user that
/// only this user may enter, else the system's directory for temporary files.
QString userTemporaryDirectory(const QString& runtimeDirectory);

/// The per-user directory for temporary files of this process, from its environment.
QString userTemporaryDirectory();
