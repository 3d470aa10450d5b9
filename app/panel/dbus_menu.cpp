#include "panel/dbus_menu.h"

#include <QLocale>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

// The property names a panel asked for, as a set: a request may name one property any number of times,
// and what it costs to answer must not grow with that. Empty asks for every property.
QSet<QString> wanted(const QStringList& names)
{
    return QSet<QString>(names.begin(), names.end());
}

QVariantMap only(const QVariantMap& properties, const QSet<QString>& names)
{
    if (names.isEmpty())
        return properties;
    QVariantMap chosen;
    for (auto it = properties.begin(); it != properties.end(); ++it) {
        if (names.contains(it.key()))
            chosen.insert(it.key(), it.value());
    }
    return chosen;
}

}  // namespace

DBusMenu::DBusMenu(QStringList iconThemePath, PickHandler onPick, Clock clock, QObject* parent)
    : QObject(parent)
    , m_iconThemePath(std::move(iconThemePath))
    , m_onPick(std::move(onPick))
    , m_clock(clock ? std::move(clock) : Clock(std::chrono::steady_clock::now))
{
}

QString DBusMenu::textDirection() const
{
    return QLocale().textDirection() == Qt::RightToLeft ? u"rtl"_s : u"ltr"_s;
}

QString DBusMenu::status() const
{
    return u"normal"_s;
}

void DBusMenu::show(const std::vector<MenuRow>& rows)
{
    ExportedMenu::Change change = m_menu.update(rows);
    switch (change.kind) {
    case ExportedMenu::Change::Kind::None:
        return;
    case ExportedMenu::Change::Kind::Layout:
        Q_EMIT LayoutUpdated(m_menu.revision(), ExportedMenu::kRootId);
        return;
    case ExportedMenu::Change::Kind::Properties: {
        DBusMenuItemList updated;
        updated.reserve(qsizetype(change.updated.size()));
        for (auto& [id, properties] : change.updated)
            updated.append({id, std::move(properties)});
        DBusMenuItemKeysList removed;
        removed.reserve(qsizetype(change.removed.size()));
        for (auto& [id, names] : change.removed)
            removed.append({id, std::move(names)});
        Q_EMIT ItemsPropertiesUpdated(updated, removed);
        return;
    }
    }
}

void DBusMenu::refuse(const QString& reason) const
{
    // Only a call that came over the bus has anyone to answer.
    if (calledFromDBus())
        sendErrorReply(QDBusError::InvalidArgs, reason);
}

bool DBusMenu::knows(int id) const
{
    return id == ExportedMenu::kRootId || m_menu.find(id);
}

QVariantMap DBusMenu::propertiesOf(int id, const QSet<QString>& names) const
{
    if (id == ExportedMenu::kRootId)
        return only(ExportedMenu::rootProperties(), names);
    const ExportedMenu::Item* item = m_menu.find(id);
    return item ? only(ExportedMenu::properties(item->row), names) : QVariantMap();
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                         DBusMenuLayoutItem& layout)
{
    if (!knows(parentId)) {
        refuse(u"No menu item with id %1"_s.arg(parentId));
        return 0;
    }
    const QSet<QString> names = wanted(propertyNames);
    layout = {parentId, propertiesOf(parentId, names), {}};
    // The menu is flat: only the root has children, however deep a panel asks to look.
    if (parentId == ExportedMenu::kRootId && recursionDepth != 0) {
        layout.children.reserve(qsizetype(m_menu.items().size()));
        for (const ExportedMenu::Item& item : m_menu.items())
            layout.children.append({item.id, only(ExportedMenu::properties(item.row), names), {}});
    }
    return m_menu.revision();
}

DBusMenuItemList DBusMenu::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    const QSet<QString> names = wanted(propertyNames);
    DBusMenuItemList items;
    // No ids asks for every item.
    if (ids.isEmpty()) {
        items.append({ExportedMenu::kRootId, propertiesOf(ExportedMenu::kRootId, names)});
        for (const ExportedMenu::Item& item : m_menu.items())
            items.append({item.id, only(ExportedMenu::properties(item.row), names)});
        return items;
    }
    // Each item at most once, so the answer is never larger than the whole menu, however many times a
    // request names an id: an answer over the bus's limit would cost the tray its connection.
    QSet<int> answered;
    for (const int id : ids) {
        if (knows(id) && !answered.contains(id)) {
            answered.insert(id);
            items.append({id, propertiesOf(id, names)});
        }
    }
    return items;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString& name)
{
    const QVariantMap properties = propertiesOf(id, {{name}});
    if (!knows(id) || !properties.contains(name)) {
        refuse(u"No property %1 on menu item %2"_s.arg(name).arg(id));
        return {};
    }
    return QDBusVariant(properties.value(name));
}

bool DBusMenu::handleEvent(int id, const QString& eventId)
{
    const ExportedMenu::Item* item = id == ExportedMenu::kRootId ? nullptr : m_menu.find(id);
    if (!item) {
        if (id == ExportedMenu::kRootId && eventId == u"opened"_s)
            Q_EMIT opening();
        return id == ExportedMenu::kRootId;
    }
    if (eventId != u"clicked"_s)
        return true;
    const MenuRow& row = item->row;
    // A panel may still show a row that has since been hidden or disabled.
    if (!row.shown || !row.pickable())
        return true;
    // A person picks a row once; a flood of clicks from a careless or hostile peer would start a terminal
    // or a run of steps for each.
    const std::chrono::steady_clock::time_point now = m_clock();
    const auto last = m_lastPicks.constFind(row.id);
    if (last != m_lastPicks.cend() && now - *last < kRepeatedPick)
        return true;
    m_lastPicks.insert(row.id, now);
    // The panel gets its answer first: an action may take a while, or end the app.
    QMetaObject::invokeMethod(this, [this, intent = std::make_shared<const Intent>(row.intent)] {
        if (m_onPick)
            m_onPick(*intent);
    }, Qt::QueuedConnection);
    return true;
}

void DBusMenu::Event(int id, const QString& eventId, const QDBusVariant&, uint)
{
    if (!handleEvent(id, eventId))
        refuse(u"No menu item with id %1"_s.arg(id));
}

QList<int> DBusMenu::EventGroup(const DBusMenuEventList& events)
{
    QList<int> unknown;
    for (const DBusMenuEvent& event : events) {
        if (!handleEvent(event.id, event.eventId))
            unknown.append(event.id);
    }
    if (!events.isEmpty() && unknown.size() == events.size())
        refuse(u"None of the menu items exist"_s);
    return unknown;
}

bool DBusMenu::AboutToShow(int id)
{
    if (id == ExportedMenu::kRootId)
        Q_EMIT opening();
    // The menu is always up to date: there is never anything to fetch before it opens.
    return false;
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    for (const int id : ids) {
        if (!knows(id))
            idErrors.append(id);
    }
    if (ids.contains(ExportedMenu::kRootId))
        Q_EMIT opening();
    return {};
}
