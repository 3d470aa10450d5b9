#include "status_icon.h"

#include "fake_desktop.h"
#include "fake_platform.h"
#include "service.h"
#include "test_files.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

enum class Agent { Missing, Stopped, Connecting, Online };

// An agent home whose first refresh finds `agent`, with `needsYou` as the waiting-session list
// ("null" for none); a stopped agent keeps its last record.
std::unique_ptr<Service> serviceWith(const QString& home, Agent agent, const QByteArray& needsYou, Desktop& desktop,
                                     HttpClient& http)
{
    if (agent != Agent::Missing) {
        writeFile(home + u"/bin/kivo"_s, "#!/bin/sh\n", 0755);
        writeFile(home + u"/host"_s, "");
    }
    const qint64 pid = agent == Agent::Stopped ? 0 : QCoreApplication::applicationPid();
    writeFile(home + u"/run/status.json"_s,
              "{\"pid\": " + QByteArray::number(pid) + R"(, "name": "n", "version": "1.4.2", "updated_at": ")"
                  + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + "\", \"relays\": "
                  + (agent == Agent::Connecting ? "[]" : R"(["eu-1"])") + ", \"clients\": 1, \"needs_you\": " + needsYou
                  + "}");
    return std::make_unique<Service>(ServiceSetup{.home = home, .desktop = &desktop, .http = &http,
                                                  .releaseBase = QUrl(u"https://releases.test"_s)});
}

}  // namespace

TEST(StatusIcon, AWaitingSessionOutranksReachability)
{
    const QByteArray waiting = R"([{"agent": "coder", "where": "repo-a"}])";
    struct Case { Agent agent; QByteArray needsYou; QStringView expected; };
    const Case cases[] = {
        {Agent::Stopped, waiting, kNeedsYouSymbol},
        {Agent::Online, waiting, kNeedsYouSymbol},
        {Agent::Online, "[]", kOnlineSymbol},
        {Agent::Online, "null", kOnlineSymbol},
        {Agent::Connecting, "null", kOfflineSymbol},
        {Agent::Stopped, "[]", kOfflineSymbol},
        {Agent::Missing, "null", kOfflineSymbol},
    };
    FakeDesktop desktop;
    FakeHttpClient http;
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const std::unique_ptr<Service> service = serviceWith(dir.path(), c.agent, c.needsYou, desktop, http);
        EXPECT_EQ(icon(*service), c.expected) << int(c.agent) << " " << c.needsYou.toStdString();
    }
}

TEST(StatusIcon, UsesTheThemeByNameElseDrawsItsOwnImageInTheGivenColour)
{
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();
    QTemporaryDir themes;
    writeFile(themes.path() + u"/kivotest/index.theme"_s,
              "[Icon Theme]\nName=kivotest\nDirectories=scalable/status\n\n"
              "[scalable/status]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
    QFile source(QStringLiteral(KIVOBAR_ICONS) + u"/kivobar-online-symbolic.svg"_s);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    writeFile(themes.path() + u"/kivotest/scalable/status/kivobar-online-symbolic.svg"_s, source.readAll());
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName(u"kivotest"_s);

    // A name lets the panel pick the size and recolour the image for its background; our own pixels
    // keep the colour they were drawn in.
    const QIcon themed = trayIcon(kOnlineSymbol.toString(), Qt::white);
    EXPECT_EQ(themed.name(), u"kivobar-online-symbolic"_s);
    EXPECT_EQ(themed.pixmap(QSize(22, 22), 1.0).toImage().pixelColor(8, 18), QColor(u"#bebebe"_s));

    const QIcon drawn = trayIcon(kNeedsYouSymbol.toString(), QColor(u"#ff8000"_s));
    EXPECT_TRUE(drawn.name().isEmpty());
    for (const int size : {16, 22, 20, 64}) {
        const QImage image = drawn.pixmap(QSize(size, size), 1.0).toImage();
        ASSERT_EQ(image.size(), QSize(size, size));
        // Inside the bubble, left of the exclamation mark, fully covered; the mark itself is cut out.
        EXPECT_EQ(image.pixelColor(size / 4, size * 3 / 8), QColor(u"#ff8000"_s)) << size;
        EXPECT_LT(image.pixelColor(size / 2, size / 4).alpha(), 32) << size;
    }

    EXPECT_TRUE(trayIcon(u"no.such.symbol"_s, Qt::white).isNull());

    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(themeName);
}
