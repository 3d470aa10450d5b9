#include "processes.h"
#include "service/service.h"
#include "status_records.h"
#include "test_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace std::chrono;

namespace {

constexpr Timestamp kNow = sys_days{2025y / January / 31} + 12h;

QByteArray record(qint64 pid, Timestamp updatedAt, const char* relays = R"(["eu-1"])", qint64 clients = 2)
{
    return StatusRecord{.pid = pid, .updatedAt = updatedAt, .relays = QByteArray(relays), .clients = clients}.json();
}

class Refresh : public testing::Test {
protected:
    void installTool(int mode = 0755) { writeFile(m_home + u"/bin/kivo"_s, "#!/bin/sh\n", mode); }
    void writeStatus(const QByteArray& bytes) { writeStatusFile(m_home, bytes); }
    void markSetUp() { writeFile(m_home + u"/host"_s, ""); }

    std::unique_ptr<Service> makeService()
    {
        return std::make_unique<Service>(ServiceSetup{.home = m_home, .now = [this] { return m_now; }});
    }

    QTemporaryDir m_dir;
    QString m_home = m_dir.path();
    Timestamp m_now = kNow;
    const qint64 m_livePid = QCoreApplication::applicationPid();
};

}  // namespace

TEST_F(Refresh, FollowsTheDecisionTableInOrder)
{
    enum class File { None, Broken, Record };
    struct Case {
        const char* what;
        bool tool;
        File file;
        bool host;
        qint64 pid;
        duration<double> age;
        const char* relays;
        Reach expected;
        bool statusPublished;
    };
    const qint64 live = m_livePid, dead = reapedProcessId();
    const duration<double> fresh = 5s;
    const Case cases[] = {
        {"no tool", false, File::Record, true, live, fresh, R"(["eu-1"])", Reach::notSetUp(), false},
        {"no file, host", true, File::None, true, live, fresh, "", Reach::stopped(), false},
        {"no file, no host", true, File::None, false, live, fresh, "", Reach::notSetUp(), false},
        {"broken file, host", true, File::Broken, true, live, fresh, "", Reach::stopped(), false},
        {"broken file, no host", true, File::Broken, false, live, fresh, "", Reach::notSetUp(), false},
        {"dead process", true, File::Record, false, dead, fresh, R"(["eu-1"])", Reach::stopped(), true},
        {"stale by a millisecond", true, File::Record, false, live, 30.001s, R"(["eu-1"])", Reach::stopped(), true},
        {"exactly 30 s old", true, File::Record, false, live, 30s, R"(["eu-1"])", Reach::online({u"eu-1"_s}, 2), true},
        {"10 s in the future", true, File::Record, false, live, -10s, R"(["eu-1"])", Reach::online({u"eu-1"_s}, 2), true},
        {"two relays", true, File::Record, false, live, fresh, R"(["a", "b"])", Reach::online({u"a"_s, u"b"_s}, 2), true},
        {"relays empty", true, File::Record, false, live, fresh, "[]", Reach::connecting(), true},
        {"relays null", true, File::Record, false, live, fresh, "null", Reach::connecting(), true},
        // Ids that would probe a whole process group, or another process once truncated to 32 bits.
        {"pid 0", true, File::Record, false, 0, fresh, R"(["eu-1"])", Reach::stopped(), true},
        {"pid -1", true, File::Record, false, -1, fresh, R"(["eu-1"])", Reach::stopped(), true},
        {"pid beyond 32 bits", true, File::Record, false, (qint64(1) << 32) + live, fresh, R"(["eu-1"])",
         Reach::stopped(), true},
    };
    for (const Case& c : cases) {
        QDir(m_home).removeRecursively();
        QDir().mkpath(m_home);
        if (c.tool)
            installTool();
        if (c.host)
            markSetUp();
        if (c.file == File::Broken)
            writeStatus(R"({"pid": 1, "name": "x", "version": "1", "updated_at": "", "relays": []})");
        if (c.file == File::Record)
            writeStatus(record(c.pid, kNow - round<microseconds>(c.age), c.relays));

        const auto service = makeService();
        EXPECT_EQ(service->state(), c.expected) << c.what;
        EXPECT_EQ(service->status().has_value(), c.statusPublished) << c.what;
    }
}

