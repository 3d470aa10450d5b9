#include "menu_rows.h"
#include "qt_printers.h"
#include "view/menu_content.h"
#include "view/texts.h"

#include <QLocale>
#include <QSet>
#include <QTranslator>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

// One line per shown row, so a whole menu compares at once: "text:…", "button:…", "(disabled)" and
// "[x]" marks, "---" for dividers, the shortcut in parentheses.
std::vector<QString> shown(const std::vector<MenuRow>& rows)
{
    std::vector<QString> lines;
    for (const MenuRow& row : rows) {
        if (!row.shown)
            continue;
        switch (row.kind) {
        case MenuRow::Kind::Divider: lines.push_back(u"---"_s); continue;
        case MenuRow::Kind::Text: lines.push_back(u"text:"_s + row.label); continue;
        case MenuRow::Kind::Button: lines.push_back(u"button:"_s + row.label); break;
        case MenuRow::Kind::Toggle: lines.push_back((row.checked.value_or(false) ? u"[x] "_s : u"[ ] "_s) + row.label); break;
        }
        if (!row.enabled)
            lines.back() += u" (disabled)"_s;
        if (!row.shortcut.isEmpty())
            lines.back() += u" ("_s + row.shortcut + u')';
    }
    return lines;
}

std::vector<QString> withTail(std::vector<QString> head)
{
    for (const QString& line : {u"button:Open the dashboard"_s, u"button:Show the log"_s, u"[x] Notify me"_s,
                                u"[ ] Open at login"_s, u"---"_s, u"button:Quit Kivo Bar (Ctrl+Q)"_s})
        head.push_back(line);
    return head;
}

const MenuRow& row(const std::vector<MenuRow>& rows, const QString& id)
{
    return rowWithId(rows, id);
}

std::vector<MenuRow> rowsOf(const TrayState& tray)
{
    return MenuContent::rows(tray);
}

TrayState online(qint64 clients, QStringList relays = {u"eu-1"_s})
{
    return {.state = Reach::online(std::move(relays), clients), .agentVersion = u"1.4.2"_s};
}

NeedsYou entry(QString agent, QString where, std::optional<QString> detail = std::nullopt)
{
    return {.agent = std::move(agent), .where = std::move(where), .detail = std::move(detail)};
}

}  // namespace

