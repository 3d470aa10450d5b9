#include "service/agent_home.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(AgentHome, TakesKivoHomeAsItStandsOrFallsBackToDotKivo)
{
    struct Case { std::optional<QString> variable; QString expected; };
    const Case cases[] = {
        {std::nullopt, u"/home/u/.kivo"_s},
        {QString(), u"/home/u/.kivo"_s},
        {u"/srv/agent"_s, u"/srv/agent"_s},
        {u"~/agent"_s, u"~/agent"_s},
        {u"relative/dir"_s, u"relative/dir"_s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(agentHome(c.variable, u"/home/u"_s), c.expected) << c.variable.value_or(u"(unset)"_s).toStdString();
}

TEST(AgentHome, IsTheSameHomeHoweverItIsSpelled)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(u"real/.kivo"_s));
    ASSERT_TRUE(QFile::link(dir.path() + u"/real"_s, dir.path() + u"/link"_s));
    const QString home = agentHomeIdentity(dir.path() + u"/real/.kivo"_s);
    const QString spellings[] = {dir.path() + u"/link/.kivo"_s, dir.path() + u"/real/./.kivo/"_s,
                                 dir.path() + u"/real/x/../.kivo"_s, dir.path() + u"//link//.kivo"_s};
    for (const QString& spelling : spellings) {
        EXPECT_EQ(agentHomeIdentity(spelling), home) << spelling.toStdString();
        EXPECT_EQ(agentHomeKey(spelling), agentHomeKey(home)) << spelling.toStdString();
    }
    EXPECT_EQ(agentHomeIdentity(dir.path() + u"/link/not-yet/.kivo"_s), QFileInfo(dir.path()).canonicalFilePath()
              + u"/real/not-yet/.kivo"_s) << "a home not made yet is resolved as far as it exists";
    EXPECT_NE(agentHomeKey(dir.path() + u"/real/other"_s), agentHomeKey(home));
    const QString key = agentHomeKey(home);
    EXPECT_TRUE(std::all_of(key.begin(), key.end(), [](QChar c) { return c.isLetterOrNumber() && c.unicode() < 128; }));
}
