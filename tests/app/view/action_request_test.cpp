#include "menu_rows.h"
#include "qt_printers.h"
#include "view/action_request.h"
#include "view/menu_content.h"
#include "view/session_id.h"

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
    EXPECT_EQ(actionNames(), (QStringList{u"pause"_s, u"resume"_s, u"set-up"_s, u"update"_s, u"toggle"_s, u"dashboard"_s, u"log"_s,
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

TEST(ActionRequest, ReadsActionWordsOneWayForEveryCaller)
{
    using Kind = ActionWordsProblem::Kind;
    struct Case { QStringList words; std::variant<ActionRequest, ActionWordsProblem> expected; };
    const QString huge(1'000'000, u'x');
    const Case cases[] = {
        {{u"pause"_s}, asked(Action::Pause)},
        {{u"status"_s}, asked(Action::Status)},
        {{u"open-session"_s, u"2"_s}, asked(Action::OpenSession, 2)},
        {{u"open-session"_s, u"007"_s}, asked(Action::OpenSession, 7)},
        {{u"open-session"_s, u"s-0123456789ab"_s}, ActionRequest{.action = Action::OpenSession, .sessionId = u"s-0123456789ab"_s}},
        {{}, ActionWordsProblem{Kind::UnknownAction, u"unknown action ''"_s}},
        {{u"frob"_s}, ActionWordsProblem{Kind::UnknownAction, u"unknown action 'frob'"_s}},
        {{u"pause"_s, u"now"_s}, ActionWordsProblem{Kind::WrongArguments, u"unexpected argument 'now'"_s}},
        {{u"open-session"_s},
         ActionWordsProblem{Kind::WrongArguments,
                            u"open-session needs the session's place in the \"Needs you\" list (1 for the first) or its id"_s}},
        {{u"open-session"_s, u"0"_s},
         ActionWordsProblem{Kind::WrongArguments, u"'0' is neither a place in the \"Needs you\" list (1 is the first session) nor a session's id"_s}},
        {{u"open-session"_s, u"1"_s, u"2"_s}, ActionWordsProblem{Kind::WrongArguments, u"unexpected argument '2'"_s}},
        // A word from outside is quoted short and harmless, whatever its size or its characters.
        {{huge}, ActionWordsProblem{Kind::UnknownAction, u"unknown action '"_s + QString(60, u'x') + u"\u2026'"_s}},
        {{u"a\nb"_s}, ActionWordsProblem{Kind::UnknownAction, u"unknown action 'a\ufffdb'"_s}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseAction(c.words), c.expected) << c.words.join(u' ').left(40).toStdString();
}

TEST(ActionRequest, NamesTheSessionAtAPlaceInTheMenu)
{
    const std::vector<MenuRow> online = MenuContent::rows(waitingState(2));
    EXPECT_EQ(requestedIntent(asked(Action::OpenSession, 2), online), Intent(intent::OpenSession{waitingState(2).needsYou[1]}));
    EXPECT_EQ(requestedIntent(asked(Action::OpenSession, 3), online), std::nullopt);
    EXPECT_EQ(requestedIntent(asked(Action::Pause), MenuContent::rows(waitingState(0, Reach::stopped()))),
              Intent(intent::Pause{})) << "the intent, whether or not the menu offers it now";
    EXPECT_EQ(unmatchedRefusal(asked(Action::OpenSession, 5), online), u"open-session 5 does not apply now: 2 sessions need you"_s);
    EXPECT_EQ(requestWords(asked(Action::OpenSession, 5)), u"open-session 5"_s);

    const TrayState waiting = waitingState(2);
    const QString second = sessionIds(waiting.needsYou)[1];
    const ActionRequest byId{.action = Action::OpenSession, .sessionId = second};
    EXPECT_EQ(requestedIntent(byId, online), Intent(intent::OpenSession{waiting.needsYou[1]}));
    const ActionRequest gone{.action = Action::OpenSession, .sessionId = u"s-000000000000"_s};
    EXPECT_EQ(requestedIntent(gone, online), std::nullopt);
    EXPECT_EQ(unmatchedRefusal(gone, online), u"open-session s-000000000000 does not apply now: no waiting session has that id"_s);
}
