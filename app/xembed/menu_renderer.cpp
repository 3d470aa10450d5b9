#include "xembed/menu_renderer.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {

// Labels come from the model and from the agent's files, and are shown as written; but the text of a
// QAction is read for mnemonics, and Qt draws "&&" as "&".
QString actionText(const QString& label)
{
    QString text = label;
    return text.replace(u'&', u"&&"_s);
}

}  // namespace

MenuRenderer::MenuRenderer(QMenu& menu, PickHandler onPick) : m_menu(menu), m_onPick(std::move(onPick)) {}

MenuRenderer::~MenuRenderer()
{
    // The actions call back into this renderer when picked.
    for (const Entry& entry : std::as_const(m_entries))
        delete entry.action;
}

void MenuRenderer::render(const std::vector<MenuRow>& rows)
{
    // Rows that are gone (a waiting session that ended) lose their actions first, so that the
    // positions below count only what stays.
    QSet<QString> wanted;
    wanted.reserve(qsizetype(rows.size()));
    for (const MenuRow& row : rows)
        wanted.insert(row.id);
    for (auto entry = m_entries.begin(); entry != m_entries.end();) {
        if (wanted.contains(entry.key())) {
            ++entry;
            continue;
        }
        delete entry->action;  // also takes it out of the menu
        entry = m_entries.erase(entry);
    }

    QList<QAction*> current = m_menu.actions();
    for (qsizetype position = 0; position < qsizetype(rows.size()); ++position) {
        const MenuRow& row = rows[size_t(position)];
        Entry& entry = m_entries[row.id];
        if (!entry.action) {
            entry.action = create(row);
            m_menu.insertAction(current.value(position), entry.action);
            current.insert(position, entry.action);
        } else {
            if (current.value(position) != entry.action) {
                // A row that moved (waiting sessions listed in a new order) is taken out and put back.
                current.removeOne(entry.action);
                m_menu.insertAction(current.value(position), entry.action);
                current.insert(position, entry.action);
            }
            if (!entry.row.looksLike(row))
                apply(*entry.action, row);
        }
        entry.row = row;
    }
}

// Each setter is called only when the value differs: a QAction emits `changed` for every call that
// alters it, and the tray's D-Bus menu forwards each one to the panel.
void MenuRenderer::apply(QAction& action, const MenuRow& row) const
{
    const bool divider = row.kind == MenuRow::Kind::Divider;
    if (action.isSeparator() != divider)
        action.setSeparator(divider);
    const QString text = divider ? QString() : actionText(row.label);
    if (action.text() != text)
        action.setText(text);
    const bool enabled = row.pickable();
    const bool checkable = row.kind == MenuRow::Kind::Toggle;
    if (action.isCheckable() != checkable)
        action.setCheckable(checkable);
    const bool checked = checkable && row.checked.value_or(false);
    if (action.isChecked() != checked)
        action.setChecked(checked);
    const QKeySequence shortcut = QKeySequence::fromString(row.shortcut, QKeySequence::PortableText);
    if (action.shortcut() != shortcut)
        action.setShortcut(shortcut);
    // A hidden action reports itself disabled whatever it was told, and takes what it was told when it
    // shows: so it is told before it shows, and a row that appears disabled never flashes enabled.
    if (!action.isVisible() || action.isEnabled() != enabled)
        action.setEnabled(enabled);
    if (action.isVisible() != row.shown)
        action.setVisible(row.shown);
}

QAction* MenuRenderer::create(const MenuRow& row)
{
    auto* action = new QAction(&m_menu);
    apply(*action, row);
    QObject::connect(action, &QAction::triggered, &m_menu, [this, id = row.id] { trigger(id); });
    return action;
}

void MenuRenderer::trigger(const QString& id)
{
    const auto found = m_entries.find(id);
    if (found == m_entries.end())
        return;
    // Qt has already flipped a checkable action. Remember what it shows now, so that the next render
    // compares with that and puts the check mark back when the model did not follow the pick.
    if (found->action->isCheckable())
        found->row.checked = found->action->isChecked();
    // A copy: what it asks for may make the model change, and a render in the middle must not destroy it
    // while it is handed on.
    const MenuRow row = found->row;
    if (m_onPick && row.shown && row.pickable())
        m_onPick(row.intent);
}
