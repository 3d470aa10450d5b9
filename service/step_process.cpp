#include "service/step_process.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

extern char** environ;

namespace {

bool isContinuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

QString failedText()
{
    return u"Failed"_s;
}

QString errorText(int error)
{
    char buffer[256] = {};
    // The GNU strerror_r, thread-safe unlike strerror; it may return a static text instead of filling the buffer.
    return QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
}

void closeDescriptor(int fd)
{
    // Retrying close after EINTR may close a descriptor another thread just opened: never retry.
    ::close(fd);
}

// Keeps a pipe end clear of 0, 1 and 2: the child's dup2 onto its standard streams would otherwise
// leave that descriptor with close-on-exec set, or close it before it is copied.
bool moveAboveStandardStreams(int& fd)
{
    if (fd > STDERR_FILENO)
        return true;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0)
        return false;
    closeDescriptor(fd);
    fd = moved;
    return true;
}

StepOutcome startFailure(const QString& toolPath, int error)
{
    const QString description = u"Couldn't start %1: %2"_s.arg(toolPath, errorText(error));
    return {false, lastLine(description.toUtf8())};
}

class SpawnSettings {
public:
    SpawnSettings()
    {
        m_actionsReady = ::posix_spawn_file_actions_init(&m_actions) == 0;
        m_attributesReady = ::posix_spawnattr_init(&m_attributes) == 0;
    }
    ~SpawnSettings()
    {
        if (m_actionsReady)
            ::posix_spawn_file_actions_destroy(&m_actions);
        if (m_attributesReady)
            ::posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    // Returns 0 or the errno value of the first call that failed.
    int prepare(int writeEnd)
    {
        if (!m_actionsReady || !m_attributesReady)
            return ENOMEM;
        if (int error = ::posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0))
            return error;
        if (int error = ::posix_spawn_file_actions_adddup2(&m_actions, writeEnd, STDOUT_FILENO))
            return error;
        if (int error = ::posix_spawn_file_actions_adddup2(&m_actions, writeEnd, STDERR_FILENO))
            return error;
        // The tool should not inherit a blocked signal mask from whatever thread spawns it, nor an
        // ignored SIGPIPE, which would turn a closed reader into endless write errors.
        sigset_t none;
        sigemptyset(&none);
        sigset_t pipeOnly;
        sigemptyset(&pipeOnly);
        sigaddset(&pipeOnly, SIGPIPE);
        if (int error = ::posix_spawnattr_setsigmask(&m_attributes, &none))
            return error;
        if (int error = ::posix_spawnattr_setsigdefault(&m_attributes, &pipeOnly))
            return error;
        return ::posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }

    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attributes() const { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
    bool m_actionsReady = false;
    bool m_attributesReady = false;
};

// Once the tool has exited, more output can only come from processes it left holding the pipe, such
// as a daemon that kept its standard output. Their last lines are read while they come, but a pipe
// quiet for this long, or this long after the exit whatever comes, ends the run.
constexpr std::chrono::milliseconds kQuietAfterExit{2'000};
constexpr std::chrono::milliseconds kReadingAfterExitAtMost{10'000};

// The tool's process, and how it ended once it has.
class Tool {
public:
    explicit Tool(pid_t pid) : m_pid(pid) {}

    bool ended() const { return m_ended; }
    bool succeeded() const { return m_succeeded; }

    // Reaps the tool if it has ended, or, with `block`, once it ends.
    void reap(bool block)
    {
        if (m_ended)
            return;
        int status = 0;
        pid_t waited = 0;
        do {
            waited = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
        } while (waited < 0 && errno == EINTR);
        if (waited == 0)
            return;
        // An error here means the process can no longer be waited for (SIGCHLD ignored by someone):
        // it has ended, with no status to show that it succeeded.
        m_ended = true;
        m_succeeded = waited == m_pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    pid_t m_pid;
    bool m_ended = false;
    bool m_succeeded = false;
};

// Reads the pipe to its end on a thread of its own and throws the bytes away. The processes still
// holding it may go on writing: closing it under them would kill them with SIGPIPE at their next line.
void drainInBackground(int fd)
{
    try {
        std::thread([fd] {
            char sink[4096];
            for (;;) {
                const ssize_t count = ::read(fd, sink, sizeof sink);
                if (count > 0 || (count < 0 && errno == EINTR))
                    continue;
                break;
            }
            closeDescriptor(fd);
        }).detach();
    } catch (const std::system_error&) {
        closeDescriptor(fd);
    }
}

// A descriptor that turns readable when the process ends; -1 on kernels before 5.3. Called through
// syscall(): glibc 2.36's <sys/pidfd.h> declares its wrapper without C linkage for C++.
int openProcessDescriptor(pid_t pid)
{
    return int(::syscall(SYS_pidfd_open, pid, 0));
}

int millisecondsUntil(std::chrono::steady_clock::time_point end)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return int(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, kReadingAfterExitAtMost.count()));
}

} // namespace

void LastLine::feed(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    checkUtf8(bytes);

    // Only the last non-empty piece that ends in this chunk matters, and whatever follows the last cut.
    const char* const data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype pieceStart = 0;
    bool cut = false;
    qsizetype lastStart = -1;
    qsizetype lastEnd = -1;
    bool lastContinuesPartial = false;
    qsizetype from = 0;
    while (from < size) {
        const void* found = std::memchr(data + from, '\n', size_t(size - from));
        if (!found)
            break;
        const qsizetype at = static_cast<const char*>(found) - data;
        from = at + 1;
        const char before = at > 0 ? data[at - 1] : m_previous;
        if (before == '\r')
            continue; // CR LF is one character, and not a line feed
        if (!cut) {
            if (!m_partial.isEmpty() || at > 0) {
                lastContinuesPartial = true;
                lastEnd = at;
            }
        } else if (at > pieceStart) {
            lastContinuesPartial = false;
            lastStart = pieceStart;
            lastEnd = at;
        }
        cut = true;
        pieceStart = at + 1;
    }

    if (lastEnd >= 0) {
        if (lastContinuesPartial) {
            m_line = m_partial;
            keepTail(m_line, bytes.first(lastEnd));
        } else {
            m_line.clear();
            keepTail(m_line, bytes.sliced(lastStart, lastEnd - lastStart));
        }
    }
    if (cut)
        m_partial.clear();
    keepTail(m_partial, bytes.sliced(pieceStart));
    m_previous = data[size - 1];
}

QString LastLine::result() const
{
    if (m_utf8Broken || m_utf8Pending != 0)
        return failedText(); // output that is not UTF-8 counts as no output at all
    const QByteArray& piece = m_partial.isEmpty() ? m_line : m_partial;
    if (piece.isEmpty())
        return failedText();
    // QString::fromUtf8 would swallow a byte order mark at the start of the piece; the line keeps it.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(piece);
}

void LastLine::checkUtf8(QByteArrayView bytes)
{
    // Strict UTF-8 (no overlong forms, surrogates or code points past U+10FFFF), carried across chunks.
    for (const char signedByte : bytes) {
        if (m_utf8Broken)
            return;
        const auto byte = static_cast<unsigned char>(signedByte);
        if (m_utf8Pending > 0) {
            if (byte < m_utf8Lower || byte > m_utf8Upper) {
                m_utf8Broken = true;
                return;
            }
            m_utf8Lower = 0x80;
            m_utf8Upper = 0xBF;
            --m_utf8Pending;
        } else if (byte < 0x80) {
            continue;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            m_utf8Pending = 1;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            m_utf8Pending = 2;
            if (byte == 0xE0)
                m_utf8Lower = 0xA0;
            else if (byte == 0xED)
                m_utf8Upper = 0x9F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            m_utf8Pending = 3;
            if (byte == 0xF0)
                m_utf8Lower = 0x90;
            else if (byte == 0xF4)
                m_utf8Upper = 0x8F;
        } else {
            m_utf8Broken = true;
        }
    }
}

void LastLine::keepTail(QByteArray& kept, QByteArrayView more)
{
    if (more.size() >= kKeptBytes) {
        kept = more.last(kKeptBytes).toByteArray();
    } else {
        kept.append(more);
        if (kept.size() <= kKeptBytes)
            return;
        kept.remove(0, kept.size() - kKeptBytes);
    }
    // A cut can land inside a character; starting at the next one keeps valid output valid.
    qsizetype skip = 0;
    while (skip < kept.size() && isContinuation(kept[skip]))
        ++skip;
    kept.remove(0, skip);
}

QString lastLine(QByteArrayView output)
{
    LastLine line;
    line.feed(output);
    return line.result();
}

StepOutcome runStep(const QString& toolPath, const QStringList& arguments)
{
    const QByteArray path = QFile::encodeName(toolPath);
    std::vector<QByteArray> encoded;
    encoded.reserve(size_t(arguments.size()) + 1);
    encoded.push_back(path);
    for (const QString& argument : arguments)
        encoded.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    argv.reserve(encoded.size() + 1);
    for (QByteArray& argument : encoded)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return startFailure(toolPath, errno);
    int readEnd = ends[0];
    int writeEnd = ends[1];
    if (!moveAboveStandardStreams(readEnd) || !moveAboveStandardStreams(writeEnd)) {
        const int error = errno;
        closeDescriptor(readEnd);
        closeDescriptor(writeEnd);
        return startFailure(toolPath, error);
    }

    pid_t child = 0;
    int spawnError = 0;
    {
        SpawnSettings settings;
        spawnError = settings.prepare(writeEnd);
        // glibc reports a failed exec (missing file, no permission) as the result, not as exit status 127.
        if (spawnError == 0)
            spawnError = ::posix_spawn(&child, path.constData(), settings.actions(), settings.attributes(),
                                       argv.data(), environ);
    }
    // Only the child may hold the write end now, so end of file comes when the child and its heirs are done.
    closeDescriptor(writeEnd);
    if (spawnError != 0) {
        closeDescriptor(readEnd);
        return startFailure(toolPath, spawnError);
    }

    // Output and the tool's exit are watched together, so that a run ends when the tool has ended even
    // though some process it left behind keeps the pipe open. Without a pidfd (kernels before 5.3),
    // the exit is looked for every couple of seconds instead.
    using Clock = std::chrono::steady_clock;
    Tool tool(child);
    const int exitFd = openProcessDescriptor(child);
    Clock::time_point exitedAt;
    Clock::time_point quietSince;
    Clock::time_point nextExitCheck = Clock::now() + kQuietAfterExit;
    const auto noteExit = [&] {
        if (tool.ended())
            exitedAt = quietSince = Clock::now();
    };
    LastLine output;
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    bool endOfFile = false;
    for (;;) {
        int timeout = -1;
        if (tool.ended()) {
            const Clock::time_point end = std::min(quietSince + kQuietAfterExit, exitedAt + kReadingAfterExitAtMost);
            if (Clock::now() >= end)
                break;
            timeout = millisecondsUntil(end);
        } else if (exitFd < 0) {
            if (Clock::now() >= nextExitCheck) {
                tool.reap(false);
                noteExit();
                nextExitCheck = Clock::now() + kQuietAfterExit;
                continue;
            }
            timeout = millisecondsUntil(nextExitCheck);
        }
        pollfd watched[2] = {{readEnd, POLLIN, 0}, {exitFd, POLLIN, 0}};
        const bool watchingExit = !tool.ended() && exitFd >= 0;
        const int ready = ::poll(watched, watchingExit ? 2 : 1, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watchingExit && watched[1].revents != 0) {
            // A pidfd turns readable when the process has ended, so this wait returns at once.
            tool.reap(true);
            noteExit();
        }
        if (watched[0].revents != 0) {
            const ssize_t count = ::read(readEnd, buffer.data(), size_t(buffer.size()));
            if (count > 0) {
                output.feed(QByteArrayView(buffer.constData(), qsizetype(count)));
                quietSince = Clock::now();
            } else if (count == 0) {
                endOfFile = true;
                break;
            } else if (errno != EINTR && errno != EAGAIN) {
                break;  // an error that reading again would not mend
            }
        }
    }
    if (exitFd >= 0)
        closeDescriptor(exitFd);
    if (endOfFile || !tool.ended())
        closeDescriptor(readEnd);
    else
        drainInBackground(readEnd);
    // After the end of the output the tool may still run, for as long as it likes.
    tool.reap(true);
    return {tool.succeeded(), output.result()};
}