TEST(MenuContent, ShowsTheRowsOfEachState)
{
    struct Case { const char* what; TrayState tray; std::vector<QString> expected; };
    const Case cases[] = {
        {"tool missing", {.state = Reach::notSetUp()},
         withTail({u"text:Kivo isn't set up on this computer"_s, u"---"_s,
                   u"button:Set up this computer\u2026 (disabled)"_s, u"button:Install Kivo\u2026"_s})},
        {"tool there", {.state = Reach::notSetUp(), .toolInstalled = true},
         withTail({u"text:Kivo isn't set up on this computer"_s, u"---"_s, u"button:Set up this computer\u2026"_s})},
        {"tool there, busy", {.state = Reach::notSetUp(), .busy = u"Starting\u2026"_s, .toolInstalled = true},
         withTail({u"text:Kivo isn't set up on this computer"_s, u"text:Starting\u2026"_s, u"---"_s,
                   u"button:Set up this computer\u2026 (disabled)"_s})},
        {"stopped with a record", {.state = Reach::stopped(), .agentVersion = u"1.4.2"_s},
         withTail({u"text:Kivo is paused: this computer is unreachable"_s, u"---"_s, u"button:Resume Kivo"_s})},
        {"connecting with a record", {.state = Reach::connecting(), .agentVersion = u"1.4.2"_s},
         withTail({u"text:Kivo is connecting\u2026"_s, u"---"_s, u"button:Pause Kivo"_s})},
        {"online, 1 device", online(1),
         withTail({u"text:Reachable from your devices \u00b7 via eu-1"_s, u"text:1 device connected \u00b7 Kivo 1.4.2"_s,
                   u"---"_s, u"button:Pause Kivo"_s})},
        {"online, 0 devices, two relays", online(0, {u"a"_s, u"b"_s}),
         withTail({u"text:Reachable from your devices \u00b7 via a, b"_s,
                   u"text:0 devices connected \u00b7 Kivo 1.4.2"_s, u"---"_s, u"button:Pause Kivo"_s})},
        {"online with no record", {.state = Reach::online({u"eu-1"_s}, 2)},
         withTail({u"text:Reachable from your devices \u00b7 via eu-1"_s, u"---"_s, u"button:Pause Kivo"_s})},
        {"busy and a message, in that order; no second run meanwhile",
         {.state = Reach::online({u"eu-1"_s}, 2), .agentVersion = u"1.4.2"_s, .busy = u"Stopping\u2026"_s,
          .message = u"error: not signed in"_s, .atLogin = true},
         {u"text:Reachable from your devices \u00b7 via eu-1"_s, u"text:2 devices connected \u00b7 Kivo 1.4.2"_s,
          u"text:Stopping\u2026"_s, u"text:error: not signed in"_s, u"---"_s, u"button:Pause Kivo (disabled)"_s,
          u"button:Open the dashboard"_s, u"button:Show the log"_s, u"[x] Notify me"_s, u"[x] Open at login"_s,
          u"---"_s, u"button:Quit Kivo Bar (Ctrl+Q)"_s}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(shown(rowsOf(c.tray)), c.expected) << c.what;
}

TEST(MenuContent, ListsWaitingSessionsWithTheirDetailCut)
{
    // "e" with a combining acute accent: 2 code units, 1 character.
    const QString combined = QString(u"e\u0301"_s).repeated(61);
    TrayState tray{.state = Reach::stopped(), .agentVersion = u"1.4.2"_s};
    tray.needsYou = {entry(u"coder"_s, u"repo-a"_s), entry(u"coder"_s, u"repo-b"_s, u""_s),
                     entry(u"writer"_s, u"docs"_s, QString(61, u'x')), entry(u"writer"_s, u"docs"_s, QString(60, u'y')),
                     entry(u"writer"_s, u"docs"_s, combined), entry(u"coder"_s, u"repo-a"_s)};

    const std::vector<MenuRow> rows = rowsOf(tray);
    const std::vector<QString> expected = {
        u"text:Kivo is paused: this computer is unreachable"_s, u"---"_s, u"text:Needs you"_s,
        u"button:coder \u00b7 repo-a"_s, u"button:coder \u00b7 repo-b \u2014 "_s,
        u"button:writer \u00b7 docs \u2014 "_s + QString(60, u'x'), u"button:writer \u00b7 docs \u2014 "_s + QString(60, u'y'),
        u"button:writer \u00b7 docs \u2014 "_s + QString(u"e\u0301"_s).repeated(60), u"button:coder \u00b7 repo-a"_s,
        u"---"_s, u"button:Resume Kivo"_s};
    const std::vector<QString> lines = shown(rows);
    ASSERT_GE(lines.size(), expected.size());
    EXPECT_EQ(std::vector<QString>(lines.begin(), lines.begin() + qsizetype(expected.size())), expected);

    QSet<QString> ids;
    for (const MenuRow& r : rows)
        ids.insert(r.id);
    EXPECT_EQ(ids.size(), qsizetype(rows.size())) << "equal entries still get rows of their own";
    EXPECT_EQ(rows[6].intent, Intent(intent::OpenSession{tray.needsYou[0]}));
}

TEST(MenuContent, LeavesOutTheSessionSectionWhenNobodyWaits)
{
    const std::vector<QString> lines = shown(rowsOf(online(2)));
    EXPECT_EQ(std::count(lines.begin(), lines.end(), u"---"_s), 2);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), u"text:Needs you"_s), 0);
}

TEST(MenuContent, CutsLongProgressAndFailureLinesOnACharacterBoundary)
{
    // 250 characters of which the 200th and 201st are one combined character each.
    const QString accent = u"a\u0301"_s;
    const QString line = QString(199, u'x') + accent + accent + QString(49, u'z');
    TrayState tray = online(1);
    tray.busy = line;
    tray.message = QString(200, u'm');
    const std::vector<MenuRow> rows = rowsOf(tray);
    EXPECT_EQ(row(rows, u"busy"_s).label, QString(199, u'x') + accent + u'\u2026');
    EXPECT_EQ(row(rows, u"message"_s).label, QString(200, u'm')) << "200 characters are shown whole";
}

TEST(MenuContent, OffersBothUpdatesAgentFirst)
{
    TrayState tray = online(1);
    tray.updateAvailable = u"1.5.0"_s;
    tray.barUpdate = BarUpdate{u"2.0.0"_s, QUrl(u"https://get.kivo.test/bar.tar.gz"_s)};
    const std::vector<MenuRow> rows = rowsOf(tray);
    const std::vector<QString> lines = shown(rows);
    const auto update = std::find(lines.begin(), lines.end(), u"button:Update to Kivo 1.5.0"_s);
    ASSERT_NE(update, lines.end());
    EXPECT_EQ(*(update + 1), u"button:Get Kivo Bar 2.0.0\u2026"_s);
    EXPECT_EQ(*(update + 2), u"button:Open the dashboard"_s);
    EXPECT_EQ(row(rows, u"get-bar"_s).intent, Intent(intent::GetBar{}));
}

