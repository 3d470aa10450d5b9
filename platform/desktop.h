#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

/// A program started by full path with separate arguments, never through a shell.
struct Command {
    QString program;
    QStringList arguments;

    friend bool operator==(const Command&, const Command&) = default;
};

/// What the desktop offers for showing things to the user outside the app: terminal windows,
/// a log viewer, web pages, and starting programs that nobody waits for.
class Desktop {
public:
    virtual ~Desktop() = default;

    /// The command that opens a new terminal window running the executable script; empty when this
    /// desktop has no terminal we know how to start.
    virtual std::optional<Command> terminalFor(const QString& scriptPath) const = 0;

    /// A program that shows the log file by itself; empty when the log is followed in a terminal instead.
    virtual std::optional<Command> logViewerFor(const QString& logPath) const = 0;

    /// Starts the program detached, streams inherited, never waited for. False when it could not start.
    virtual bool startDetached(const Command& command) = 0;

    /// Hands the address to the desktop's default handler for it; whether that worked is not known.
    virtual void openUrl(const QUrl& url) = 0;
};
