#include "menu_rows.h"
#include "qt_printers.h"
#include "view/action_request.h"
#include "view/menu_content.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

using Action = ActionRequest::Action;

ActionRequest asked(Action action, qint64 session = 0)
{
    return {.action = action, .session = session};
}

}  // namespace

TEST(ActionRequest, NamesEachActionAsTheCommandLineSpellsIt)
{
    for (const QString& name : actionNames()) {
        const std::optional<Action> action = actionNamed(name);
        ASSERT_TRUE(action) << name.toStdString();
        EXPECT_EQ(actionName(*action), name);
    }
    EXPECT_EQ(actionNames(), (QStringList{u"pause"_s, u"resume"_s, u"set-up"_s, u"update"_s, u"dashboard"_s, u"log"_s,
                                          u"open-session"_s, u"status"_s, u"quit"_s}));
    for (const QString& name : {u"Pause"_s, u"setup"_s, u""_s, u"pause "_s})
        EXPECT_FALSE(actionNamed(name)) << name.toStdString();
}

TEST(ActionRequest, ReadsAPlaceInTheListAsAPersonWritesIt)
{
    struct Case { QString text; std::optional<qint64> expected; };
    const Case cases[] = {
        {u"1"_s, 1}, {u"12"_s, 12}, {u"007"_s, 7}, {u"0"_s, std::nullopt}, {u"-1"_s, std::nullopt},
        {u"+1"_s, std::nullopt}, {u" 1"_s, std::nullopt}, {u"1.0"_s, std::nullopt}, {u""_s, std::nullopt},
        {u"\u0661"_s, std::nullopt},  // an Arabic-Indic one is a digit to Qt, not to a script
        {u"99999999999999999999"_s, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sessionPlace(c.text), c.expected) << c.text.toStdString();
}

TEST(ActionRequest, AppliesExactlyWhenTheMenuOffersItNow)
{
    TrayState online = waitingState(2);
    online.updateAvailable = u"1.5.0"_s;
    const TrayState stopped = waitingState(0, Reach::stopped());
    const TrayState notSetUp{.state = Reach::notSetUp(), .toolInstalled = true};
    TrayState settingUp = notSetUp;
    settingUp.busy = u"Starting\u2026"_s;

    struct Case { const char* what; const TrayState& tray; ActionRequest request; std::optional<Intent> expected; };
    const Case cases[] = {
        {"pause while online", online, asked(Action::Pause), intent::Pause{}},
        {"pause while paused", stopped, asked(Action::Pause), std::nullopt},
        {"resume while paused", stopped, asked(Action::Resume), intent::Resume{}},
        {"resume while online", online, asked(Action::Resume), std::nullopt},
        {"update with one", online, asked(Action::Update), intent::Update{}},
        {"update with none", stopped, asked(Action::Update), std::nullopt},
        {"set up", notSetUp, asked(Action::SetUp), intent::SetUp{}},
        {"set up while busy: the row shows, disabled", settingUp, asked(Action::SetUp), std::nullopt},
        {"set up once set up", online, asked(Action::SetUp), std::nullopt},
        {"dashboard", stopped, asked(Action::Dashboard), intent::OpenDashboard{}},
        {"log", notSetUp, asked(Action::Log), intent::ShowLog{}},
        {"quit", stopped, asked(Action::Quit), intent::Quit{}},
        {"status, which no row carries", notSetUp, asked(Action::Status), intent::ShowStatus{}},
        {"the first session", online, asked(Action::OpenSession, 1), intent::OpenSession{online.needsYou[0]}},
        {"the last session", online, asked(Action::OpenSession, 2), intent::OpenSession{online.needsYou[1]}},
        {"beyond the list", online, asked(Action::OpenSession, 3), std::nullopt},
        {"with nobody waiting", stopped, asked(Action::OpenSession, 1), std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(intentFor(c.request, MenuContent::rows(c.tray)), c.expected) << c.what;
}

TEST(ActionRequest, SaysWhyItDoesNotApply)
{
    const std::vector<MenuRow> stopped = MenuContent::rows(waitingState(0, Reach::stopped()));
    EXPECT_EQ(refusal(asked(Action::Pause), stopped),
              u"pause does not apply now (Kivo is paused: this computer is unreachable)"_s);
    EXPECT_EQ(refusal(asked(Action::OpenSession, 5), MenuContent::rows(waitingState(2))),
              u"open-session 5 does not apply now: 2 sessions need you"_s);
    TrayState settingUp{.state = Reach::notSetUp(), .busy = u"Starting\u2026"_s, .toolInstalled = true};
    EXPECT_EQ(refusal(asked(Action::SetUp), MenuContent::rows(settingUp)),
              u"set-up does not apply now (Kivo isn't set up on this computer \u00b7 Starting\u2026)"_s);
}
