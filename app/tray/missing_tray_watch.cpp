#include "tray/missing_tray_watch.h"

#include <QFile>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace std::chrono;

MissingTrayWatch::MissingTrayWatch(std::optional<milliseconds> sessionAge, milliseconds grace,
                                   milliseconds sessionStart, QObject* parent)
    : QObject(parent)
    , m_sessionStarted(steady_clock::now() - sessionAge.value_or(sessionStart))
    , m_sessionStart(sessionStart)
{
    m_graceTimer.setSingleShot(true);
    m_graceTimer.setInterval(grace);
    m_noticeTimer.setSingleShot(true);
    connect(&m_graceTimer, &QTimer::timeout, this, [this] {
        if (!m_everShown)
            Q_EMIT unseenSinceStart();
        // A handler may have been told of a panel meanwhile.
        if (!m_present)
            arm();
    });
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] {
        // A coarse timer may fire a little early, and the notice is promised not before the session's start is over.
        if (steady_clock::now() - m_sessionStarted < m_sessionStart)
            arm();
        else
            Q_EMIT missing();
    });
    m_graceTimer.start();
}

void MissingTrayWatch::arm()
{
    const auto old = steady_clock::now() - m_sessionStarted;
    m_noticeTimer.start(old >= m_sessionStart ? milliseconds(0) : ceil<milliseconds>(m_sessionStart - old));
}

void MissingTrayWatch::setHostPresent(bool present)
{
    if (present == m_present)
        return;
    m_present = present;
    if (present) {
        m_everShown = true;
        m_graceTimer.stop();
        m_noticeTimer.stop();
    } else {
        m_graceTimer.start();
    }
}

std::optional<milliseconds> sessionBusAge(const QString& address, const QString& runtimeDirectory,
                                          system_clock::time_point now)
{
    QByteArray socket;
    if (address.isEmpty()) {
        // Where libdbus and systemd put the user's bus when nothing says otherwise.
        if (runtimeDirectory.startsWith(u'/'))
            socket = QFile::encodeName(runtimeDirectory + u"/bus"_s);
    } else {
        // "transport:key=value,key=value" entries, ";"-separated, with values percent-escaped; a client
        // connects to the first one it can, and only unix:path= names a file.
        for (const QString& entry : address.split(u';', Qt::SkipEmptyParts)) {
            if (!entry.startsWith(u"unix:"_s))
                continue;
            for (const QString& pair : entry.sliced(5).split(u',')) {
                if (pair.startsWith(u"path="_s) && socket.isEmpty())
                    socket = QByteArray::fromPercentEncoding(pair.sliced(5).toUtf8());
            }
            break;
        }
    }
    struct stat info {};
    if (socket.isEmpty() || ::stat(socket.constData(), &info) != 0)
        return std::nullopt;
    const auto made = system_clock::time_point(duration_cast<system_clock::duration>(
        seconds(info.st_ctim.tv_sec) + nanoseconds(info.st_ctim.tv_nsec)));
    // A clock set back since then makes the bus look younger than it is, never of a negative age.
    return made >= now ? milliseconds(0) : duration_cast<milliseconds>(now - made);
}
