#include "state/instance_lock.h"

#include "service/agent_home.h"
#include "state/user_folder.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

std::optional<ScriptDirectory> InstanceLock::userDirectory(uint uid, const QString& userHome, const QString& runtimeRoot)
{
    return userFolder(uid, userHome, runtimeRoot, true);
}

std::optional<ScriptDirectory> InstanceLock::userDirectory()
{
    return userFolder(true);
}

namespace {

QByteArray lockName(const QString& agentHome)
{
    return QFile::encodeName(u"kivobar-"_s + agentHomeKey(agentHome) + u".lock"_s);
}

// Another descriptor of this process for the same file as `fd` (`info`) whose open file holds the lock, and
// which came through exec: the tray program this process was before let it through. Our own descriptors are
// all close-on-exec, so a second lock of this process never takes the first one's. It is kept from the
// programs we start from now on. -1 for none.
int inheritedHolder(int fd, const struct stat& info)
{
    const int saved = errno;
    int found = -1;
    if (DIR* descriptors = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(descriptors)) {
            const int other = std::atoi(entry->d_name);
            struct stat same {};
            if (other <= 2 || other == fd || other == ::dirfd(descriptors) || (::fcntl(other, F_GETFD) & FD_CLOEXEC) != 0
                || ::fstat(other, &same) != 0 || same.st_dev != info.st_dev || same.st_ino != info.st_ino)
                continue;
            // Taking a lock that one's own open file holds already succeeds; another's still fails.
            if (::flock(other, LOCK_EX | LOCK_NB) == 0) {
                ::fcntl(other, F_SETFD, FD_CLOEXEC);
                found = other;
                break;
            }
        }
        ::closedir(descriptors);
    }
    errno = saved;
    return found;
}

// The process holding a whole-file lock on the file with this device and inode, in /proc/locks's lines:
// "1: FLOCK  ADVISORY  WRITE 4242 fd:01:1234 0 EOF". Lines of processes waiting for a lock start with "->".
std::optional<qint64> flockHolder(const QByteArray& table, dev_t device, ino_t inode)
{
    const QByteArray file = QByteArray::number(::major(device), 16).rightJustified(2, '0') + ':'
        + QByteArray::number(::minor(device), 16).rightJustified(2, '0') + ':' + QByteArray::number(quint64(inode));
    for (const QByteArray& line : table.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] != "FLOCK" || fields[5] != file)
            continue;
        bool isNumber = false;
        const qint64 pid = fields[4].toLongLong(&isNumber);
        if (isNumber && pid > 0)
            return pid;
    }
    return std::nullopt;
}

}  // namespace

std::optional<qint64> InstanceLock::holder(const ScriptDirectory& directory, const QString& agentHome)
{
    const int fd = ::openat(directory.descriptor(), lockName(agentHome).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    QFile locks(u"/proc/locks"_s);
    if (!known || !locks.open(QIODevice::ReadOnly))
        return std::nullopt;
    // A sequential file: read to its end, whatever size it says it has.
    return flockHolder(locks.readAll(), info.st_dev, info.st_ino);
}

InstanceLock::InstanceLock(const std::optional<ScriptDirectory>& directory, const QString& agentHome)
{
    if (!directory)
        return;
    const QByteArray name = lockName(agentHome);
    // Opened through the folder that was judged, never by its path; close-on-exec, so that no program we
    // start (the agent among them) keeps the lock after we are gone.
    const int fd = ::openat(directory->descriptor(), name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(fd);
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (const int inherited = inheritedHolder(fd, info); inherited >= 0) {
            ::close(fd);
            m_fd = inherited;
            return;
        }
        m_heldElsewhere = errno == EWOULDBLOCK;
        ::close(fd);
        return;
    }
    m_fd = fd;
}

void InstanceLock::keepAcrossExec(bool keep)
{
    if (m_fd >= 0)
        ::fcntl(m_fd, F_SETFD, keep ? 0 : FD_CLOEXEC);
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
