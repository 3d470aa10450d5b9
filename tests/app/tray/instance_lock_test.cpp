#include "tray/instance_lock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

TEST(InstanceLock, OneTrayPerAgentHomeNamingTheOneThatRuns)
{
    QTemporaryDir directory;
    auto first = std::make_unique<InstanceLock>(directory.path(), u"/home/u/.kivo"_s);
    ASSERT_TRUE(first->held());

    const InstanceLock second(directory.path(), u"/home/u/.kivo"_s);
    EXPECT_FALSE(second.held());
    EXPECT_TRUE(second.heldElsewhere());
    EXPECT_EQ(second.holder(), QCoreApplication::applicationPid());

    const InstanceLock otherHome(directory.path(), u"/home/u/other"_s);
    EXPECT_TRUE(otherHome.held());

    first.reset();
    const InstanceLock third(directory.path(), u"/home/u/.kivo"_s);
    EXPECT_TRUE(third.held()) << "the lock goes with its holder";
}

TEST(InstanceLock, WithoutAPlaceForTheLockTheTrayStillStarts)
{
    const InstanceLock lock(QString(), u"/home/u/.kivo"_s);
    EXPECT_FALSE(lock.held());
    EXPECT_FALSE(lock.heldElsewhere());
}

TEST(InstanceLock, KeepsItsLockWhereOnlyThisUserCanReachIt)
{
    QTemporaryDir root;
    const QString runtime = root.path() + u"/runtime"_s;
    ASSERT_TRUE(QDir().mkpath(runtime));
    const QString cache = root.path() + u"/cache"_s;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));

    struct Case { const char* what; int mode; QString expected; };
    const Case cases[] = {
        {"a private runtime directory", 0700, runtime},
        {"a runtime directory others may enter", 0755, cache + u"/kivobar"_s},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), mode_t(c.mode)), 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        EXPECT_EQ(InstanceLock::userDirectory(), c.expected) << c.what;
    }
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(cache + u"/kivobar"_s).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_CACHE_HOME");
}
