#include "qt_printers.h"
#include "view/tray_look.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const NeedsYou kWaiting{.agent = u"coder"_s, .where = u"repo-a"_s};

}  // namespace

TEST(TrayLook, AWaitingSessionOutranksReachability)
{
    struct Case { const char* what; TrayState tray; QStringView symbol; };
    const Case cases[] = {
        {"stopped, one waiting", {.state = Reach::stopped(), .needsYou = {kWaiting}}, kNeedsYouSymbol},
        {"not set up, one waiting", {.state = Reach::notSetUp(), .needsYou = {kWaiting}}, kNeedsYouSymbol},
        {"online, one waiting", {.state = Reach::online({u"eu-1"_s}, 1), .needsYou = {kWaiting}}, kNeedsYouSymbol},
        {"online, none waiting", {.state = Reach::online({u"eu-1"_s}, 1)}, kOnlineSymbol},
        {"connecting", {.state = Reach::connecting()}, kOfflineSymbol},
        {"stopped", {.state = Reach::stopped()}, kOfflineSymbol},
        {"not set up", {.state = Reach::notSetUp()}, kOfflineSymbol},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(icon(c.tray), c.symbol.toString()) << c.what;
        const TrayLook look = trayLook(c.tray);
        EXPECT_EQ(look.iconName, themeIconName(c.symbol)) << c.what;
        EXPECT_EQ(look.needsAttention, c.symbol == kNeedsYouSymbol) << c.what;
    }
    for (const QStringView symbol : {kNeedsYouSymbol, kOnlineSymbol, kOfflineSymbol}) {
        const QString name = themeIconName(symbol);
        EXPECT_TRUE(QFile::exists(QStringLiteral(KIVOBAR_ICON_SOURCES "/") + name + u".svg"_s))
            << symbol.toString().toStdString() << " is drawn: " << name.toStdString();
    }
}

TEST(TrayLook, ToolTipSaysHowManyWaitAndTheFailureWithTheAgentsTextEscaped)
{
    TrayState tray{.state = Reach::online({u"<eu&1>"_s}, 1)};
    EXPECT_EQ(trayLook(tray).toolTipTitle, u"Reachable from your devices \u00b7 via &lt;eu&amp;1&gt;"_s);
    EXPECT_EQ(trayLook(tray).toolTipText, u""_s);

    tray.needsYou = {kWaiting};
    EXPECT_EQ(trayLook(tray).toolTipText, u"1 session needs you"_s);
    tray.needsYou = {kWaiting, kWaiting, kWaiting};
    const QString longFailure = u"error: <b>&"_s + QString(300, u'x');
    tray.message = longFailure;
    EXPECT_EQ(trayLook(tray).toolTipText, u"3 sessions need you\nerror: &lt;b&gt;&amp;"_s + QString(300, u'x'))
        << "the failure line is whole in the tooltip";
}

TEST(TrayLook, BoundsTheToolTipWhateverTheFailureLine)
{
    const TrayState tray{.state = Reach::stopped(), .message = QString(182'045, u'x') + u"\u202E"_s};
    const TrayLook look = trayLook(tray);
    EXPECT_EQ(look.toolTipText, QString(1000, u'x') + u'\u2026');
}
