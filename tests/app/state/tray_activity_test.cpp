#include "processes.h"
#include "qt_printers.h"
#include "test_files.h"
#include "state/tray_activity.h"
#include "state/user_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString kHome = u"/home/someone/.kivo"_s;

const TrayActivity kEverything{.busy = u"Stopping\u2026"_s, .message = u"error: \"quoted\"\n\u001b[1m"_s,
                               .update = u"1.5.0"_s,
                               .barUpdate = BarUpdate{u"0.2.0"_s, QUrl(u"https://get.kivo.dev/bar/0.2.0.tar.gz"_s)}};

class ActivityFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(runtime()));
        ::chmod(QFile::encodeName(runtime()).constData(), 0700);
    }

    QString runtime() const { return m_root.path() + u"/run/user/"_s + QString::number(::geteuid()); }
    std::optional<ScriptDirectory> folder() const
    {
        return userFolder(::geteuid(), m_root.path() + u"/home"_s, m_root.path() + u"/run/user"_s, false);
    }
    QString path() const
    {
        const QStringList files = QDir(runtime()).entryList({u"*.activity"_s}, QDir::Files);
        return files.isEmpty() ? QString() : runtime() + u'/' + files.front();
    }

    QTemporaryDir m_root;
};

}  // namespace

TEST(TrayActivity, SurvivesTheFileWholeAndRefusesWhatIsNotARecord)
{
    const std::optional<std::pair<TrayActivity, qint64>> back = decodeActivity(encodeActivity(kEverything, 42));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->first, kEverything);
    EXPECT_EQ(back->second, 42);
    EXPECT_EQ(decodeActivity(encodeActivity({}, 7))->first, TrayActivity());

    for (const QByteArray& bytes : {QByteArray(), QByteArray("[]"), QByteArray("{\"busy\": \"x\"}"),
                                    QByteArray("{\"pid\": \"7\"}"), QByteArray("{\"pid\": 7")})
        EXPECT_FALSE(decodeActivity(bytes)) << bytes.toStdString();
    // Fields of the wrong type are left out rather than taken for something.
    EXPECT_EQ(decodeActivity(R"({"pid": 7, "busy": 3, "bar_update": {"version": "1"}})")->first, TrayActivity());
}

TEST_F(ActivityFileTest, PublishesForReadersAndGoesWhenThereIsNothingToTell)
{
    ActivityFile tray(folder(), kHome);
    const ActivityFile reader(folder(), u"/home/someone/./.kivo/"_s);
    EXPECT_EQ(reader.read(), std::nullopt);

    ASSERT_TRUE(tray.publish(kEverything));
    EXPECT_EQ(reader.read(), kEverything) << "the same home however it is spelled";
    EXPECT_EQ(modeOf(path()) & 0777, 0600u);
    EXPECT_EQ(ActivityFile(folder(), u"/elsewhere"_s).read(), std::nullopt);

    ASSERT_TRUE(tray.publish({.busy = u"Starting\u2026"_s}));
    EXPECT_EQ(reader.read(), TrayActivity{.busy = u"Starting\u2026"_s});
    ASSERT_TRUE(tray.publish({}));
    EXPECT_EQ(path(), QString()) << "nothing to tell, no file";
    EXPECT_EQ(QDir(runtime()).entryList(QDir::Files | QDir::Hidden), QStringList()) << "nothing left aside either";
}

TEST_F(ActivityFileTest, IgnoresWhatAnEndedTrayLeftAndWhatIsNotOurs)
{
    ASSERT_TRUE(ActivityFile(folder(), kHome).publish(kEverything));
    const QString file = path();
    const ActivityFile reader(folder(), kHome);

    writeFile(file, encodeActivity(kEverything, reapedProcessId()), 0600);
    EXPECT_EQ(reader.read(), std::nullopt) << "its writer has ended";

    writeFile(file, QByteArray(300 * 1024, ' ') + encodeActivity(kEverything, QCoreApplication::applicationPid()), 0600);
    EXPECT_EQ(reader.read(), std::nullopt) << "too large to be ours";

    ASSERT_TRUE(QFile::remove(file));
    writeFile(m_root.path() + u"/elsewhere"_s, encodeActivity(kEverything, QCoreApplication::applicationPid()));
    ASSERT_TRUE(QFile::link(m_root.path() + u"/elsewhere"_s, file));
    EXPECT_EQ(reader.read(), std::nullopt) << "a link in its place is not followed";

    EXPECT_FALSE(ActivityFile(std::nullopt, kHome).publish(kEverything));
    EXPECT_EQ(ActivityFile(std::nullopt, kHome).read(), std::nullopt);
}

TEST_F(ActivityFileTest, AReaderMakesNoFolder)
{
    ASSERT_TRUE(QDir(runtime()).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(m_root.path() + u"/home"_s));
    EXPECT_EQ(folder(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(m_root.path() + u"/home/.cache/kivobar"_s));
    EXPECT_TRUE(userFolder(::geteuid(), m_root.path() + u"/home"_s, m_root.path() + u"/run/user"_s, true));
    EXPECT_TRUE(QFileInfo::exists(m_root.path() + u"/home/.cache/kivobar"_s)) << "the tray makes it";
}
