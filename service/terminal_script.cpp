// The self-deleting scripts that terminal windows run, and the directories they may go in. A script is
// executed as this user by a process that opens it by its path later, so no other user may get a chance
// to read it, change it, or put another file in its place.

#include "service/terminal_script.h"

#include <QDir>
#include <QFile>
#include <QUuid>
#include <QtGlobal>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr mode_t kOwnerOnly = S_IRWXU;

void closeDescriptor(int fd)
{
    // Retrying close after EINTR may close a descriptor another thread just opened: never retry.
    ::close(fd);
}

bool writeAll(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

// The execute bit is set through the descriptor because the mode given at creation loses what the umask
// takes away; the file is never open to group or others, whatever the umask.
bool fillScript(int fd, QByteArrayView text)
{
    return ::fchmod(fd, kOwnerOnly) == 0 && writeAll(fd, text);
}

enum class Written { Yes, No, TryNamed };

// The script as a file with no name at all (O_TMPFILE) until it is complete, then linked under `name`.
Written writeUnnamed(int directory, const char* name, QByteArrayView text)
{
    const int fd = ::openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, kOwnerOnly);
    if (fd < 0)
        return Written::TryNamed;  // a file system or kernel without O_TMPFILE
    if (!fillScript(fd, text)) {
        closeDescriptor(fd);
        return Written::No;
    }
    // Linking a descriptor directly (AT_EMPTY_PATH) needs a capability; its /proc entry does not.
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    const bool linked = ::linkat(AT_FDCWD, self, directory, name, AT_SYMLINK_FOLLOW) == 0;
    const int error = errno;
    closeDescriptor(fd);
    if (linked)
        return Written::Yes;
    return error == ENOENT ? Written::TryNamed : Written::No;  // ENOENT: no /proc to link through
}

// The script under a temporary name made for it, then linked under `name`, which refuses to replace a file.
bool writeNamed(int directory, const QByteArray& name, QByteArrayView text)
{
    const QByteArray temporary = '.' + name + ".part";
    const int fd = ::openat(directory, temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly);
    if (fd < 0)
        return false;
    bool written = fillScript(fd, text);
    written = ::close(fd) == 0 && written;
    written = written && ::linkat(directory, temporary.constData(), directory, name.constData(), 0) == 0;
    ::unlinkat(directory, temporary.constData(), 0);
    return written;
}

// A directory on the way to a place for scripts: one in which nobody but root and us may rename or
// remove entries, so nobody else can put another directory where ours is.
bool safeOnTheWay(const struct stat& info, uid_t user)
{
    const bool sticky = (info.st_mode & S_ISVTX) != 0;
    return S_ISDIR(info.st_mode) && (info.st_uid == user || info.st_uid == 0)
        && (sticky || (info.st_mode & (S_IWGRP | S_IWOTH)) == 0);
}

// The path of the open directory `fd`, with no symbolic links in it, when every directory above it is safe
// on the way; empty otherwise. The path is the kernel's own record of where the directory is (or, without
// /proc, `path` resolved again), and it is walked from the root, one directory opened inside the last, to
// judge each and to make sure that it still leads to `fd`.
std::optional<QByteArray> pathSafeFromTheRoot(int fd, const QByteArray& path, const struct stat& target, uid_t user)
{
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    QByteArray resolved(PATH_MAX, Qt::Uninitialized);
    const ssize_t length = ::readlink(self, resolved.data(), size_t(resolved.size()));
    if (length > 0 && length < resolved.size()) {
        resolved.truncate(length);
    } else {
        char* real = ::realpath(path.constData(), nullptr);
        if (!real)
            return std::nullopt;
        resolved = real;
        std::free(real);
    }
    if (!resolved.startsWith('/'))
        return std::nullopt;  // a directory outside this process's view of the file system

    int current = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const QByteArray& component : resolved.split('/')) {
        if (current < 0)
            return std::nullopt;
        if (component.isEmpty())
            continue;
        struct stat info {};
        const bool safe = ::fstat(current, &info) == 0 && safeOnTheWay(info, user);
        constexpr int kStep = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        const int next = safe ? ::openat(current, component.constData(), kStep) : -1;
        closeDescriptor(current);
        current = next;
    }
    if (current < 0)
        return std::nullopt;
    struct stat reached {};
    const bool same = ::fstat(current, &reached) == 0 && reached.st_dev == target.st_dev
        && reached.st_ino == target.st_ino;
    closeDescriptor(current);
    if (!same)
        return std::nullopt;
    return resolved;
}

}  // namespace

QByteArray terminalScriptText(const QString& commandLine)
{
    // The script removes itself before anything else can fail, and `exec` makes the command the window's
    // own process, so nothing is left behind when it ends.
    return u"#!/bin/sh\nrm -f \"$0\"\nexec "_s.toUtf8() + commandLine.toUtf8() + '\n';
}

