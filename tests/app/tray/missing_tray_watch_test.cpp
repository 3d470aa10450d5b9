#include "test_files.h"
#include "tray/missing_tray_watch.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// What a watch said, and when, in milliseconds since this was made: made before the watch, so that a time
// it reads is never shorter than the watch's own.
struct Said {
    std::vector<std::pair<QString, qint64>> events;

    Said() { m_clock.start(); }

    void listenTo(MissingTrayWatch& watch)
    {
        QObject::connect(&watch, &MissingTrayWatch::unseenSinceStart, [this] { events.emplace_back(u"unseen"_s, m_clock.elapsed()); });
        QObject::connect(&watch, &MissingTrayWatch::missing, [this] { events.emplace_back(u"missing"_s, m_clock.elapsed()); });
    }

    std::vector<QString> names() const
    {
        std::vector<QString> out;
        for (const auto& [name, at] : events)
            out.push_back(name);
        return out;
    }

    QElapsedTimer m_clock;
};

void idle(std::chrono::milliseconds time)
{
    waitUntil([] { return false; }, time);
}

}  // namespace

// Says so once for each time no panel shows the tray for the grace period: at start, and after a panel left.
TEST(MissingTrayWatch, SaysOnceForEachAbsence)
{
    Said said;
    MissingTrayWatch watch(std::nullopt, 50ms);
    said.listenTo(watch);

    ASSERT_TRUE(waitUntil([&] { return said.events.size() == 2; }));
    EXPECT_EQ(said.names(), (std::vector<QString>{u"unseen"_s, u"missing"_s})) << "no panel since start, in a session long begun";
    idle(200ms);
    EXPECT_EQ(said.events.size(), 2u) << "once for the whole absence";

    watch.setHostPresent(true);
    watch.setHostPresent(false);
    watch.setHostPresent(true);  // back within the grace period: nothing to say
    idle(200ms);
    EXPECT_EQ(said.events.size(), 2u);

    watch.setHostPresent(false);
    ASSERT_TRUE(waitUntil([&] { return said.events.size() == 3; }));
    EXPECT_EQ(said.events.back().first, u"missing"_s) << "a panel was there once: only the notice, no fallback";
}

// A session that has just begun may still be starting its panel: the fallback comes after the grace period,
// the notice only once the session is old enough, and neither once a panel shows.
TEST(MissingTrayWatch, GivesAYoungSessionUntilItsStartIsOver)
{
    {
        Said said;
        MissingTrayWatch watch(0ms, 50ms, 400ms);
        said.listenTo(watch);
        ASSERT_TRUE(waitUntil([&] { return said.events.size() == 2; }));
        EXPECT_EQ(said.names(), (std::vector<QString>{u"unseen"_s, u"missing"_s}));
        EXPECT_GE(said.events[1].second, 400) << "not before the session is 400 ms old";
    }
    {
        Said said;
        MissingTrayWatch watch(300ms, 50ms, 400ms);  // 100 ms of its start left: the grace period is longer
        said.listenTo(watch);
        ASSERT_TRUE(waitUntil([&] { return said.events.size() == 2; }));
        EXPECT_GE(said.events[1].second, 50);
    }
    {
        Said said;
        MissingTrayWatch watch(0ms, 50ms, 400ms);
        said.listenTo(watch);
        ASSERT_TRUE(waitUntil([&] { return said.events.size() == 1; }));
        watch.setHostPresent(true);  // the panel came late, but before the notice
        idle(600ms);
        EXPECT_EQ(said.names(), std::vector<QString>{u"unseen"_s});
    }
}

TEST(SessionBusAge, IsTheAgeOfTheBussSocketFile)
{
    QTemporaryDir dir;
    writeFile(dir.filePath(u"bus"_s), "");
    writeFile(dir.filePath(u"my bus"_s), "");
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath(u"bus"_s)).constData(), &info), 0);
    const auto made = std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
        std::chrono::seconds(info.st_ctim.tv_sec) + std::chrono::nanoseconds(info.st_ctim.tv_nsec)));
    const auto later = made + 90s;

    struct Case { const char* name; QString address; QString runtime; std::optional<std::chrono::milliseconds> age; };
    const QString path = dir.filePath(u"bus"_s);
    const Case cases[] = {
        {"a path", u"unix:path="_s + path, u""_s, 90s},
        {"with a guid after it", u"unix:path="_s + path + u",guid=0123abcd"_s, u""_s, 90s},
        {"escaped", u"unix:path="_s + dir.filePath(u"my%20bus"_s), u""_s, 90s},
        {"no address: the runtime folder's bus", u""_s, dir.path(), 90s},
        {"no address and no runtime folder", u""_s, u""_s, std::nullopt},
        {"abstract", u"unix:abstract=/tmp/dbus-x,guid=1"_s, dir.path(), std::nullopt},
        {"the first address counts", u"unix:abstract=/tmp/dbus-x;unix:path="_s + path, u""_s, std::nullopt},
        {"after one of another transport", u"tcp:host=localhost,port=1;unix:path="_s + path, u""_s, 90s},
        {"gone", u"unix:path="_s + dir.filePath(u"gone"_s), u""_s, std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<std::chrono::milliseconds> age = sessionBusAge(c.address, c.runtime, later);
        ASSERT_EQ(age.has_value(), c.age.has_value()) << c.name;
        if (age) {
            EXPECT_NEAR(double(age->count()), double(c.age->count()), 1000.0) << c.name;
        }
    }
    EXPECT_EQ(sessionBusAge(u"unix:path="_s + path, u""_s, made - 5s), 0ms) << "a clock set back makes no negative age";
}
