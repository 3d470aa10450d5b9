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
