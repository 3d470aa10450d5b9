#include "state/action_ledger.h"

#include "service/agent_home.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

std::chrono::milliseconds monotonicNow()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

// Opened through the judged folder, never by path; the descriptor goes with no program we start, so that an agent
// tool that outlives a run does not keep the home's run claimed.
int openIn(const ScriptDirectory& folder, const QByteArray& name)
{
    const int fd = ::openat(folder.descriptor(), name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The file's "KIND MILLISECONDS" lines, one per kind of window; what does not read as such is left out.
ActionLedger::Openings readOpenings(int fd)
{
    ActionLedger::Openings opened;
    char text[512] = {};
    const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
    if (length <= 0)
        return opened;
    for (const QByteArray& line : QByteArray(text, length).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        bool kindOk = false;
        bool timeOk = false;
        const uint kind = fields.size() == 2 ? fields[0].toUInt(&kindOk) : 0;
        const qint64 at = fields.size() == 2 ? fields[1].toLongLong(&timeOk) : 0;
        if (kindOk && timeOk && kind < ActionLedger::kWindowKinds)
            opened[kind] = at;
    }
    return opened;
}

bool writeOpenings(int fd, const ActionLedger::Openings& opened)
{
    QByteArray text;
    for (size_t kind = 0; kind < ActionLedger::kWindowKinds; ++kind) {
        if (opened[kind])
            text += QByteArray::number(uint(kind)) + ' ' + QByteArray::number(*opened[kind]) + '\n';
    }
    return ::ftruncate(fd, 0) == 0 && ::pwrite(fd, text.constData(), size_t(text.size()), 0) == text.size();
}

// Admits a window of `kind` unless one opened within the interval, and notes it when asked. A time after `now` was
// noted before the machine last started (the folder can outlive a boot), and counts for nothing.
bool admit(ActionLedger::Openings& opened, ActionLedger::Window kind, qint64 now, bool note)
{
    std::optional<qint64>& at = opened[size_t(kind)];
    if (at && *at <= now && now - *at < ActionLedger::kWindowInterval.count())
        return false;
    if (note)
        at = now;
    return true;
}

}  // namespace

RunClaim& RunClaim::operator=(RunClaim&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

RunClaim::~RunClaim()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

ActionLedger::ActionLedger(std::optional<ScriptDirectory> folder, const QString& agentHome, Clock now)
    : m_folder(std::move(folder))
    , m_runName(QFile::encodeName(u"kivobar-"_s + agentHomeKey(agentHome) + u".run"_s))
    , m_windowsName(QFile::encodeName(u"kivobar-"_s + agentHomeKey(agentHome) + u".windows"_s))
    , m_now(now ? std::move(now) : Clock(monotonicNow))
{
}

std::optional<RunClaim> ActionLedger::claimRun()
{
    if (!m_folder)
        return RunClaim(-1);
    const int fd = openIn(*m_folder, m_runName);
    // A folder whose file cannot be had at all keeps nothing from anyone: the run goes ahead, as without a folder.
    if (fd < 0)
        return RunClaim(-1);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return RunClaim(fd);
}

bool ActionLedger::admitWindow(Window kind, bool note)
{
    const qint64 now = m_now().count();
    const int fd = m_folder ? openIn(*m_folder, m_windowsName) : -1;
    if (fd < 0)
        return admit(m_opened, kind, now, note);
    // Read and noted under the lock, so that of two processes asking at once only one is admitted.
    if (::flock(fd, (note ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    Openings opened = readOpenings(fd);
    const bool admitted = admit(opened, kind, now, note);
    if (admitted && note)
        writeOpenings(fd, opened);
    ::close(fd);
    return admitted;
}
