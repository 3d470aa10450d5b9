#include "view/menu_content.h"

#include "view/session_id.h"
#include "view/texts.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace {

MenuRow text(QString id, QString label, bool shown = true)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Text, .label = std::move(label), .shown = shown};
}

MenuRow divider(QString id, bool shown = true)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Divider, .shown = shown};
}

MenuRow button(QString id, QString label, bool shown, Intent intent)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Button, .label = std::move(label), .shown = shown,
            .intent = std::move(intent)};
}

MenuRow toggle(QString id, QString label, bool checked, Intent intent)
{
    return {.id = std::move(id), .kind = MenuRow::Kind::Toggle, .label = std::move(label), .checked = checked,
            .intent = std::move(intent)};
}

}  // namespace

std::vector<MenuRow> MenuContent::rows(const TrayState& tray)
{
    const Reach& state = tray.state;
    std::vector<MenuRow> rows;
    rows.reserve(20 + tray.needsYou.size());

    rows.push_back(text(u"headline"_s, texts::headline(state)));
    const std::optional<QString> devices = texts::devicesLine(state, tray.agentVersion);
    rows.push_back(text(u"devices"_s, devices.value_or(QString()), devices.has_value()));
    // A tool may print one enormous line; the menu shows its beginning.
    rows.push_back(text(u"busy"_s, texts::fromOutside(tray.busy.value_or(QString()), texts::kLineCharacters),
                        tray.busy.has_value()));
    rows.push_back(text(u"message"_s, texts::fromOutside(tray.message.value_or(QString()), texts::kLineCharacters),
                        tray.message.has_value()));

    const bool waiting = !tray.needsYou.empty();
    rows.push_back(divider(u"needs-divider"_s, waiting));
    rows.push_back(text(u"needs-header"_s, tr("Needs you"), waiting));
    const std::vector<QString> ids = sessionIds(tray.needsYou);
    for (size_t i = 0; i < ids.size(); ++i) {
        const NeedsYou& entry = tray.needsYou[i];
        rows.push_back(button(kSessionRowPrefix + ids[i], texts::sessionLabel(entry), true, intent::OpenSession{entry}));
    }

    rows.push_back(divider(u"actions-divider"_s));
    const bool notSetUp = state.is(Reach::Kind::NotSetUp);
    MenuRow setUp = button(u"set-up"_s, tr("Set up this computer…"), notSetUp, intent::SetUp{});
    setUp.enabled = !notSetUp || (!tray.busy && tray.toolInstalled);
    rows.push_back(std::move(setUp));
    rows.push_back(button(u"install"_s, tr("Install Kivo…"), notSetUp && !tray.toolInstalled, intent::Install{}));
    // One run of the agent tool at a time: while one is under way, the rows that would start another wait.
    const auto run = [&tray](MenuRow row) {
        row.enabled = !tray.busy;
        return row;
    };
    rows.push_back(run(button(u"resume"_s, tr("Resume Kivo"), state.is(Reach::Kind::Stopped), intent::Resume{})));
    rows.push_back(run(button(u"pause"_s, tr("Pause Kivo"),
                              state.is(Reach::Kind::Online) || state.is(Reach::Kind::Connecting), intent::Pause{})));

    rows.push_back(run(button(u"update"_s, tr("Update to Kivo %1").arg(texts::fromOutside(tray.updateAvailable.value_or(QString()), texts::kVersionCharacters)),
                              tray.updateAvailable.has_value(), intent::Update{})));
    const std::optional<BarUpdate>& bar = tray.barUpdate;
    rows.push_back(button(u"get-bar"_s, tr("Get Kivo Bar %1…").arg(texts::fromOutside(bar ? bar->version : QString(), texts::kVersionCharacters)),
                          bar.has_value(), intent::GetBar{}));

    rows.push_back(button(u"dashboard"_s, tr("Open the dashboard"), true, intent::OpenDashboard{}));
    rows.push_back(button(u"log"_s, tr("Show the log"), true, intent::ShowLog{}));
    rows.push_back(toggle(u"notify"_s, tr("Notify me"), tray.notify, intent::ToggleNotify{}));
    rows.push_back(toggle(u"at-login"_s, tr("Open at login"), tray.atLogin, intent::ToggleAtLogin{}));
    rows.push_back(divider(u"quit-divider"_s));
    MenuRow quit = button(u"quit"_s, tr("Quit Kivo Bar"), true, intent::Quit{});
    quit.shortcut = u"Ctrl+Q"_s;
    rows.push_back(std::move(quit));
    return rows;
}
