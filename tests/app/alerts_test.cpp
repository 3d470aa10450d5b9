#include "alerts.h"

#include "fake_notifier.h"
#include "qt_printers.h"

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
    std::vector<NeedsYou> opened;
    Alerts alerts(notifier, [&opened](const NeedsYou& entry) { opened.push_back(entry); });
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

    const FakeNotifier::Shown& first = notifier.shown.front();
    EXPECT_EQ(first.notification.summary, u"coder \u00b7 b"_s);
    EXPECT_EQ(first.notification.body, u"check b"_s);
    notifier.shown.clear();
    alerts.onWaiting({a}, true);
    ASSERT_EQ(notifier.shown.size(), 1u);
    notifier.invoke(notifier.shown.back().id, u"default"_s);
    EXPECT_EQ(opened, std::vector{a}) << "a click does what the session's row does";
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
    alerts.onRunFailed(u"Stopping\u2026"_s, u"error: <not> signed in & "_s + QString(300, u'x'));
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].notification.summary, u"Stopping\u2026"_s);
    EXPECT_EQ(notifier.shown[0].notification.body.size(), 201) << "cut as the menu cuts it";
    alerts.onTerminalMissing();
    alerts.onTrayMissing();
    ASSERT_EQ(notifier.shown.size(), 3u);
    EXPECT_EQ(notifier.shown[1].notification.summary, u"No terminal to open"_s);
    EXPECT_TRUE(notifier.shown[2].notification.body.contains(u"gnome-shell-extension-appindicator"_s));

    alerts.setEnabled(false);
    alerts.onRunFailed(u"Starting\u2026"_s, u"nope"_s);
    alerts.onTerminalMissing();
    alerts.onTrayMissing();
    alerts.onWaiting({}, true);
    alerts.onWaiting({a}, true);
    EXPECT_EQ(notifier.shown.size(), 3u);
}
