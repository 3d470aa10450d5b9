#include "state/tray_activity.h"

#include "service/agent_home.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Far more than four lines of a few hundred characters need: a larger file is not ours.
constexpr qsizetype kFileLimit = 256 * 1024;

std::optional<QString> textIn(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

void putText(QJsonObject& object, const QString& key, const std::optional<QString>& text)
{
    if (text)
        object.insert(key, *text);
}

bool isAlive(qint64 pid)
{
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max() && ::kill(pid_t(pid), 0) == 0;
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n > 0)
            written += n;
        else if (n < 0 && errno != EINTR)
            return false;
    }
    return true;
}

}  // namespace

TrayActivity trayActivity(const TrayState& tray)
{
    return {.busy = tray.busy, .message = tray.message, .update = tray.updateAvailable, .barUpdate = tray.barUpdate};
}

TrayState withActivity(TrayState tray, const TrayActivity& activity)
{
    tray.busy = activity.busy;
    tray.message = activity.message;
    tray.updateAvailable = activity.update;
    tray.barUpdate = activity.barUpdate;
    return tray;
}

QByteArray encodeActivity(const TrayActivity& activity, qint64 pid)
{
    QJsonObject object{{u"pid"_s, pid}};
    putText(object, u"busy"_s, activity.busy);
    putText(object, u"message"_s, activity.message);
    putText(object, u"update"_s, activity.update);
    if (activity.barUpdate) {
        object.insert(u"bar_update"_s, QJsonObject{{u"version"_s, activity.barUpdate->version},
                                                   {u"url"_s, activity.barUpdate->url.toString(QUrl::FullyEncoded)}});
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<std::pair<TrayActivity, qint64>> decodeActivity(QByteArrayView bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue pid = object.value(u"pid"_s);
    if (!pid.isDouble())
        return std::nullopt;
    TrayActivity activity{.busy = textIn(object, u"busy"_s), .message = textIn(object, u"message"_s),
                          .update = textIn(object, u"update"_s)};
    const QJsonObject bar = object.value(u"bar_update"_s).toObject();
    const std::optional<QString> version = textIn(bar, u"version"_s);
    const std::optional<QString> url = textIn(bar, u"url"_s);
    if (version && url)
        activity.barUpdate = BarUpdate{*version, QUrl(*url, QUrl::StrictMode)};
    return std::pair(std::move(activity), pid.toInteger());
}

ActivityFile::ActivityFile(std::optional<ScriptDirectory> folder, const QString& agentHome)
    : m_folder(std::move(folder)), m_name(QFile::encodeName(u"kivobar-"_s + agentHomeKey(agentHome) + u".activity"_s))
{
}

bool ActivityFile::publish(const TrayActivity& activity)
{
    if (!m_folder)
        return false;
    const int folder = m_folder->descriptor();
    if (activity.empty())
        return ::unlinkat(folder, m_name.constData(), 0) == 0 || errno == ENOENT;
    // Written aside and renamed over the file, so that a reader never finds half of it.
    const QByteArray aside = m_name + '.' + QByteArray::number(qint64(::getpid()));
    const int fd = ::openat(folder, aside.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, encodeActivity(activity, qint64(::getpid())));
    ::close(fd);
    if (!written || ::renameat(folder, aside.constData(), folder, m_name.constData()) != 0) {
        ::unlinkat(folder, aside.constData(), 0);
        return false;
    }
    return true;
}

std::optional<TrayActivity> ActivityFile::read() const
{
    if (!m_folder)
        return std::nullopt;
    const int fd = ::openat(m_folder->descriptor(), m_name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes(kFileLimit + 1, Qt::Uninitialized);
    qsizetype size = 0;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        while (size < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + size, size_t(bytes.size() - size));
            if (n > 0)
                size += n;
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
    }
    ::close(fd);
    if (size == 0 || size > kFileLimit)
        return std::nullopt;
    std::optional<std::pair<TrayActivity, qint64>> record = decodeActivity(QByteArrayView(bytes.constData(), size));
    // A tray that crashed leaves its last words behind: they count only while their writer lives.
    if (!record || !isAlive(record->second))
        return std::nullopt;
    return std::move(record->first);
}
