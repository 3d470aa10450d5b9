#pragma once

#include "panel/dbus_types.h"
#include "panel/exported_menu.h"

#include <QDBusContext>
#include <QObject>

#include <QHash>
#include <QSet>

#include <chrono>
#include <functional>

/// The tray's menu on the session bus, as the `com.canonical.dbusmenu` protocol (version 3) that
/// panels read: the rows it is shown, with one signal to the panel for each change, or none.
class DBusMenu : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    using PickHandler = std::function<void(const Intent&)>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    /// A row picked again within this time is the same pick: no person clicks a menu row that fast.
    static constexpr std::chrono::milliseconds kRepeatedPick{500};

    /// `iconThemePath`: folders holding icon themes, for icons the items name. `onPick` runs with what a
    /// picked row does, after the panel has had its answer; it is no signal, which the bus would try to carry.
    /// `clock` tells the time of a pick; the steady clock when empty.
    DBusMenu(QStringList iconThemePath, PickHandler onPick, Clock clock = {}, QObject* parent = nullptr);

    /// Shows `rows` from now on; main thread.
    void show(const std::vector<MenuRow>& rows);

    /// What the panel is shown now.
    const ExportedMenu& exported() const { return m_menu; }

    uint version() const { return 3; }
    QString textDirection() const;
    QString status() const;
    QStringList iconThemePath() const { return m_iconThemePath; }

public Q_SLOTS:
    Q_SCRIPTABLE uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                DBusMenuLayoutItem& layout);
    Q_SCRIPTABLE DBusMenuItemList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    Q_SCRIPTABLE QDBusVariant GetProperty(int id, const QString& name);
    Q_SCRIPTABLE void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    Q_SCRIPTABLE QList<int> EventGroup(const DBusMenuEventList& events);
    Q_SCRIPTABLE bool AboutToShow(int id);
    Q_SCRIPTABLE QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

Q_SIGNALS:
    Q_SCRIPTABLE void ItemsPropertiesUpdated(const DBusMenuItemList& updatedProps,
                                             const DBusMenuItemKeysList& removedProps);
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);
    Q_SCRIPTABLE void ItemActivationRequested(int id, uint timestamp);

    /// A host is opening the menu (it asked whether the root needs updating, or said it opened). Not on the bus.
    void opening();

private:
    void refuse(const QString& reason) const;
    bool knows(int id) const;
    QVariantMap propertiesOf(int id, const QSet<QString>& names) const;
    // False when there is no such item.
    bool handleEvent(int id, const QString& eventId);

    QStringList m_iconThemePath;
    PickHandler m_onPick;
    Clock m_clock;
    ExportedMenu m_menu;
    QHash<QString, std::chrono::steady_clock::time_point> m_lastPicks;  // by row id
};
