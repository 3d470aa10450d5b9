#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

/// What one run of the agent tool, or a run of steps that stops at the first failure, came to: whether it
/// succeeded, and the line to show if it did not.
struct StepOutcome {
    bool succeeded = false;
    QString lastLine;
};

/// Follows a process's output chunk by chunk and keeps only what its last non-empty line needs.
/// A line feed ends a line unless a carriage return comes right before it; pieces are never trimmed.
class LastLine {
public:
    /// How much of a line is kept at most: its last bytes, starting on a character boundary.
    static constexpr qsizetype kKeptBytes = 64 * 1024;

    /// Takes the next bytes of the output; a character may be split across two calls.
    void feed(QByteArrayView bytes);

    /// The last non-empty line of everything fed, or "Failed" when there is none or it was not all UTF-8.
    QString result() const;

private:
    void checkUtf8(QByteArrayView bytes);
    static void keepTail(QByteArray& kept, QByteArrayView more);

    QByteArray m_line;     // the last complete non-empty piece, at most kKeptBytes
    QByteArray m_partial;  // the piece not yet ended by a line feed, at most kKeptBytes
    char m_previous = 0;   // the last byte fed, for a carriage return split from its line feed

    // UTF-8 validation of the whole stream: continuation bytes still expected and their allowed range.
    int m_utf8Pending = 0;
    unsigned char m_utf8Lower = 0x80;
    unsigned char m_utf8Upper = 0xBF;
    bool m_utf8Broken = false;
};

/// The last non-empty line of a whole output, by the same rule as LastLine.
QString lastLine(QByteArrayView output);

/// Runs the tool with the arguments and waits for it; blocks, so never on the main thread. Standard input is
/// the null device; standard output and standard error share one pipe, read until its end, or, once the tool
/// has exited, until it has been quiet for 2 s (10 s at most). Processes still holding it are left running.
StepOutcome runStep(const QString& toolPath, const QStringList& arguments);
