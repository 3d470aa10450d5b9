#include "test_files.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

void writeFile(const QString& path, const QByteArray& bytes, int mode)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode_t(mode)), 0);
}

QByteArray readWholeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t modeOf(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds deadline)
{
    QDeadlineTimer timer(deadline);
    while (!done()) {
        if (timer.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(5);
    }
    return true;
}

QString standInAgentDir()
{
    return QStringLiteral(KIVO_STAND_IN_AGENT);
}
