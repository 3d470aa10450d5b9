#include "menu_content.h"

#include "shell_quote.h"
#include "steps.h"

#include <QCoreApplication>
#include <QHash>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kDetailCharacters = 60;

MenuRow text(QString id, QString label, bool shown = true)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Text, .label = std::move(label), .shown = shown};
}

MenuRow divider(QString id, bool shown = true)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Divider, .shown = shown};
}

MenuRow button(QString id, QString label, bool shown, MenuAction action)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Button, .label = std::move(label), .shown = shown,
            .action = std::move(action)};
}

MenuRow toggle(QString id, QString label, bool checked, MenuAction action)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Toggle, .label = std::move(label), .checked = checked,
            .action = std::move(action)};
}

// Where the first `count` user-perceived characters end, or nothing when the text is not longer, so a
// cut never splits a combined or multi-unit character.
std::optional<qsizetype> cutPosition(const QString& text, qsizetype count)
{
    if (text.size() <= count)
        return std::nullopt;
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype seen = 0; seen < count; ++seen) {
        if (boundaries.toNextBoundary() < 0)
            return std::nullopt;
    }
    return boundaries.position() < text.size() ? std::optional(boundaries.position()) : std::nullopt;
}

// Entries that are equal in all six fields share an identity; the occurrence number keeps such
// duplicates apart as rows.
QString sessionId(const NeedsYou& entry, int occurrence)
{
    QString id = u"needs:"_s + entry.agent + u'\x1f' + entry.where;
    for (const std::optional<QString>* field : {&entry.detail, &entry.session, &entry.window, &entry.run})
        id += field->has_value() ? u'\x1f' + **field : u"\x1e"_s;
    return id + u'#' + QString::number(occurrence);
}

}  // namespace

MenuContent::MenuContent(QString toolPath, QString installBase)
    : m_toolPath(std::move(toolPath)), m_installBase(std::move(installBase))
{
}

QString MenuContent::headline(const Reach& state)
{
    switch (state.kind()) {
    case Reach::Kind::NotSetUp: return u"Kivo isn't set up on this computer"_s;
    case Reach::Kind::Stopped: return u"Kivo is paused: this computer is unreachable"_s;
    case Reach::Kind::Connecting: return u"Kivo is connecting\u2026"_s;
    case Reach::Kind::Online: return u"Reachable from your devices \u00b7 via "_s + state.relays().join(u", "_s);
    }
    return {};
}

QString MenuContent::sessionLabel(const NeedsYou& entry)
{
    if (!entry.detail)
        return tr("%1 · %2").arg(entry.agent, entry.where);
    const std::optional<qsizetype> cut = cutPosition(*entry.detail, kDetailCharacters);
    return tr("%1 · %2 — %3").arg(entry.agent, entry.where, cut ? entry.detail->left(*cut) : *entry.detail);
}

QString MenuContent::shortened(const QString& text, qsizetype count)
{
    const std::optional<qsizetype> cut = cutPosition(text, count);
    return cut ? text.left(*cut) + u'\u2026' : text;
}

std::vector<MenuRow> MenuContent::rows(const TrayState& tray) const
{
    const Reach& state = tray.state;
    std::vector<MenuRow> rows;
    rows.reserve(20 + tray.needsYou.size());

    rows.push_back(text(u"headline"_s, headline(state)));
    QString devices;
    if (tray.agentVersion && state.is(Reach::Kind::Online)) {
        devices = state.clients() == 1 ? tr("1 device connected · Kivo %1").arg(*tray.agentVersion)
                                       : tr("%1 devices connected · Kivo %2")
                                             .arg(QString::number(state.clients()), *tray.agentVersion);
    }
    rows.push_back(text(u"devices"_s, devices, !devices.isEmpty()));
    // A tool may print one enormous line; the menu shows its beginning.
    rows.push_back(text(u"busy"_s, shortened(tray.busy.value_or(QString()), kLineCharacters), tray.busy.has_value()));
    rows.push_back(
        text(u"message"_s, shortened(tray.message.value_or(QString()), kLineCharacters), tray.message.has_value()));

    const bool waiting = !tray.needsYou.empty();
    rows.push_back(divider(u"needs-divider"_s, waiting));
    rows.push_back(text(u"needs-header"_s, tr("Needs you"), waiting));
    QHash<QString, int> occurrences;
    for (const NeedsYou& entry : tray.needsYou) {
        const QString id = sessionId(entry, occurrences[sessionId(entry, 0)]++);
        rows.push_back(button(id, sessionLabel(entry), true, menu_action::OpenSession{entry}));
    }

    rows.push_back(divider(u"actions-divider"_s));
    const bool notSetUp = state.is(Reach::Kind::NotSetUp);
    MenuRow setUp = button(u"set-up"_s, tr("Set up this computer…"), notSetUp, menu_action::SetUp{});
    setUp.enabled = !notSetUp || (!tray.busy && tray.toolExecutable);
    rows.push_back(std::move(setUp));
    rows.push_back(button(u"install"_s, tr("Install Kivo…"), notSetUp && !tray.toolExecutable,
                          menu_action::OpenTerminal{u"sh -c 'curl -fsSL "_s + m_installBase
                                                    + u" | sh; exec $SHELL'"_s}));
    rows.push_back(button(u"resume"_s, tr("Resume Kivo"), state.is(Reach::Kind::Stopped),
                          menu_action::RunSteps{{resumeStep()}}));
    rows.push_back(button(u"pause"_s, tr("Pause Kivo"),
                          state.is(Reach::Kind::Online) || state.is(Reach::Kind::Connecting),
                          menu_action::RunSteps{{pauseStep()}}));

    rows.push_back(button(u"update"_s, tr("Update to Kivo %1").arg(tray.updateAvailable.value_or(QString())),
                          tray.updateAvailable.has_value(), menu_action::RunSteps{{updateStep()}}));
    const std::optional<BarUpdate>& bar = tray.barUpdate;
    rows.push_back(button(u"get-bar"_s, tr("Get Kivo Bar %1…").arg(bar ? bar->version : QString()),
                          bar.has_value(), menu_action::OpenUrl{bar ? bar->url : QUrl()}));

    rows.push_back(button(u"dashboard"_s, tr("Open the dashboard"), true,
                          menu_action::OpenTerminal{shellQuote(m_toolPath)}));
    rows.push_back(button(u"log"_s, tr("Show the log"), true, menu_action::ShowLog{}));
    rows.push_back(toggle(u"notify"_s, tr("Notify me"), tray.notify, menu_action::ToggleNotify{}));
    rows.push_back(toggle(u"at-login"_s, tr("Open at login"), tray.atLogin, menu_action::ToggleAtLogin{}));
    rows.push_back(divider(u"quit-divider"_s));
    MenuRow quit = button(u"quit"_s, tr("Quit Kivo Bar"), true, menu_action::Quit{});
    quit.shortcut = u"Ctrl+Q"_s;
    rows.push_back(std::move(quit));
    return rows;
}
