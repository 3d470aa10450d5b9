#include "fake_platform.h"
#include "service/service.h"
#include "tray/login_toggle.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class LoginToggleTest : public testing::Test {
protected:
    QTemporaryDir m_home;
    Service m_service{ServiceSetup{.home = m_home.path()}};
    FakeLoginItem m_item;
};

}  // namespace

TEST_F(LoginToggleTest, StartsFromWhatTheLoginItemReports)
{
    m_item.status = true;
    EXPECT_TRUE(LoginToggle(m_item, m_service).value());
    m_item.status = false;  // not registered, or waiting for approval
    EXPECT_FALSE(LoginToggle(m_item, m_service).value());
}

TEST_F(LoginToggleTest, AnAcceptedChangeLeavesTheMessageAlone)
{
    m_service.setMessage(u"older"_s);
    LoginToggle toggle(m_item, m_service);
    toggle.set(true);
    EXPECT_TRUE(toggle.value());
    EXPECT_EQ(m_item.requests, std::vector{true});
    EXPECT_EQ(m_service.message(), u"older"_s);
}

TEST_F(LoginToggleTest, ARefusalIsShownAndTheFlagFollowsTheLoginItem)
{
    struct Case {
        const char* what;
        bool startsOn;
        std::deque<QString> refusals;
        std::vector<bool> expectedRequests;
        bool expectedValue;
        QString expectedMessage;
    };
    const Case cases[] = {
        {"on refused, then off accepted", false, {u"no approval"_s}, {true, false}, false, u"no approval"_s},
        {"on refused twice", false, {u"first"_s, u"second"_s}, {true, false}, false, u"second"_s},
        {"off refused, then on accepted", true, {u"busy"_s}, {false, true}, true, u"busy"_s},
    };
    for (const Case& c : cases) {
        FakeLoginItem item;
        item.status = c.startsOn;
        item.refusals = c.refusals;
        LoginToggle toggle(item, m_service);
        int changes = 0;
        QObject::connect(&toggle, &LoginToggle::changed, [&changes] { ++changes; });

        toggle.set(!c.startsOn);
        EXPECT_EQ(item.requests, c.expectedRequests) << c.what;
        EXPECT_EQ(toggle.value(), c.expectedValue) << c.what;
        EXPECT_EQ(m_service.message(), c.expectedMessage) << c.what;
        EXPECT_EQ(changes, 2) << c.what << ": the flip and the flip back";
    }
}

TEST_F(LoginToggleTest, ALoginItemThatContradictsEveryChangeCannotKeepItGoing)
{
    // Refuses everything and then reports the opposite of what it was last asked for.
    class Contrary : public FakeLoginItem {
    public:
        bool enabled() const override { return !lastRequest; }
        Outcome setEnabled(bool on) override
        {
            requests.push_back(on);
            lastRequest = on;
            return {false, u"refused"_s};
        }
        bool lastRequest = false;
    } item;
    LoginToggle toggle(item, m_service);
    ASSERT_TRUE(toggle.value());
    toggle.set(false);
    EXPECT_EQ(item.requests, (std::vector{false, true}));
    EXPECT_EQ(m_service.message(), u"refused"_s);
}
