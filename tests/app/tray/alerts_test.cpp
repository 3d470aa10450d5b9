#include "fake_notifier.h"
#include "qt_printers.h"
#include "tray/alerts.h"
#include "view/menu_content.h"
#include "view/texts.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

NeedsYou session(const char* name)
{
    return {.agent = u"coder"_s, .where = QString::fromLatin1(name), .detail = u"check "_s + QLatin1StringView(name)};
}

const NeedsYou a = session("a"), b = session("b"), c = session("c"), d = session("d"), e = session("e");

// What a reading showed and closed, as text: "+a" for a session shown, "+2 more", "-a" for one closed.
std::vector<QString> events(const FakeNotifier& notifier, size_t shownBefore, size_t closedBefore,
                            const std::map<Notifier::Id, QString>& names)
{
    std::vector<QString> out;
    for (size_t i = shownBefore; i < notifier.shown.size(); ++i) {
        const Notification& n = notifier.shown[i].notification;
        out.push_back(n.summary.startsWith(u"coder"_s) ? u"+"_s + n.summary.section(u' ', 2) : u"+"_s + n.summary);
    }
    for (size_t i = closedBefore; i < notifier.closed.size(); ++i)
        out.push_back(u"-"_s + names.at(notifier.closed[i]));
    return out;
}

}  // namespace

TEST(Alerts, NotifiesOfEachSessionThatStartsWaitingAndClosesItWhenItLeaves)
{
    struct Reading { std::vector<NeedsYou> waiting; bool hasRecord; std::vector<QString> expected; };
    const Reading readings[] = {
        {{a}, true, {}},                          // already waiting at start-up
        {{a}, true, {}},                          // the same
        {{a, b}, true, {u"+b"_s}},                // new
        {{b, a}, true, {}},                       // reordered
        {{b, b, a}, true, {}},                    // duplicated
        {{}, false, {}},                          // no record for a moment: says nothing
        {{a}, true, {u"-b"_s}},                   // left
        {{a, b}, true, {u"+b"_s}},                // back later: new again
        {{a, b, c, c, d, e}, true, {u"+c"_s, u"+d"_s, u"+e"_s}},
        {{}, true, {u"-b"_s, u"-c"_s, u"-d"_s, u"-e"_s}},
    };
    FakeNotifier notifier;
    std::vector<Intent> performed;
    Alerts alerts(notifier, [&performed](const Intent& action) { performed.push_back(action); });
    std::map<Notifier::Id, QString> names;
    int step = 0;
    for (const Reading& reading : readings) {
        const size_t shown = notifier.shown.size(), closed = notifier.closed.size();
        alerts.onWaiting(reading.waiting, reading.hasRecord);
        for (size_t i = shown; i < notifier.shown.size(); ++i)
            names[notifier.shown[i].id] = notifier.shown[i].notification.summary.section(u' ', 2);
        EXPECT_EQ(events(notifier, shown, closed, names), reading.expected) << "reading " << step;
        ++step;
    }

    const Notification& first = notifier.shown.front().notification;
    EXPECT_EQ(first.summary, u"coder \u00b7 b"_s);
    EXPECT_EQ(first.body, u"check b"_s);
    EXPECT_EQ(first.actions, (QList<std::pair<QString, QString>>{{u"open"_s, u"Open"_s}})) << "one Open button";
    EXPECT_EQ(first.clickAction, u"open"_s) << "which a click on the notification also picks";
    notifier.shown.clear();
    alerts.onWaiting({a}, true);
    ASSERT_EQ(notifier.shown.size(), 1u);
    notifier.invoke(notifier.shown.back().id, u"open"_s);
    EXPECT_EQ(performed, std::vector<Intent>{intent::OpenSession{a}}) << "as picking the session's row";
}

TEST(Alerts, GroupsWhatComesBeyondThreeAtOnce)
{
    FakeNotifier notifier;
    Alerts alerts(notifier, {});
    alerts.onWaiting({}, true);
    alerts.onWaiting({a, b, c, d, e}, true);
    ASSERT_EQ(notifier.shown.size(), 4u);
    EXPECT_EQ(notifier.shown.back().notification.summary, u"2 more sessions need you"_s);
    alerts.onWaiting({a, b, c, e}, true);
    EXPECT_TRUE(notifier.closed.empty()) << "one of the two is still waiting";
    alerts.onWaiting({a, b, c}, true);
    EXPECT_EQ(notifier.closed, std::vector{notifier.shown.back().id});
}

TEST(Alerts, SaysWhatFailedAndWhatIsMissingUnlessSilenced)
{
    FakeNotifier notifier;
    Alerts alerts(notifier, {});
    alerts.onRunFailed(intent::Pause{}, u"error: <not> signed in & "_s + QString(300, u'x'));
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].notification.summary, u"Kivo could not be paused"_s) << "a failure, not progress";
    EXPECT_EQ(notifier.shown[0].notification.body.size(), 201) << "cut as the menu cuts it";
    alerts.onTerminalMissing();
    alerts.onTrayMissing(CurrentDesktop::Gnome);
    ASSERT_EQ(notifier.shown.size(), 3u);
    EXPECT_EQ(notifier.shown[1].notification.summary, u"No terminal to open"_s);
    EXPECT_EQ(notifier.shown[2].notification.summary, u"No system tray is running"_s);
    alerts.onTrayShown();

    alerts.setEnabled(false);
    alerts.onRunFailed(intent::Resume{}, u"nope"_s);
    alerts.onTerminalMissing();
    alerts.onTrayMissing(CurrentDesktop::Gnome);
    alerts.onWaiting({}, true);
    alerts.onWaiting({a}, true);
    EXPECT_EQ(notifier.shown.size(), 3u);
}

