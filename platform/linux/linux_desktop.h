#pragma once

#include "platform/desktop.h"
#include "platform/terminal_commands.h"

#include <QProcessEnvironment>

/// The Linux desktop: the user's terminal found through the given environment, the log followed in it,
/// addresses opened through the desktop portal or xdg-open.
class LinuxDesktop : public Desktop {
public:
    /// Takes PATH and TERMINAL from `environment` once; later changes to it are not seen.
    explicit LinuxDesktop(const QProcessEnvironment& environment);

    std::optional<Command> terminalFor(const QString& scriptPath) const override;
    std::optional<Command> logViewerFor(const QString& logPath) const override;
    bool startDetached(const Command& command) override;
    void openUrl(const QUrl& url) override;

private:
    TerminalSearch m_search;
};
