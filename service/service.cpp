#include "service/service.h"

#include <QDir>
#include <QFile>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A status file larger than this is not the agent's: refusing it keeps a runaway file from costing
// memory every 3 seconds.
constexpr qsizetype kStatusFileLimit = 1024 * 1024;

constexpr double kFreshnessSeconds = 30.0;

bool isExecutableFile(const char* path)
{
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode) && ::access(path, X_OK) == 0;
}

bool exists(const char* path)
{
    struct stat info {};
    return ::lstat(path, &info) == 0;
}

// The whole file in `buffer`, or nothing when it cannot be read or exceeds the limit. Non-blocking,
// so a FIFO in place of the file cannot stall the main thread.
std::optional<QByteArrayView> readStatusFile(const char* path, QByteArray& buffer)
{
    constexpr qsizetype kUsualSize = 16 * 1024;
    if (buffer.size() != kUsualSize)  // a large file once read does not keep its memory
        buffer = QByteArray(kUsualSize, Qt::Uninitialized);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    qsizetype size = 0;
    bool ok = true;
    for (;;) {
        if (size == buffer.size()) {
            if (size > kStatusFileLimit) {
                ok = false;
                break;
            }
            buffer.resize(std::min(size * 2, kStatusFileLimit + 1));
        }
        const ssize_t n = ::read(fd, buffer.data() + size, size_t(buffer.size() - size));
        if (n > 0) {
            size += n;
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    if (!ok || size > kStatusFileLimit)
        return std::nullopt;
    return QByteArrayView(buffer.constData(), size);
}

// kill() with 0 or a negative id probes whole process groups, and a truncated id probes some other
// process, so only ids a single process can have are asked about.
bool isAlive(qint64 pid)
{
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max())
        return false;
    return ::kill(pid_t(pid), 0) == 0;
}

Timestamp systemNow()
{
    return std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now());
}

// A relative home is taken against the working directory once, so that a later change of directory
// cannot move it, and so that commands run in a terminal, which starts elsewhere, find the agent tool.
// The path is otherwise kept as given: no tilde expansion, and no cleaning of "." or "..".
QString absoluteHome(const QString& home)
{
    return QDir::isAbsolutePath(home) ? home : QDir::current().filePath(home);
}

}  // namespace

Service::Service(ServiceSetup setup, QObject* parent)
    : QObject(parent)
    , m_home(absoluteHome(setup.home))
    , m_toolFile(QFile::encodeName(m_home + u"/bin/kivo"_s))
    , m_statusFile(QFile::encodeName(m_home + u"/run/status.json"_s))
    , m_hostFile(QFile::encodeName(m_home + u"/host"_s))
    , m_setup(std::move(setup))
{
    if (!m_setup.now)
        m_setup.now = systemNow;

    refresh();
    startTimers();
}

Service::~Service() = default;

void Service::startTimers()
{
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(u"refresh"_s);
    m_refreshTimer->setInterval(kRefreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &Service::refresh);
    m_refreshTimer->start();

    // The first release check runs once the event loop is free, so creation never waits for the network.
    QTimer::singleShot(0, this, [this] { checkReleases({}); });

    auto* releaseTimer = new QTimer(this);
    releaseTimer->setObjectName(u"releases"_s);
    releaseTimer->setInterval(kReleaseIntervalMs);
    connect(releaseTimer, &QTimer::timeout, this, [this] { checkReleases({}); });
    releaseTimer->start();
}

void Service::refresh()
{
    m_toolInstalled = isExecutableFile(m_toolFile.constData());
    if (!m_toolInstalled) {
        setState(Reach::notSetUp(), ReachReason::NoTool);
        return;
    }

    std::optional<Status> record;
    if (const std::optional<QByteArrayView> bytes = readStatusFile(m_statusFile.constData(), m_readBuffer))
        record = decodeStatus(*bytes);
    if (!record) {
        setStatus(std::nullopt);
        if (exists(m_hostFile.constData()))
            setState(Reach::stopped(), ReachReason::NoRecord);
        else
            setState(Reach::notSetUp(), ReachReason::NotSetUp);
        return;
    }

    // Taken before publishing: an observer of the status must not be able to change what is judged here.
    const qint64 pid = record->pid;
    const Timestamp updatedAt = record->updatedAt;
    const qint64 clients = record->clients;
    QStringList relays = record->relays.value_or(QStringList());
    setStatus(std::move(record));

    if (!isAlive(pid)) {
        setState(Reach::stopped(), ReachReason::NotRunning);
        return;
    }
    const double age = std::chrono::duration<double>(m_setup.now() - updatedAt).count();
    if (age > kFreshnessSeconds)
        setState(Reach::stopped(), ReachReason::Stale);
    else if (!relays.isEmpty())
        setState(Reach::online(std::move(relays), clients), ReachReason::None);
    else
        setState(Reach::connecting(), ReachReason::NoRelay);
}

void Service::setState(Reach state, ReachReason reason)
{
    // Assigned before the state is published, so that whoever hears of the state reads its reason with it.
    m_reason = reason;
    publish(m_state, std::move(state), Property::State);
}
void Service::setStatus(std::optional<Status> status) { publish(m_status, std::move(status), Property::Status); }
void Service::setLatest(std::optional<QString> latest) { publish(m_latest, std::move(latest), Property::Latest); }
void Service::setBusy(std::optional<QString> busy) { publish(m_busy, std::move(busy), Property::Busy); }

void Service::setBarUpdate(std::optional<BarUpdate> update)
{
    publish(m_barUpdate, std::move(update), Property::BarUpdate);
}

void Service::setMessage(std::optional<QString> message)
{
    publish(m_message, std::move(message), Property::Message);
}