// The notice is for a desktop that has no tray: it names that desktop's way to one, says it once while the
// tray is missing, and goes as soon as a tray shows, whatever the user has turned off since.
TEST(Alerts, SaysOnceThatNoTrayIsRunningInTheDesktopsOwnWordsAndTakesItBackWhenOneShows)
{
    struct Case { CurrentDesktop desktop; const char* names; };
    const Case cases[] = {{CurrentDesktop::Gnome, "gnome-shell-extension-appindicator"},
                          {CurrentDesktop::Kde, "System Tray"},
                          {CurrentDesktop::Xfce, "Status Tray"},
                          {CurrentDesktop::Lxqt, "Status Notifier"},
                          {CurrentDesktop::Other, "StatusNotifier"}};
    for (const Case& c : cases) {
        FakeNotifier notifier;
        Alerts alerts(notifier, {});
        alerts.onTrayShown();
        EXPECT_TRUE(notifier.closed.empty()) << "nothing to take back yet";
        alerts.onTrayMissing(c.desktop);
        alerts.onTrayMissing(c.desktop);
        ASSERT_EQ(notifier.shown.size(), 1u) << c.names << ": once while it is missing";
        const QString body = notifier.shown[0].notification.body;
        EXPECT_TRUE(body.contains(QLatin1StringView(c.names))) << body.toStdString();
        EXPECT_EQ(body.contains(u"gnome"_s, Qt::CaseInsensitive), c.desktop == CurrentDesktop::Gnome) << body.toStdString();

        alerts.setEnabled(false);
        alerts.onTrayShown();
        EXPECT_EQ(notifier.closed, std::vector<Notifier::Id>{notifier.shown[0].id}) << c.names;
        alerts.onTrayShown();
        EXPECT_EQ(notifier.closed.size(), 1u) << "taken back once";
        alerts.setEnabled(true);
        alerts.onTrayMissing(c.desktop);
        EXPECT_EQ(notifier.shown.size(), 2u) << "missing again after a tray showed: said again";
    }
}

TEST(Alerts, NamesAFailureByWhatTheUserAskedFor)
{
    struct Case { Intent intent; QString summary; };
    const Case cases[] = {
        {intent::Pause{}, u"Kivo could not be paused"_s},
        {intent::Resume{}, u"Kivo could not be started"_s},
        {intent::Update{}, u"Kivo could not be updated"_s},
        {intent::SetUp{}, u"This computer could not be set up"_s},
        {intent::ShowLog{}, u"A Kivo action failed"_s},
    };
    for (const Case& c : cases) {
        FakeNotifier notifier;
        Alerts(notifier, {}).onRunFailed(c.intent, u"error"_s);
        ASSERT_EQ(notifier.shown.size(), 1u);
        EXPECT_EQ(notifier.shown[0].notification.summary, c.summary) << c.summary.toStdString();
    }
}

TEST(Alerts, ShowsTheStateWithTheActionsThatFitItInPlaceOfTheLastOne)
{
    struct Case { const char* what; TrayState tray; QString body; QStringList labels; };
    const Case cases[] = {
        {"online, a session waits",
         {.state = Reach::online({u"eu-1"_s}, 2), .agentVersion = u"1.4.2"_s, .needsYou = {a}},
         u"2 devices connected \u00b7 Kivo 1.4.2\n1 session needs you"_s,
         {u"Open the dashboard"_s, u"Pause Kivo"_s, u"coder \u00b7 a \u2014 check a"_s}},
        {"paused, after a failure", {.state = Reach::stopped(), .message = u"error: no"_s}, u"error: no"_s,
         {u"Open the dashboard"_s, u"Resume Kivo"_s}},
        {"not set up, no tool", {.state = Reach::notSetUp()}, u""_s, {u"Open the dashboard"_s}},
    };
    FakeNotifier notifier;
    std::vector<Intent> performed;
    Alerts alerts(notifier, [&performed](const Intent& action) { performed.push_back(action); });
    alerts.setEnabled(false);
    for (const Case& c : cases) {
        const Notifier::Id before = notifier.lastId;
        alerts.showStatus(c.tray, MenuContent::rows(c.tray));
        ASSERT_EQ(notifier.lastId, before + 1) << c.what << ": shown though notifications are off, as asked for";
        const Notification& shown = notifier.shown.back().notification;
        EXPECT_EQ(shown.summary, texts::headline(c.tray.state)) << c.what;
        EXPECT_EQ(shown.body, c.body) << c.what;
        EXPECT_EQ(shown.replaces, before) << c.what << ": in place of the last one";
        QStringList labels;
        for (const auto& [key, label] : shown.actions)
            labels += label;
        EXPECT_EQ(labels, c.labels) << c.what;
    }
    notifier.invoke(notifier.lastId, u"0"_s);
    notifier.invoke(notifier.lastId, u"7"_s);
    EXPECT_EQ(performed, std::vector<Intent>{intent::OpenDashboard{}}) << "as the dashboard row asks, once";
}
