#include "menu_content.h"

#include "login_toggle.h"
#include "service.h"
#include "shell_quote.h"

#include <QCoreApplication>
#include <QTextBoundaryFinder>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype kDetailCharacters = 60;

QString tr(const char* text)
{
    return QCoreApplication::translate("MenuContent", text);
}

MenuRow text(QString id, QString label, bool shown = true)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Text, .label = std::move(label), .shown = shown};
}

MenuRow divider(QString id, bool shown = true)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Divider, .shown = shown};
}

MenuRow button(QString id, QString label, bool shown, std::function<void()> action)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Button, .label = std::move(label), .shown = shown,
            .action = std::move(action)};
}

// The first `count` user-perceived characters, so a cut never splits a combined or multi-unit character.
QString leadingCharacters(const QString& text, qsizetype count)
{
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    qsizetype seen = 0;
    while (seen < count && boundaries.toNextBoundary() >= 0)
        ++seen;
    return seen < count ? text : text.left(boundaries.position());
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

MenuContent::MenuContent(Service& service, LoginToggle& atLogin, Platform platform)
    : m_service(service), m_atLogin(atLogin), m_platform(std::move(platform))
{
}

QString MenuContent::headline() const
{
    const Reach& state = m_service.state();
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
        return tr("%1 \u00b7 %2").arg(entry.agent, entry.where);
    return tr("%1 \u00b7 %2 \u2014 %3").arg(entry.agent, entry.where, leadingCharacters(*entry.detail, kDetailCharacters));
}

std::vector<MenuRow> MenuContent::rows() const
{
    Service& service = m_service;
    const Reach& state = service.state();
    const std::optional<Status>& status = service.status();
    std::vector<MenuRow> rows;

    rows.push_back(text(u"headline"_s, headline()));
    QString devices;
    if (status && state.is(Reach::Kind::Online)) {
        devices = state.clients() == 1 ? tr("1 device connected \u00b7 Kivo %1").arg(status->version)
                                       : tr("%1 devices connected \u00b7 Kivo %2")
                                             .arg(QString::number(state.clients()), status->version);
    }
    rows.push_back(text(u"devices"_s, devices, !devices.isEmpty()));
    rows.push_back(text(u"busy"_s, service.busy().value_or(QString()), service.busy().has_value()));
    rows.push_back(text(u"message"_s, service.message().value_or(QString()), service.message().has_value()));

    static const std::vector<NeedsYou> kNone;
    const std::vector<NeedsYou>& waiting = status && status->needsYou ? *status->needsYou : kNone;
    rows.push_back(divider(u"needs-divider"_s, !waiting.empty()));
    rows.push_back(text(u"needs-header"_s, tr("Needs you"), !waiting.empty()));
    QHash<QString, int> occurrences;
    for (const NeedsYou& entry : waiting) {
        const QString id = sessionId(entry, occurrences[sessionId(entry, 0)]++);
        rows.push_back(button(id, sessionLabel(entry), true, [&service, entry] { service.open(entry); }));
    }

    rows.push_back(divider(u"actions-divider"_s));
    const bool notSetUp = state.is(Reach::Kind::NotSetUp);
    const QString tool = service.toolPath();
    // The tool is looked at afresh on every computation, and only while it matters.
    MenuRow setUp = button(u"set-up"_s, tr("Set up this computer\u2026"), notSetUp, [&service] { service.setUp(); });
    setUp.enabled = !notSetUp || (!service.busy() && m_platform.isExecutable(tool));
    rows.push_back(std::move(setUp));
    const QString install = u"sh -c 'curl -fsSL "_s + m_platform.installBase + u" | sh; exec $SHELL'"_s;
    rows.push_back(button(u"install"_s, tr("Install Kivo\u2026"), notSetUp && !m_platform.isExecutable(tool),
                          [&service, install] { service.openTerminal(install); }));
    rows.push_back(button(u"resume"_s, tr("Resume Kivo"), state.is(Reach::Kind::Stopped),
                          [&service] { service.runSteps({{u"Starting\u2026"_s, {u"up"_s}}}); }));
    rows.push_back(button(u"pause"_s, tr("Pause Kivo"),
                          state.is(Reach::Kind::Online) || state.is(Reach::Kind::Connecting),
                          [&service] { service.runSteps({{u"Stopping\u2026"_s, {u"down"_s}}}); }));

    const std::optional<QString> update = service.updateAvailable();
    rows.push_back(button(u"update"_s, tr("Update to Kivo %1").arg(update.value_or(QString())), update.has_value(),
                          [&service] { service.runSteps({{u"Updating\u2026"_s, {u"update"_s}}}); }));
    const std::optional<BarUpdate>& bar = service.barUpdate();
    const QUrl barUrl = bar ? bar->url : QUrl();
    rows.push_back(button(u"get-bar"_s, tr("Get Kivo Bar %1\u2026").arg(bar ? bar->version : QString()),
                          bar.has_value(), [openUrl = m_platform.openUrl, barUrl] { openUrl(barUrl); }));

    rows.push_back(button(u"dashboard"_s, tr("Open the dashboard"), true,
                          [&service, command = shellQuote(tool)] { service.openTerminal(command); }));
    rows.push_back(button(u"log"_s, tr("Show the log"), true, [&service] { service.showLog(); }));
    LoginToggle& atLogin = m_atLogin;
    rows.push_back({.id = u"at-login"_s, .kind = MenuRow::Kind::Toggle, .label = tr("Open at login"),
                    .checked = atLogin.value(), .action = [&atLogin] { atLogin.set(!atLogin.value()); }});
    rows.push_back(divider(u"quit-divider"_s));
    MenuRow quit = button(u"quit"_s, tr("Quit Kivo Bar"), true, m_platform.quit);
    quit.shortcut = u"Ctrl+Q"_s;
    rows.push_back(std::move(quit));
    return rows;
}