TEST_F(Refresh, KeepsTheLastRecordWhileTheToolIsMissing)
{
    installTool();
    writeStatus(record(m_livePid, kNow));
    const auto service = makeService();
    ASSERT_EQ(service->state(), Reach::online({u"eu-1"_s}, 2));

    QFile::remove(m_home + u"/bin/kivo"_s);
    service->refresh();
    EXPECT_EQ(service->state(), Reach::notSetUp());
    ASSERT_TRUE(service->status());
    EXPECT_EQ(service->status()->version, u"1.4.2"_s);
}

TEST_F(Refresh, TakesOnlyExecutableRegularFilesAsTheTool)
{
    markSetUp();
    writeFile(m_home + u"/bin/kivo"_s, "#!/bin/sh\n", 0644);
    EXPECT_EQ(makeService()->state(), Reach::notSetUp()) << "without execute permission";

    QFile::remove(m_home + u"/bin/kivo"_s);
    QDir().mkpath(m_home + u"/bin/kivo"_s);
    EXPECT_EQ(makeService()->state(), Reach::notSetUp()) << "a directory";
}

TEST_F(Refresh, CountsAnyEntryNamedHostAsSetUp)
{
    installTool();
    QDir().mkpath(m_home + u"/host"_s);
    EXPECT_EQ(makeService()->state(), Reach::stopped());
}

TEST_F(Refresh, ReadsStatusFilesUpToOneMebibyte)
{
    installTool();
    markSetUp();
    const QByteArray json = record(m_livePid, kNow);
    const qsizetype limit = 1024 * 1024;

    writeStatus(json + QByteArray(limit - json.size(), ' '));
    EXPECT_EQ(makeService()->state(), Reach::online({u"eu-1"_s}, 2)) << "exactly at the limit";

    writeStatus(json + QByteArray(limit - json.size() + 1, ' '));
    const auto service = makeService();
    EXPECT_EQ(service->state(), Reach::stopped()) << "one byte over the limit";
    EXPECT_FALSE(service->status());
}

TEST_F(Refresh, DoesNotBlockOnAFifoInPlaceOfTheStatusFile)
{
    installTool();
    markSetUp();
    QDir().mkpath(m_home + u"/run"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(m_home + u"/run/status.json"_s).constData(), 0600), 0);
    EXPECT_EQ(makeService()->state(), Reach::stopped());
}

TEST_F(Refresh, NotifiesEveryAssignmentStatusBeforeState)
{
    installTool();
    writeStatus(record(m_livePid, kNow));
    const auto service = makeService();
    std::vector<Service::Property> seen;
    QObject::connect(service.get(), &Service::changed, [&seen](Service::Property p) { seen.push_back(p); });

    service->refresh();
    service->refresh();
    using P = Service::Property;
    EXPECT_EQ(seen, (std::vector{P::Status, P::State, P::Status, P::State})) << "unchanged values notify too";

    seen.clear();
    QFile::remove(m_home + u"/bin/kivo"_s);
    service->refresh();
    EXPECT_EQ(seen, std::vector{P::State});
}

TEST_F(Refresh, RunsEveryThreeSecondsOnItsOwn)
{
    m_now = Timestamp(round<microseconds>(system_clock::now().time_since_epoch()));
    markSetUp();
    const auto service = makeService();
    ASSERT_EQ(service->state(), Reach::notSetUp());

    installTool();
    writeStatus(record(m_livePid, m_now));
    EXPECT_TRUE(waitUntil([&] { return service->state() == Reach::online({u"eu-1"_s}, 2); }));
}
