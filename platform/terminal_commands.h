#pragma once

#include "platform/desktop.h"

#include <QString>

#include <optional>

/// The macOS opener asked to run the executable script in a new Terminal window.
Command macosTerminalCommand(const QString& scriptPath);

/// The macOS opener asked to show the log file in Console.
Command macosLogViewerCommand(const QString& logPath);

/// Where a Linux terminal is looked for: the values of PATH and TERMINAL (empty when unset).
struct TerminalSearch {
    QString path;
    QString terminal;
};

/// The user's terminal on Linux, started by full path so that it runs the script in a new window: the
/// standard launcher, then $TERMINAL, then Debian's alternative, then a list of well-known terminals.
/// Empty when none of them is installed. Looks at the file system only.
std::optional<Command> linuxTerminalCommand(const QString& scriptPath, const TerminalSearch& search);

/// The full path of the first executable regular file called `name` in the absolute directories of the
/// PATH value `path`; empty when there is none.
std::optional<QString> findOnPath(const QString& name, const QString& path);
