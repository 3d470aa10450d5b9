#pragma once

#include "platform/desktop.h"

#include <functional>
#include <vector>

/// A desktop that starts nothing: it records each command it is asked to start. Its terminal is
/// "/fake/terminal" with the script path as the only argument, unless it has none; its log viewer is
/// whatever `logViewer` gives.
class FakeDesktop : public Desktop {
public:
    std::optional<Command> terminalFor(const QString& scriptPath) const override
    {
        if (!hasTerminal)
            return std::nullopt;
        return Command{QStringLiteral("/fake/terminal"), {scriptPath}};
    }

    std::optional<Command> logViewerFor(const QString& logPath) const override
    {
        return logViewer ? logViewer(logPath) : std::nullopt;
    }

    bool startDetached(const Command& command) override
    {
        started.push_back(command);
        return startSucceeds;
    }

    void openUrl(const QUrl& url) override { opened.push_back(url); }

    /// False for a desktop that knows no terminal.
    bool hasTerminal = true;
    /// What startDetached answers, after recording the command.
    bool startSucceeds = true;

    /// Empty (the default) for a desktop that follows the log in a terminal.
    std::function<std::optional<Command>(const QString&)> logViewer;
    /// Every command passed to startDetached, oldest first.
    std::vector<Command> started;
    /// Every address passed to openUrl, oldest first.
    std::vector<QUrl> opened;
};
