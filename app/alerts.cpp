#include "alerts.h"

#include "menu_content.h"

#include <QCoreApplication>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

// The menu's own limit for lines from outside: a notification is no place for a whole log either.
constexpr qsizetype kTextCharacters = MenuContent::kLineCharacters;

QString cut(const QString& text)
{
    return MenuContent::shortened(text, kTextCharacters);
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

}  // namespace

WaitingNews waitingNews(const std::vector<NeedsYou>& before, const std::vector<NeedsYou>& now)
{
    const QSet<NeedsYou> was(before.begin(), before.end());
    const QSet<NeedsYou> is(now.begin(), now.end());
    return {without(now, was), without(before, is)};
}

Alerts::Alerts(Notifier& notifier, std::function<void(const NeedsYou&)> openSession)
    : m_notifier(notifier), m_openSession(std::move(openSession))
{
}

void Alerts::show(const Notification& notification, Notifier::ActionHandler onAction)
{
    if (m_enabled)
        m_notifier.notify(notification, std::move(onAction));
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
        const Notification notification{
            .summary = cut(tr("%1 · %2").arg(entry.agent, entry.where)),
            .body = cut(entry.detail.value_or(QString())),
            .actions = {{u"default"_s, tr("Open")}, {u"open"_s, tr("Open")}}};
        const Notifier::Id id = m_notifier.notify(notification, [this, entry](const QString&) { m_openSession(entry); });
        m_sessionNotes.insert(entry, id);
    }
    if (news.arrived.size() > kSessionsEach) {
        const std::vector<NeedsYou> rest(news.arrived.begin() + qsizetype(kSessionsEach), news.arrived.end());
        const Notification notification{.summary = tr("%1 more sessions need you").arg(rest.size()),
                                        .body = tr("They are listed in Kivo Bar's menu.")};
        m_groupNotes.emplace_back(rest, m_notifier.notify(notification, {}));
    }
}

void Alerts::onRunFailed(const QString& title, const QString& line)
{
    show({.summary = cut(title), .body = cut(line)});
}

void Alerts::onTerminalMissing()
{
    show({.summary = tr("No terminal to open"),
          .body = tr("Install a terminal such as GNOME Terminal or xterm, or set TERMINAL to the one you use.")});
}

void Alerts::onTrayMissing()
{
    show({.summary = tr("No system tray is running"),
          .body = tr("Kivo Bar shows its icon as soon as one starts. On GNOME, install the package "
                     "gnome-shell-extension-appindicator and enable it. Meanwhile, sessions that need you "
                     "are announced here.")});
}
