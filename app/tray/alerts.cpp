#include "tray/alerts.h"

#include "view/menu_content.h"
#include "view/texts.h"

#include <QSet>

#include <utility>

using namespace Qt::StringLiterals;

namespace {

QString cut(const QString& text)
{
    // The menu's own limit for lines from outside: a notification is no place for a whole log either.
    return texts::fromOutside(text, texts::kLineCharacters);
}

std::vector<NeedsYou> without(const std::vector<NeedsYou>& entries, const QSet<NeedsYou>& others)
{
    std::vector<NeedsYou> out;
    QSet<NeedsYou> seen;
    for (const NeedsYou& entry : entries) {
        if (!others.contains(entry) && !seen.contains(entry)) {
            seen.insert(entry);
            out.push_back(entry);
        }
    }
    return out;
}

const QString kOpenKey = u"open"_s;

// The rows of the menu that the state's notification offers as buttons, in this order, where they show.
const QStringList kStatusRows = {u"dashboard"_s, u"set-up"_s, u"resume"_s, u"pause"_s};

bool isSessionRow(const MenuRow& row)
{
    return row.id.startsWith(kSessionRowPrefix);
}

}  // namespace

WaitingNews waitingNews(const std::vector<NeedsYou>& before, const std::vector<NeedsYou>& now)
{
    const QSet<NeedsYou> was(before.begin(), before.end());
    const QSet<NeedsYou> is(now.begin(), now.end());
    return {without(now, was), without(before, is)};
}

Alerts::Alerts(Notifier& notifier, Perform perform) : m_notifier(notifier), m_perform(std::move(perform)) {}

void Alerts::show(const Notification& notification)
{
    if (m_enabled)
        m_notifier.notify(notification, {});
}

void Alerts::onWaiting(const std::vector<NeedsYou>& waiting, bool hasRecord)
{
    // A status file caught half-written, or gone for a moment, must not make every waiting session new again.
    if (!hasRecord)
        return;
    if (!m_waiting) {
        m_waiting = waiting;
        return;
    }
    const WaitingNews news = waitingNews(*m_waiting, waiting);
    m_waiting = waiting;

    for (const NeedsYou& entry : news.left) {
        const auto note = m_sessionNotes.find(entry);
        if (note != m_sessionNotes.end()) {
            m_notifier.close(*note);
            m_sessionNotes.erase(note);
        }
    }
    const QSet<NeedsYou> stillWaiting(waiting.begin(), waiting.end());
    for (auto group = m_groupNotes.begin(); group != m_groupNotes.end();) {
        const bool anyLeft = std::any_of(group->first.begin(), group->first.end(),
                                         [&](const NeedsYou& entry) { return stillWaiting.contains(entry); });
        if (anyLeft) {
            ++group;
        } else {
            m_notifier.close(group->second);
            group = m_groupNotes.erase(group);
        }
    }

    if (!m_enabled || news.arrived.empty())
        return;
    for (size_t i = 0; i < news.arrived.size() && i < kSessionsEach; ++i) {
        const NeedsYou& entry = news.arrived[i];
        // One "Open" button, which a click on the notification also picks.
        const Notification notification{.summary = cut(texts::sessionTitle(entry)),
                                         .body = cut(entry.detail.value_or(QString())),
                                         .actions = {{kOpenKey, tr("Open")}},
                                         .clickAction = kOpenKey};
        const Notifier::Id id = m_notifier.notify(notification, [this, entry](const QString&) {
            m_perform(intent::OpenSession{entry});
        });
        m_sessionNotes.insert(entry, id);
    }
    if (news.arrived.size() > kSessionsEach) {
        const std::vector<NeedsYou> rest(news.arrived.begin() + qsizetype(kSessionsEach), news.arrived.end());
        const Notification notification{.summary = tr("%1 more sessions need you").arg(rest.size()),
                                        .body = tr("They are listed in Kivo Bar's menu.")};
        m_groupNotes.emplace_back(rest, m_notifier.notify(notification, {}));
    }
}

void Alerts::onRunFailed(const Intent& intent, const QString& line)
{
    show({.summary = texts::failureSummary(intent), .body = cut(line)});
}

void Alerts::onTerminalMissing()
{
    show({.summary = tr("No terminal to open"),
          .body = tr("Install a terminal such as GNOME Terminal or xterm, or set TERMINAL to the one you use.")});
}

void Alerts::onTrayMissing(CurrentDesktop desktop)
{
    if (!m_enabled || m_trayNote != 0)
        return;
    m_trayNote = m_notifier.notify({.summary = tr("No system tray is running"),
                                    .body = trayAdvice(desktop) + u' '
                                        + tr("Kivo Bar shows its icon as soon as one starts. Meanwhile, sessions "
                                             "that need you are announced here.")},
                                   {});
}

void Alerts::onTrayShown()
{
    // Once the icon shows, the notice is wrong: it goes, also when the user turned notifications off since.
    if (m_trayNote != 0)
        m_notifier.close(std::exchange(m_trayNote, 0));
}

QString Alerts::trayAdvice(CurrentDesktop desktop)
{
    switch (desktop) {
    case CurrentDesktop::Gnome:
        return tr("GNOME shows tray icons with an extension: install the package "
                  "gnome-shell-extension-appindicator, then enable Ubuntu AppIndicators in Extensions.");
    case CurrentDesktop::Kde:
        return tr("Add the System Tray to a panel: right-click the panel, then Add Widgets.");
    case CurrentDesktop::Xfce:
        return tr("Add the Status Tray plugin to a panel: right-click the panel, then Panel, Add New Items.");
    case CurrentDesktop::Lxqt:
        return tr("Add the Status Notifier plugin to the panel: right-click the panel, then Manage Widgets.");
    case CurrentDesktop::Other:
        break;
    }
    return tr("Start a panel with a system tray that shows StatusNotifier items.");
}

void Alerts::onUnreachable(const QString& why)
{
    show({.summary = tr("Scripts cannot reach Kivo Bar"), .body = cut(why)});
}

void Alerts::showStatus(const TrayState& tray, const std::vector<MenuRow>& rows)
{
    QStringList lines;
    if (const std::optional<QString> devices = texts::devicesLine(tray.state, tray.agentVersion))
        lines += *devices;
    if (!tray.needsYou.empty())
        lines += texts::waitingCount(tray.needsYou.size());
    if (tray.busy)
        lines += cut(*tray.busy);
    if (tray.message)
        lines += cut(*tray.message);

    Notification notification{.summary = texts::headline(tray.state), .body = lines.join(u'\n'),
                              .replaces = m_statusNote};
    std::vector<Intent> performed;
    const auto offer = [&](const MenuRow& row) {
        if (performed.size() >= kStatusActions || !row.shown || !row.enabled)
            return;
        notification.actions.append({QString::number(performed.size()), cut(row.label)});
        performed.push_back(row.intent);
    };
    for (const QString& id : kStatusRows) {
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const MenuRow& r) { return r.id == id; });
        if (row != rows.end())
            offer(*row);
    }
    const auto session = std::find_if(rows.begin(), rows.end(), isSessionRow);
    if (session != rows.end())
        offer(*session);

    // Asked for by the user, so shown whether or not notifications are on.
    m_statusNote = m_notifier.notify(notification, [this, performed](const QString& key) {
        bool isNumber = false;
        const qsizetype index = key.toLongLong(&isNumber);
        if (isNumber && index >= 0 && size_t(index) < performed.size())
            m_perform(performed[size_t(index)]);
    });
}