TEST(MenuContent, EachRowAsksForWhatItSays)
{
    TrayState tray = online(1);
    tray.updateAvailable = u"1.5.0"_s;
    const std::vector<MenuRow> onlineRows = rowsOf(tray);
    const std::vector<MenuRow> stoppedRows = rowsOf({.state = Reach::stopped()});
    const std::vector<MenuRow> notSetUpRows = rowsOf({.state = Reach::notSetUp()});

    struct Case { const std::vector<MenuRow>& rows; QString id; Intent expected; };
    const Case cases[] = {
        {notSetUpRows, u"set-up"_s, intent::SetUp{}},       {notSetUpRows, u"install"_s, intent::Install{}},
        {stoppedRows, u"resume"_s, intent::Resume{}},       {onlineRows, u"pause"_s, intent::Pause{}},
        {onlineRows, u"update"_s, intent::Update{}},        {onlineRows, u"dashboard"_s, intent::OpenDashboard{}},
        {onlineRows, u"log"_s, intent::ShowLog{}},          {onlineRows, u"notify"_s, intent::ToggleNotify{}},
        {onlineRows, u"at-login"_s, intent::ToggleAtLogin{}}, {onlineRows, u"quit"_s, intent::Quit{}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(row(c.rows, c.id).intent, c.expected) << c.id.toStdString();
}

TEST(MenuContent, SpeaksGermanButLeavesTheAgentsOwnLinesAsTheyAre)
{
    QTranslator german;
    ASSERT_TRUE(german.load(QLocale(QLocale::German), u"kivobar"_s, u"_"_s, u":/i18n"_s));
    QCoreApplication::installTranslator(&german);
    TrayState tray = online(2);
    tray.busy = u"Stopping\u2026"_s;
    tray.needsYou = {entry(u"coder"_s, u"repo-a"_s)};
    const std::vector<QString> lines = shown(rowsOf(tray));
    QCoreApplication::removeTranslator(&german);

    EXPECT_EQ(lines, (std::vector<QString>{
        u"text:Reachable from your devices \u00b7 via eu-1"_s, u"text:2 Ger\u00e4te verbunden \u00b7 Kivo 1.4.2"_s,
        u"text:Stopping\u2026"_s, u"---"_s, u"text:Braucht dich"_s, u"button:coder \u00b7 repo-a"_s, u"---"_s,
        u"button:Kivo pausieren (disabled)"_s, u"button:Dashboard \u00f6ffnen"_s, u"button:Protokoll anzeigen"_s,
        u"[x] Benachrichtigen"_s, u"[ ] Beim Anmelden \u00f6ffnen"_s, u"---"_s, u"button:Kivo Bar beenden (Ctrl+Q)"_s}));
}

// Texts from the agent's files and the release manifests are bounded, keep their differences, and cannot
// turn the direction of what follows them: no row holds a control character or a direction mark.
TEST(MenuContent, BoundsTextsFromOutsideAndKeepsThemFromActingOnTheRow)
{
    const QString huge = QString(200'000, u'a');
    TrayState tray = online(1, {u"eu-\u202E1"_s, huge});
    tray.agentVersion = QString(100'000, u'9');
    tray.message = u"error:\u0000 \u001b[2J"_s + huge;
    tray.updateAvailable = u"99.0.0-\u202Eevil\u202C"_s;
    // One character that carries countless combining marks is one character, but no small text.
    const QString marked = u'a' + QString(100'000, QChar(0x0301));
    tray.needsYou = {entry(huge, huge, huge), entry(u"a\u0000b"_s, u"x"_s), entry(u"a\u0000c"_s, u"x"_s),
                     entry(u"\u202Ecoder"_s, u"repo"_s, u"detail"_s), entry(marked, marked, marked)};
    tray.busy = marked;
    const std::vector<MenuRow> rows = rowsOf(tray);
    const auto actsOnText = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7f && u < 0xa0) || (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
    };
    for (const MenuRow& r : rows) {
        EXPECT_LE(r.label.size(), texts::kUnitsPerCharacter * texts::kLineCharacters + 8) << r.id.toStdString();
        EXPECT_TRUE(std::none_of(r.label.begin(), r.label.end(), actsOnText)) << r.id.toStdString();
    }
    const std::vector<QString> lines = shown(rows);
    const auto has = [&](const QString& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
    EXPECT_TRUE(has(u"button:a\uFFFDb \u00b7 x"_s)) << "a NUL neither cuts a label short";
    EXPECT_TRUE(has(u"button:a\uFFFDc \u00b7 x"_s)) << "nor makes two sessions read alike";
    EXPECT_TRUE(has(u"button:coder \u00b7 repo \u2014 detail"_s)) << "no mark turns our own separators around";
    EXPECT_TRUE(has(u"button:Update to Kivo 99.0.0-evil (disabled)"_s)) << "disabled while a run is under way";
    EXPECT_TRUE(has(u"text:1 device connected \u00b7 Kivo "_s + QString(64, u'9') + u'\u2026'));
    EXPECT_TRUE(has(u"button:"_s + QString(40, u'a') + u"\u2026 \u00b7 "_s + QString(60, u'a') + u"\u2026 \u2014 "_s
                    + QString(60, u'a')));
}
