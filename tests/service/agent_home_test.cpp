#include "service/agent_home.h"

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
