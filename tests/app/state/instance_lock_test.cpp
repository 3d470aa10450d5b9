#include "state/instance_lock.h"

#include "test_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A user's world in a temporary folder: a runtime root and a home.
struct UserFolders {
    UserFolders()
    {
        QDir().mkpath(runtimeRoot + u'/' + QString::number(::geteuid()));
        ::chmod(QFile::encodeName(runtime()).constData(), 0700);
        QDir().mkpath(home);
    }
    QString runtime() const { return runtimeRoot + u'/' + QString::number(::geteuid()); }
    std::optional<ScriptDirectory> directory() const { return InstanceLock::userDirectory(::geteuid(), home, runtimeRoot); }

    QTemporaryDir root;
    QString runtimeRoot = root.path() + u"/run/user"_s;
    QString home = root.path() + u"/home/u"_s;
};

}  // namespace

TEST(InstanceLock, OneTrayPerAgentHomeHoweverItIsSpelled)
{
    const UserFolders user;
    QTemporaryDir homes;
    ASSERT_TRUE(QDir(homes.path()).mkpath(u"real/.kivo"_s));
    ASSERT_TRUE(QFile::link(homes.path() + u"/real"_s, homes.path() + u"/link"_s));

    auto first = std::make_unique<InstanceLock>(user.directory(), homes.path() + u"/real/.kivo"_s);
    ASSERT_TRUE(first->held());
    for (const QString& spelling : {homes.path() + u"/real/.kivo"_s, homes.path() + u"/link/.kivo"_s,
                                    homes.path() + u"/real/./.kivo/"_s}) {
        const InstanceLock second(user.directory(), spelling);
        EXPECT_FALSE(second.held()) << spelling.toStdString();
        EXPECT_TRUE(second.heldElsewhere()) << spelling.toStdString();
        EXPECT_EQ(InstanceLock::holder(*user.directory(), spelling), QCoreApplication::applicationPid())
            << "the kernel names the holder, for every spelling";
    }
    EXPECT_TRUE(InstanceLock(user.directory(), homes.path() + u"/other"_s).held());

    first.reset();
    EXPECT_EQ(InstanceLock::holder(*user.directory(), homes.path() + u"/real/.kivo"_s), std::nullopt);
    EXPECT_TRUE(InstanceLock(user.directory(), homes.path() + u"/link/.kivo"_s).held()) << "the lock goes with its holder";
}

// The place is the system's, not the environment's: two trays started with different runtime folders in
// their environment still meet at one lock.
TEST(InstanceLock, KeepsItsLockWhereOnlyThisUserCanReachItWhateverTheEnvironmentSays)
{
    const UserFolders user;
    qputenv("XDG_RUNTIME_DIR", "/nonexistent");
    qputenv("XDG_CACHE_HOME", "/nonexistent");
    ASSERT_TRUE(user.directory());
    EXPECT_EQ(user.directory()->path(), QFileInfo(user.runtime()).canonicalFilePath());
    qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_CACHE_HOME");

    // A runtime folder others may enter is not taken: the user's own folder in the cache is, made private.
    ::chmod(QFile::encodeName(user.runtime()).constData(), 0755);
    ASSERT_TRUE(user.directory());
    EXPECT_EQ(user.directory()->path(), QFileInfo(user.home).canonicalFilePath() + u"/.cache/kivobar"_s);
    EXPECT_EQ(modeOf(user.home + u"/.cache/kivobar"_s) & 0777, 0700u);

    // A cache folder in someone else's reach is refused too; then there is no lock, and the tray says so.
    ::chmod(QFile::encodeName(user.home + u"/.cache/kivobar"_s).constData(), 0777);
    EXPECT_FALSE(user.directory());
    const InstanceLock none(std::nullopt, u"/home/u/.kivo"_s);
    EXPECT_FALSE(none.held());
    EXPECT_FALSE(none.heldElsewhere());
}

TEST(InstanceLock, TakesNoLockFileThatIsALinkOrAnotherKind)
{
    const UserFolders user;
    const QString home = user.root.path() + u"/agent"_s;
    const std::optional<ScriptDirectory> directory = user.directory();
    ASSERT_TRUE(directory);
    {
        const InstanceLock probe(directory, home);
        ASSERT_TRUE(probe.held());
    }
    QDir lockFolder(user.runtime());
    const QStringList locks = lockFolder.entryList({u"kivobar-*.lock"_s}, QDir::Files);
    ASSERT_EQ(locks.size(), 1);
    const QString lockFile = lockFolder.filePath(locks.front());
    ASSERT_TRUE(QFile::remove(lockFile));
    ASSERT_TRUE(QFile::link(user.root.path() + u"/elsewhere"_s, lockFile));
    const InstanceLock throughLink(directory, home);
    EXPECT_FALSE(throughLink.held());
    EXPECT_FALSE(QFile::exists(user.root.path() + u"/elsewhere"_s)) << "nothing is made where the link points";
}
