#include "tray/instance_lock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A directory only this user can reach, so that nobody else can take or fake our lock.
bool isPrivateDirectory(const QString& path)
{
    struct stat info {};
    return !path.isEmpty() && QDir::isAbsolutePath(path)
        && ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && info.st_uid == ::geteuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

}  // namespace

QString InstanceLock::userDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (isPrivateDirectory(runtime))
        return runtime;
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        return {};
    const QString ours = cache + u"/kivobar"_s;
    QDir().mkpath(cache);
    ::mkdir(QFile::encodeName(ours).constData(), 0700);
    return isPrivateDirectory(ours) ? ours : QString();
}

InstanceLock::InstanceLock(const QString& directory, const QString& agentHome)
{
    if (directory.isEmpty())
        return;
    const QByteArray digest = QCryptographicHash::hash(agentHome.toUtf8(), QCryptographicHash::Sha256).toHex();
    const QByteArray path = QFile::encodeName(directory + u"/kivobar-"_s + QString::fromLatin1(digest.left(24)) + u".lock"_s);
    // Close-on-exec, so that no program we start (the agent among them) keeps the lock after we are gone.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        m_heldElsewhere = errno == EWOULDBLOCK;
        char text[32] = {};
        const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
        bool isNumber = false;
        const qint64 pid = length > 0 ? QByteArray(text, length).trimmed().toLongLong(&isNumber) : 0;
        if (isNumber && pid > 0)
            m_holder = pid;
        ::close(fd);
        return;
    }
    // The holder's name, for the next start to report; the lock is ours whether or not it is written.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    const bool named = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) == pid.size();
    Q_UNUSED(named)
    m_fd = fd;
}

void InstanceLock::keepAcrossExec()
{
    if (m_fd >= 0)
        ::fcntl(m_fd, F_SETFD, 0);
}

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