QString terminalScriptName()
{
    return u"kivo-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u".command"_s;
}

bool fitForScripts(uid_t owner, mode_t mode, uid_t user, bool privateOnly)
{
    const bool sticky = (mode & S_ISVTX) != 0;
    if (owner != user && !(owner == 0 && sticky))
        return false;  // the owner of a directory may always rename or remove what is in it
    if (privateOnly)
        return (mode & (S_IRWXG | S_IRWXO)) == 0;
    return sticky || (mode & (S_IWGRP | S_IWOTH)) == 0;
}

ScriptDirectory::ScriptDirectory(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}

ScriptDirectory::ScriptDirectory(ScriptDirectory&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path))
{
}

ScriptDirectory& ScriptDirectory::operator=(ScriptDirectory&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            closeDescriptor(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

ScriptDirectory::~ScriptDirectory()
{
    if (m_fd >= 0)
        closeDescriptor(m_fd);
}

std::optional<ScriptDirectory> ScriptDirectory::open(const QString& path, bool privateOnly)
{
    // Relative paths are refused: the terminal that runs the script starts in another directory.
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return std::nullopt;
    // Judged through the open directory, never by its path, so that what is judged is what is written to;
    // O_NOFOLLOW refuses a symbolic link in the last component, which anybody may point at our directory.
    const QByteArray encoded = QFile::encodeName(path);
    const int fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const uid_t user = ::geteuid();
    struct stat info {};
    std::optional<QByteArray> resolved;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && fitForScripts(info.st_uid, info.st_mode, user, privateOnly))
        resolved = pathSafeFromTheRoot(fd, encoded, info, user);
    if (!resolved) {
        closeDescriptor(fd);
        return std::nullopt;
    }
    return ScriptDirectory(fd, QFile::decodeName(*resolved));
}

ScriptPlaces scriptPlacesFromEnvironment()
{
    // Relative values of the XDG variables are to be ignored, and are refused later anyway.
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (!QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + u"/.cache"_s;
    return {
        .runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"),
        .temporary = qEnvironmentVariable("TMPDIR"),
        .system = u"/tmp"_s,
        .cache = cache,
    };
}

bool writeTerminalScript(const ScriptDirectory& directory, const QString& name, const QString& commandLine)
{
    if (name.isEmpty() || name.contains(u'/'))
        return false;
    const QByteArray encodedName = QFile::encodeName(name);
    const QByteArray text = terminalScriptText(commandLine);
    switch (writeUnnamed(directory.descriptor(), encodedName.constData(), text)) {
    case Written::Yes:
        return true;
    case Written::No:
        return false;
    case Written::TryNamed:
        break;
    }
    return writeNamed(directory.descriptor(), encodedName, text);
}

TerminalScript::TerminalScript(ScriptDirectory directory, QString name)
    : m_directory(std::move(directory)), m_name(std::move(name))
{
}

std::optional<TerminalScript> TerminalScript::write(const ScriptPlaces& places, const QString& commandLine)
{
    const QString name = terminalScriptName();
    const auto writeIn = [&](std::optional<ScriptDirectory> directory) -> std::optional<TerminalScript> {
        if (!directory || !writeTerminalScript(*directory, name, commandLine))
            return std::nullopt;
        return TerminalScript(std::move(*directory), name);
    };
    // The runtime directory is meant to be the user's alone for the login session; one that others may even
    // enter is not what it should be, and the next place is taken instead. A place that is fit but cannot
    // take the script (full, read-only) passes the turn on as well.
    if (std::optional<TerminalScript> script = writeIn(ScriptDirectory::open(places.runtime, true)))
        return script;
    for (const QString& shared : {places.temporary, places.system}) {
        if (std::optional<TerminalScript> script = writeIn(ScriptDirectory::open(shared)))
            return script;
    }
    // Last, a folder of our own, made private when it is made; one found in place is judged like the others.
    if (!QDir::isAbsolutePath(places.cache))
        return std::nullopt;
    const QString own = places.cache + u"/kivobar"_s;
    ::mkdir(QFile::encodeName(places.cache).constData(), kOwnerOnly);
    if (::mkdir(QFile::encodeName(own).constData(), kOwnerOnly) == 0)
        ::chmod(QFile::encodeName(own).constData(), kOwnerOnly);  // the umask may have taken bits we need
    return writeIn(ScriptDirectory::open(own));
}

QString TerminalScript::path() const
{
    return m_directory.path() + u'/' + m_name;
}

void TerminalScript::remove()
{
    ::unlinkat(m_directory.descriptor(), QFile::encodeName(m_name).constData(), 0);
}
