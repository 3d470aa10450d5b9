#include "menu_rows.h"
#include "xembed/menu_renderer.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

#include <map>

using namespace Qt::StringLiterals;

namespace {

// A small menu of every kind: text, a hidden text, a divider, buttons (one hidden), a toggle and the quit row.
std::vector<MenuRow> baseRows()
{
    MenuRow busy = textRow(u"busy"_s, QString());
    busy.shown = false;
    MenuRow resume = buttonRow(u"resume"_s, u"Resume Kivo"_s);
    resume.shown = false;
    MenuRow quit = buttonRow(u"quit"_s, u"Quit Kivo Bar"_s);
    quit.shortcut = u"Ctrl+Q"_s;
    return {textRow(u"headline"_s, u"Kivo is connecting\u2026"_s), busy, dividerRow(u"actions-divider"_s),
            resume, buttonRow(u"pause"_s, u"Pause Kivo"_s), buttonRow(u"log"_s, u"Show the log"_s),
            toggleRow(u"at-login"_s, u"Open at login"_s, false), dividerRow(u"quit-divider"_s), quit};
}

std::vector<MenuRow> withWaiting(std::vector<MenuRow> rows, const QStringList& sessions)
{
    std::vector<MenuRow> waiting = {dividerRow(u"needs-divider"_s), textRow(u"needs-header"_s, u"Needs you"_s)};
    for (const QString& session : sessions)
        waiting.push_back(buttonRow(u"needs:"_s + session, session));
    rows.insert(rows.begin() + 2, waiting.begin(), waiting.end());
    return rows;
}

class MenuRendererTest : public testing::Test {
protected:
    // Counts the `changed` signals of every action in the menu from now on.
    void countChanges()
    {
        m_changes.clear();
        for (QAction* action : m_menu.actions()) {
            m_changes[action] = 0;
            QObject::connect(action, &QAction::changed, action, [this, action] { ++m_changes[action]; });
        }
    }

    int changesOutside(const QAction* expected) const
    {
        int changes = 0;
        for (const auto& [action, count] : m_changes)
            changes += action == expected ? 0 : count;
        return changes;
    }

    // The visible text of every action, "---" for a separator, hidden ones left out.
    QStringList shown() const
    {
        QStringList lines;
        for (const QAction* action : m_menu.actions()) {
            if (action->isVisible())
                lines << (action->isSeparator() ? u"---"_s : action->iconText());
        }
        return lines;
    }

    QAction* action(int index) const { return m_menu.actions().value(index); }

    QMenu m_menu;
    std::vector<Intent> m_picked;
    MenuRenderer m_renderer{m_menu, [this](const Intent& action) { m_picked.push_back(action); }};
    std::map<const QAction*, int> m_changes;
};

}  // namespace

