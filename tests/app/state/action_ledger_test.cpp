#include "state/action_ledger.h"

#include "test_files.h"

#include <QDir>

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

using Window = ActionLedger::Window;

// Two ledgers on one folder stand for two processes: each opens the files anew, as another process would.
class ActionLedgerTest : public testing::Test {
protected:
    std::optional<ScriptDirectory> folder() const { return ScriptDirectory::open(m_folder.path(), true); }
    ActionLedger ledger(const QString& home = u"/home/someone/.kivo"_s)
    {
        return ActionLedger(folder(), home, [this] { return m_now; });
    }

    QTemporaryDir m_folder;
    std::chrono::milliseconds m_now{10'000'000};
};

}  // namespace

TEST_F(ActionLedgerTest, OneRunPerHomeUntilItsClaimEnds)
{
    ActionLedger first = ledger();
    ActionLedger second = ledger();
    std::optional<RunClaim> claim = first.claimRun();
    ASSERT_TRUE(claim);
    EXPECT_FALSE(second.claimRun());
    EXPECT_FALSE(first.claimRun()) << "not twice in one process either";
    EXPECT_TRUE(ledger(u"/another/home"_s).claimRun()) << "another home runs on its own";
    claim.reset();
    EXPECT_TRUE(second.claimRun());
}

TEST_F(ActionLedgerTest, AdmitsOneWindowOfAKindPerIntervalAcrossProcesses)
{
    ActionLedger first = ledger();
    ActionLedger second = ledger();
    EXPECT_TRUE(second.admitWindow(Window::Log, false)) << "asking notes nothing";
    EXPECT_TRUE(first.admitWindow(Window::Log, true));
    EXPECT_FALSE(second.admitWindow(Window::Log, true));
    EXPECT_TRUE(second.admitWindow(Window::Session, true)) << "each kind on its own";

    m_now += ActionLedger::kWindowInterval - 1ms;
    EXPECT_FALSE(first.admitWindow(Window::Log, true));
    m_now += 1ms;
    EXPECT_TRUE(second.admitWindow(Window::Log, true));

    // A time after now was noted before the machine last started: it keeps nothing away.
    m_now = 5s;
    EXPECT_TRUE(first.admitWindow(Window::Session, true));
}

TEST_F(ActionLedgerTest, ReadsAFileItDidNotWriteAsNothingNoted)
{
    ActionLedger first = ledger();
    ASSERT_TRUE(first.admitWindow(Window::Dashboard, true));
    const QString name = m_folder.path() + u'/' + QDir(m_folder.path()).entryList({u"*.windows"_s}).value(0);
    for (const QByteArray& junk : {QByteArray("2 999999999999999999999\n9 1\n\n"), QByteArray(4096, '\xff'), QByteArray()}) {
        writeFile(name, junk, 0600);
        EXPECT_TRUE(ledger().admitWindow(Window::Dashboard, true)) << junk.left(20).toStdString();
        EXPECT_FALSE(ledger().admitWindow(Window::Dashboard, false));
    }
}

TEST_F(ActionLedgerTest, WithoutAFolderOnlyThisProcessCounts)
{
    ActionLedger alone(std::nullopt, u"/home/someone/.kivo"_s, [this] { return m_now; });
    EXPECT_TRUE(alone.admitWindow(Window::Dashboard, true));
    EXPECT_FALSE(alone.admitWindow(Window::Dashboard, true));
    EXPECT_TRUE(alone.claimRun());
    EXPECT_TRUE(ledger().admitWindow(Window::Dashboard, true)) << "nothing of it reached a folder";
}
