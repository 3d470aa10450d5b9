#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/types.h>

/// The script that removes its own file and then replaces its shell with `commandLine`, which is written
/// unchanged and must already be a complete /bin/sh command line; UTF-8.
QByteArray terminalScriptText(const QString& commandLine);

/// "kivo-", a fresh upper-case version 4 UUID and ".command": a new name on every call.
QString terminalScriptName();

/// True when a directory of this owner and mode may hold a script that a terminal is about to run: it is the
/// user's own, or root's with the sticky bit (as /tmp), and nobody else may write to it unless the sticky bit
/// keeps them from entries that are not theirs. With `privateOnly`, group and others may not even enter it.
bool fitForScripts(uid_t owner, mode_t mode, uid_t user, bool privateOnly = false);

/// A directory judged fit for terminal scripts, held open: scripts are written through its descriptor, so the
/// directory that was judged is the one written to, whatever happens to its path meanwhile.
class ScriptDirectory {
public:
    /// Opens the directory at the absolute `path` and judges it: its last component may not be a symbolic link,
    /// and it and every directory above it must be fit for scripts, so that no other user can put another file
    /// in place of the script before the terminal opens it. Empty when it does not pass.
    static std::optional<ScriptDirectory> open(const QString& path, bool privateOnly = false);

    ScriptDirectory(ScriptDirectory&& other) noexcept;
    ScriptDirectory& operator=(ScriptDirectory&& other) noexcept;
    ~ScriptDirectory();

    /// The directory's absolute path with no symbolic links in it: what a terminal is given.
    const QString& path() const { return m_path; }
    int descriptor() const { return m_fd; }

private:
    ScriptDirectory(int fd, QString path);

    int m_fd = -1;
    QString m_path;
};

/// Where terminal scripts may go, best first; empty entries are skipped.
struct ScriptPlaces {
    QString runtime;    ///< the login session's runtime directory (XDG_RUNTIME_DIR): taken only when private
    QString temporary;  ///< the user's directory for temporary files (TMPDIR)
    QString system;     ///< the system's directory for temporary files (/tmp)
    QString cache;      ///< the user's cache directory, in which a private "kivobar" folder is made when missing
};

/// The places of this process: XDG_RUNTIME_DIR, TMPDIR, /tmp, then XDG_CACHE_HOME or ~/.cache.
ScriptPlaces scriptPlacesFromEnvironment();

/// Writes the script for `commandLine` as `name` in the directory, where nothing may have that name yet; the
/// file appears complete, with mode 0700, and is never open to group or others at any moment. False when it
/// could not be written; then nothing of it is left.
bool writeTerminalScript(const ScriptDirectory& directory, const QString& name, const QString& commandLine);

/// A script written for a terminal to run, with the directory it was written through still open.
class TerminalScript {
public:
    /// Writes the script for `commandLine` under a fresh name (terminalScriptName) in the first of the places
    /// that is fit for scripts and takes it; empty when none does.
    static std::optional<TerminalScript> write(const ScriptPlaces& places, const QString& commandLine);

    /// Where the script is, as a terminal is to be given it.
    QString path() const;
    /// Removes the script, for when no terminal will run it.
    void remove();

private:
    TerminalScript(ScriptDirectory directory, QString name);

    ScriptDirectory m_directory;
    QString m_name;
};