TEST_F(MenuRendererTest, ShowsEachKindOfRow)
{
    std::vector<MenuRow> rows = baseRows();
    rowWithId(rows, u"at-login"_s).checked = true;
    m_renderer.render(rows);

    ASSERT_EQ(m_menu.actions().size(), 9);
    EXPECT_EQ(shown(), (QStringList{u"Kivo is connecting\u2026"_s, u"---"_s, u"Pause Kivo"_s, u"Show the log"_s,
                                    u"Open at login"_s, u"---"_s, u"Quit Kivo Bar"_s}));
    EXPECT_FALSE(action(0)->isEnabled()) << "text rows cannot be picked";
    EXPECT_FALSE(action(1)->isVisible());
    EXPECT_TRUE(action(2)->isSeparator());
    EXPECT_FALSE(action(3)->isVisible());
    EXPECT_TRUE(action(4)->isEnabled());
    EXPECT_FALSE(action(4)->isCheckable());
    EXPECT_TRUE(action(6)->isCheckable());
    EXPECT_TRUE(action(6)->isChecked());
    EXPECT_EQ(action(8)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(MenuRendererTest, LeavesRowsThatLookTheSameUntouched)
{
    m_renderer.render(baseRows());
    const QList<QAction*> before = m_menu.actions();
    countChanges();

    std::vector<MenuRow> again = baseRows();
    rowWithId(again, u"pause"_s).intent = intent::Quit{};  // what it does is not how it looks
    m_renderer.render(again);

    EXPECT_EQ(m_menu.actions(), before);
    EXPECT_EQ(changesOutside(nullptr), 0);
}

TEST_F(MenuRendererTest, ChangesOnlyTheActionWhoseRowChanged)
{
    struct Case {
        const char* what;
        QString id;
        std::function<void(MenuRow&)> change;
        std::function<bool(const QAction&)> applied;
    };
    const Case cases[] = {
        {"text", u"headline"_s, [](MenuRow& r) { r.label = u"Kivo is paused: this computer is unreachable"_s; },
         [](const QAction& a) { return a.text() == u"Kivo is paused: this computer is unreachable"_s; }},
        {"shown", u"busy"_s, [](MenuRow& r) { r.shown = true; r.label = u"Stopping\u2026"_s; },
         [](const QAction& a) { return a.isVisible() && a.text() == u"Stopping\u2026"_s; }},
        {"hidden", u"pause"_s, [](MenuRow& r) { r.shown = false; }, [](const QAction& a) { return !a.isVisible(); }},
        {"shown disabled", u"resume"_s, [](MenuRow& r) { r.shown = true; r.enabled = false; },
         [](const QAction& a) { return a.isVisible() && !a.isEnabled(); }},
        {"disabled", u"log"_s, [](MenuRow& r) { r.enabled = false; }, [](const QAction& a) { return !a.isEnabled(); }},
        {"checked", u"at-login"_s, [](MenuRow& r) { r.checked = true; }, [](const QAction& a) { return a.isChecked(); }},
        {"shortcut", u"quit"_s, [](MenuRow& r) { r.shortcut.clear(); },
         [](const QAction& a) { return a.shortcut().isEmpty(); }},
    };
    for (const Case& c : cases) {
        QMenu menu;
        MenuRenderer renderer(menu, {});
        renderer.render(baseRows());
        const QList<QAction*> before = menu.actions();
        std::map<const QAction*, int> changes;
        for (QAction* a : before)
            QObject::connect(a, &QAction::changed, a, [&changes, a] { ++changes[a]; });

        std::vector<MenuRow> rows = baseRows();
        const auto index = std::find_if(rows.begin(), rows.end(), [&c](const MenuRow& r) { return r.id == c.id; })
            - rows.begin();
        c.change(rows[size_t(index)]);
        renderer.render(rows);

        EXPECT_EQ(menu.actions(), before) << c.what;
        EXPECT_TRUE(c.applied(*menu.actions().at(index))) << c.what;
        EXPECT_GE(changes[before.at(index)], 1) << c.what;
        EXPECT_EQ(changes.size(), 1u) << c.what << ": other actions changed too";
    }
}

TEST_F(MenuRendererTest, InsertsAndRemovesWaitingSessionsInPlace)
{
    m_renderer.render(baseRows());
    const QList<QAction*> base = m_menu.actions();
    countChanges();

    m_renderer.render(withWaiting(baseRows(), {u"coder \u00b7 repo-a"_s, u"writer \u00b7 docs"_s}));
    EXPECT_EQ(shown(), (QStringList{u"Kivo is connecting\u2026"_s, u"---"_s, u"Needs you"_s, u"coder \u00b7 repo-a"_s,
                                    u"writer \u00b7 docs"_s, u"---"_s, u"Pause Kivo"_s, u"Show the log"_s,
                                    u"Open at login"_s, u"---"_s, u"Quit Kivo Bar"_s}));
    QList<QAction*> kept = m_menu.actions();
    kept.remove(2, 4);
    EXPECT_EQ(kept, base) << "the other rows keep their actions and places";
    QAction* writer = action(5);
    ASSERT_EQ(writer->text(), u"writer \u00b7 docs"_s);

    // One session ends, a new one comes first.
    m_renderer.render(withWaiting(baseRows(), {u"tester \u00b7 ci"_s, u"writer \u00b7 docs"_s}));
    EXPECT_EQ(shown(), (QStringList{u"Kivo is connecting\u2026"_s, u"---"_s, u"Needs you"_s, u"tester \u00b7 ci"_s,
                                    u"writer \u00b7 docs"_s, u"---"_s, u"Pause Kivo"_s, u"Show the log"_s,
                                    u"Open at login"_s, u"---"_s, u"Quit Kivo Bar"_s}));
    EXPECT_EQ(action(5), writer);

    m_renderer.render(baseRows());
    EXPECT_EQ(m_menu.actions(), base);
    EXPECT_EQ(changesOutside(nullptr), 0) << "rows that stayed were not touched";
}

TEST_F(MenuRendererTest, PickingHandsOnWhatTheRowShownLastDoes)
{
    std::vector<MenuRow> rows = baseRows();
    const NeedsYou first{.agent = u"coder"_s, .where = u"repo"_s, .run = u"r-1"_s};
    NeedsYou second = first;
    second.run = u"r-2"_s;
    rowWithId(rows, u"pause"_s).intent = intent::OpenSession{first};
    m_renderer.render(rows);
    QAction* pause = action(4);

    rowWithId(rows, u"pause"_s).intent = intent::OpenSession{second};
    m_renderer.render(rows);
    pause->trigger();
    action(0)->trigger();  // a text row does nothing

    EXPECT_EQ(m_picked, std::vector<Intent>{intent::OpenSession{second}});
}

TEST_F(MenuRendererTest, PutsTheCheckMarkBackWhenTheModelRefusedAPick)
{
    // The login item refuses: the model stays off.
    std::vector<MenuRow> rows = baseRows();
    m_renderer.render(rows);
    QAction* toggleAction = action(6);

    toggleAction->trigger();
    ASSERT_TRUE(toggleAction->isChecked()) << "Qt flips a checkable action by itself";
    m_renderer.render(rows);  // the same rows: the toggle is still off

    EXPECT_FALSE(toggleAction->isChecked());
}

TEST(MenuRendererLabels, ShowAmpersandsAndUnderscoresAsWritten)
{
    QMenu menu;
    MenuRenderer renderer(menu, {});
    renderer.render({textRow(u"headline"_s, u"via R&D, &&x_1"_s)});
    EXPECT_EQ(menu.actions().at(0)->text(), u"via R&&D, &&&&x_1"_s);
    EXPECT_EQ(menu.actions().at(0)->iconText(), u"via R&D, &&x_1"_s) << "Qt's own reading of the text";
}
