#include "panel/exported_menu.h"

using namespace Qt::StringLiterals;

namespace {

// In dbusmenu labels "_" marks a mnemonic and "__" stands for a literal one; nothing else is special.
QString protocolLabel(const QString& label)
{
    QString text = label;
    return text.replace(u'_', u"__"_s);
}

// Key names as dbusmenu spells them, from a portable key sequence such as "Ctrl+Q".
QStringList shortcutKeys(const QString& shortcut)
{
    QStringList keys;
    for (const QString& part : shortcut.split(u'+', Qt::SkipEmptyParts)) {
        if (part == u"Ctrl"_s)
            keys += u"Control"_s;
        else if (part == u"Meta"_s)
            keys += u"Super"_s;
        else if (part.size() == 1)
            keys += part.toLower();
        else
            keys += part;
    }
    return keys;
}

// Changes from `before` to `after`: new or different values, and names that went back to their default.
std::pair<QVariantMap, QStringList> difference(const QVariantMap& before, const QVariantMap& after)
{
    QVariantMap updated;
    for (auto it = after.begin(); it != after.end(); ++it) {
        if (before.value(it.key()) != it.value())
            updated.insert(it.key(), it.value());
    }
    QStringList removed;
    for (auto it = before.begin(); it != before.end(); ++it) {
        if (!after.contains(it.key()))
            removed += it.key();
    }
    return {updated, removed};
}

}  // namespace

QVariantMap ExportedMenu::properties(const MenuRow& row)
{
    // The protocol lets an exporter leave out a property at its default, but GNOME's and Plasma's menus
    // keep each item's properties and apply only those a new layout names: a row shown again, or enabled
    // again, must say so. So every property a row can change is always sent.
    QVariantMap properties;
    if (row.kind == MenuRow::Kind::Divider) {
        properties.insert(u"type"_s, u"separator"_s);
    } else {
        properties.insert(u"label"_s, protocolLabel(row.label));
        properties.insert(u"enabled"_s, row.pickable());
    }
    properties.insert(u"visible"_s, row.shown);
    if (row.kind == MenuRow::Kind::Toggle) {
        properties.insert(u"toggle-type"_s, u"checkmark"_s);
        properties.insert(u"toggle-state"_s, row.checked.value_or(false) ? 1 : 0);
    }
    if (!row.shortcut.isEmpty())
        properties.insert(u"shortcut"_s, QVariant::fromValue(QList<QStringList>{shortcutKeys(row.shortcut)}));
    return properties;
}

QVariantMap ExportedMenu::rootProperties()
{
    return {{u"children-display"_s, u"submenu"_s}};
}

const ExportedMenu::Item* ExportedMenu::find(int id) const
{
    const auto found = m_positions.constFind(id);
    return found == m_positions.cend() ? nullptr : &m_items[*found];
}

ExportedMenu::Change ExportedMenu::update(const std::vector<MenuRow>& rows)
{
    bool sameLayout = rows.size() == m_items.size();
    for (size_t i = 0; sameLayout && i < rows.size(); ++i)
        sameLayout = rows[i].id == m_items[i].row.id;

    Change change;
    if (sameLayout) {
        for (size_t i = 0; i < rows.size(); ++i) {
            Item& item = m_items[i];
            if (!item.row.looksLike(rows[i])) {
                auto [updated, removed] = difference(properties(item.row), properties(rows[i]));
                if (!updated.isEmpty())
                    change.updated.emplace_back(item.id, std::move(updated));
                if (!removed.isEmpty())
                    change.removed.emplace_back(item.id, std::move(removed));
            }
            // What a row does may change while it looks the same (another address behind the same version).
            item.row = rows[i];
        }
        if (!change.updated.empty() || !change.removed.empty())
            change.kind = Change::Kind::Properties;
        return change;
    }

    // Rows came, went or moved: the panel reads the whole layout again, so one new revision says it all.
    std::vector<Item> items;
    items.reserve(rows.size());
    QHash<QString, int> ids;
    ids.reserve(qsizetype(rows.size()));
    for (const MenuRow& row : rows) {
        int id = m_idsByRow.value(row.id, 0);
        if (id == 0 || ids.contains(row.id))
            id = m_nextId++;
        ids.insert(row.id, id);
        items.push_back({id, row});
    }
    m_items = std::move(items);
    m_idsByRow = std::move(ids);
    m_positions.clear();
    m_positions.reserve(qsizetype(m_items.size()));
    for (size_t i = 0; i < m_items.size(); ++i)
        m_positions.insert(m_items[i].id, i);
    ++m_revision;
    change.kind = Change::Kind::Layout;
    return change;
}
